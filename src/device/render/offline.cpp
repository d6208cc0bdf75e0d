#include "device/render/offline.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>

#include "device/errors.h"
#include "device/soundfont/discovery.h"
#include "device/soundfont/presets_played.h"
#include "device/engine/scheduler.h"
#include "device/song/song_file.h"
#include "device/engine/synth.h"

namespace lirno::device {
namespace {

// A multiple of the synthesizer's block: every render of one song checks for
// silence on the same frames, so a mix and its stems end alike.
constexpr std::size_t kChunkFrames = 4096;

std::uint64_t secondsToFrames(double seconds, std::uint32_t rate) {
    return static_cast<std::uint64_t>(std::max(0.0, seconds) * rate);
}

float chunkPeak(const float* left, const float* right, std::size_t n, float peak) {
    for (std::size_t i = 0; i < n; ++i)
        peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    return peak;
}

// Where a render stops, relative to its start: the tail after the first
// chunk boundary past the last event with no voice left, and never past the
// ring limit after the last event.
class Ending {
  public:
    Ending(std::uint64_t lastEvent, const RenderOptions& o)
        : lastEvent_(lastEvent),
          tail_(secondsToFrames(o.tailSeconds, o.rate)),
          limit_(lastEvent + secondsToFrames(o.maxRingSeconds, o.rate)) {}

    // The frames still to render after `done`, given the voices sounding now.
    std::uint64_t remaining(std::uint64_t done, int voices) {
        // All events have been sent once the clock is a block past the last.
        if (silentAt_ == kNever && done >= lastEvent_ + kBlockFrames && voices == 0)
            silentAt_ = done;
        const std::uint64_t stop =
            silentAt_ == kNever ? limit_ : std::min(silentAt_ + tail_, limit_);
        return stop - std::min(stop, done);
    }
    bool stillSounding() const { return silentAt_ == kNever; }

  private:
    std::uint64_t lastEvent_;
    std::uint64_t tail_;
    std::uint64_t limit_;
    static constexpr std::uint64_t kNever = ~std::uint64_t{0};
    std::uint64_t silentAt_ = kNever;
};

}  // namespace

std::uint64_t eventFrames(const Song& song, std::uint32_t fromUnits, std::uint32_t rate) {
    const std::uint64_t start = nsToFrames(std::min(unitsToNs(fromUnits), song.endNs), rate);
    const std::uint64_t last =
        song.events.empty() ? 0 : nsToFrames(song.events.back().timeNs, rate);
    return last - std::min(last, start);
}

int renderSong(std::shared_ptr<const Song> song, std::uint32_t fromUnits,
               const RenderOptions& options, const RenderSink& sink, RenderEnd& end,
               const std::atomic<bool>* cancel, const FrameProgress& progress) {
    end = {};
    if (fromUnits > song->lengthUnits()) return kErrOutOfRange;
    int error = 0;
    // A fresh synthesizer each time: nothing left over from an earlier render
    // (reverb lines, channel state) can change the result.
    const auto synth = createSynth(options.soundFont.empty() ? findSoundFont() : options.soundFont,
                                   error, options.rate, options.polyphony, options.fontUse);
    if (!synth) return error;
    if (synth->cut) synth->cut->cover(synth->synth.get(), presetsPlayed(*song));
    Ending ending(eventFrames(*song, fromUnits, options.rate), options);
    const auto plan = makePlan(std::move(song), fromUnits, options.rate);
    end.nominalFrames = plan->endFrame - std::min(plan->endFrame, plan->startFrame);
    Scheduler scheduler(synth->synth.get(), options.rate);
    scheduler.setPrerollPerBlock(SIZE_MAX);  // no sound card to keep up with
    scheduler.start(*plan);

    std::array<float, kChunkFrames> left{};
    std::array<float, kChunkFrames> right{};
    std::uint64_t done = 0;
    for (;;) {
        const std::uint64_t rest =
            ending.remaining(done, fluid_synth_get_active_voice_count(synth->synth.get()));
        if (rest == 0) break;
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return kErrCancelled;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(rest, kChunkFrames));
        scheduler.render(left.data(), right.data(), n);
        done += n;
        end.peak = chunkPeak(left.data(), right.data(), n, end.peak);
        if (!sink(left.data(), right.data(), n)) return kErrAudioWrite;
        if (progress) progress(done);
    }
    end.frames = done;
    end.stillSounding = ending.stillSounding();
    return 0;
}

int renderToMemory(std::span<const std::uint8_t> midiBytes, std::uint32_t fromUnits,
                   const RenderOptions& options, RenderedAudio& out, RenderProgress progress) {
    std::shared_ptr<const Song> song;
    if (const int err = parseSong(midiBytes, song); err != 0) return err;
    out.left.clear();
    out.right.clear();
    const RenderSink sink = [&out](const float* l, const float* r, std::size_t n) {
        out.left.insert(out.left.end(), l, l + n);
        out.right.insert(out.right.end(), r, r + n);
        return true;
    };
    const auto total = static_cast<double>(eventFrames(*song, fromUnits, options.rate) + 1);
    FrameProgress frames;
    if (progress)
        frames = [&](std::uint64_t done) {
            progress(std::min(1.0, static_cast<double>(done) / total));
        };
    RenderEnd end;
    const int err = renderSong(std::move(song), fromUnits, options, sink, end, nullptr, frames);
    if (err == 0 && progress) progress(1.0);
    return err;
}

}  // namespace lirno::device
