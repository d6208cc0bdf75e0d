#include "device/offline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>

#include "device/errors.h"
#include "device/scheduler.h"
#include "device/song_file.h"
#include "device/synth.h"

namespace lirno::device {
namespace {

constexpr std::size_t kChunkFrames = 4096;

using Sink = std::function<bool(const float* left, const float* right, std::size_t frames)>;

int renderSong(std::shared_ptr<const Song> song, std::uint32_t fromUnits,
               const RenderOptions& options, const Sink& sink, const RenderProgress& progress) {
    if (fromUnits > song->lengthUnits()) return kErrOutOfRange;
    int error = 0;
    // A fresh synthesizer each time: nothing left over from an earlier render
    // (reverb lines, channel state) can change the result.
    const auto synth =
        createSynth(options.soundFont.empty() ? findSoundFont() : options.soundFont, error);
    if (!synth) return error;
    const auto plan = makePlan(std::move(song), fromUnits);
    Scheduler scheduler(synth->synth.get());
    scheduler.setPrerollPerBlock(SIZE_MAX);  // no sound card to keep up with
    scheduler.start(*plan);

    const auto tail = static_cast<std::uint64_t>(std::max(0.0, options.tailSeconds) * kSampleRate);
    const std::uint64_t total =
        std::max<std::uint64_t>(plan->endFrame - std::min(plan->endFrame, plan->startFrame) + tail, 1);
    std::array<float, kChunkFrames> left{};
    std::array<float, kChunkFrames> right{};
    std::uint64_t done = 0;
    std::uint64_t lastReport = 0;
    // Exactly the song from the start point plus the tail; the scheduler has
    // sent the last event by then (it ends within half a block of the end).
    while (done < total || scheduler.playing()) {
        const auto n = static_cast<std::size_t>(
            std::clamp<std::uint64_t>(total - std::min(done, total), kBlockFrames, kChunkFrames));
        scheduler.render(left.data(), right.data(), n);
        done += n;
        if (!sink(left.data(), right.data(), n)) return kErrWavWrite;
        if (progress && done - lastReport >= kSampleRate) {
            progress(std::min(1.0, static_cast<double>(done) / static_cast<double>(total)));
            lastReport = done;
        }
    }
    if (progress) progress(1.0);
    return 0;
}

void put16(std::ofstream& f, std::uint16_t v) {
    const std::array<char, 2> b{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    f.write(b.data(), 2);
}
void put32(std::ofstream& f, std::uint32_t v) {
    put16(f, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(f, static_cast<std::uint16_t>(v >> 16));
}

void writeWavHeader(std::ofstream& f, std::uint32_t dataBytes) {
    f.write("RIFF", 4);
    put32(f, 36 + dataBytes);
    f.write("WAVEfmt ", 8);
    put32(f, 16);
    put16(f, 1);  // PCM
    put16(f, 2);
    put32(f, kSampleRate);
    put32(f, kSampleRate * 4);
    put16(f, 4);
    put16(f, 16);
    f.write("data", 4);
    put32(f, dataBytes);
}

std::int16_t toPcm(float x) {
    const float c = std::clamp(x, -1.0f, 1.0f);
    return static_cast<std::int16_t>(std::lround(c * 32767.0f));
}

}  // namespace

int renderToMemory(std::span<const std::uint8_t> midiBytes, std::uint32_t fromUnits,
                   const RenderOptions& options, RenderedAudio& out, RenderProgress progress) {
    std::shared_ptr<const Song> song;
    if (const int err = parseSong(midiBytes, song); err != 0) return err;
    out.left.clear();
    out.right.clear();
    const Sink sink = [&out](const float* l, const float* r, std::size_t n) {
        out.left.insert(out.left.end(), l, l + n);
        out.right.insert(out.right.end(), r, r + n);
        return true;
    };
    return renderSong(std::move(song), fromUnits, options, sink, progress);
}

int renderToWav(const std::string& midiPath, std::uint32_t fromUnits, const std::string& wavPath,
                const RenderOptions& options, RenderProgress progress) {
    std::shared_ptr<const Song> song;
    if (const int err = loadSongFile(midiPath, song); err != 0) return err;
    std::ofstream f(wavPath, std::ios::binary | std::ios::trunc);
    if (!f) return kErrWavWrite;
    writeWavHeader(f, 0);
    std::uint64_t frames = 0;
    std::vector<char> buf;
    const Sink sink = [&](const float* l, const float* r, std::size_t n) {
        buf.resize(n * 4);
        for (std::size_t i = 0; i < n; ++i) {
            const auto a = static_cast<std::uint16_t>(toPcm(l[i]));
            const auto b = static_cast<std::uint16_t>(toPcm(r[i]));
            buf[i * 4 + 0] = static_cast<char>(a & 0xFF);
            buf[i * 4 + 1] = static_cast<char>(a >> 8);
            buf[i * 4 + 2] = static_cast<char>(b & 0xFF);
            buf[i * 4 + 3] = static_cast<char>(b >> 8);
        }
        f.write(buf.data(), static_cast<std::streamsize>(buf.size()));
        frames += n;
        // A WAV file cannot describe more than 4 GiB of samples.
        return static_cast<bool>(f) && frames * 4 < 0xFFFFFFF0u;
    };
    if (const int err = renderSong(std::move(song), fromUnits, options, sink, progress); err != 0) {
        return err;
    }
    f.seekp(0);
    writeWavHeader(f, static_cast<std::uint32_t>(frames * 4));
    f.flush();
    return f ? 0 : kErrWavWrite;
}

}  // namespace lirno::device
