// What the file model costs on big files: the analysis of a 10 MB, 100-track
// file, one mute toggle of a 1 MB track, and saving the 10 MB file.
//
// The files are generated to look like sequencer output: notes in chords
// with running status (Note-On velocity 0 in some tracks, Note-Off events in
// others), controller and pitch-bend sweeps under running status, program
// changes, text and marker events, the odd system-exclusive message, and a
// conductor track of tempo changes. A third of the tracks lack pan and volume
// so the analysis has events to insert.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/smfwrite.h"
#include "mmio/message.h"
#include "mmio/midiinfo.h"
#include "mmio/playfile.h"
#include "mmio/trackedit.h"

namespace {

using lirno::FileImage;
using lirno::MidiInfo;
using lirno::smf::Bytes;
using lirno::smf::Track;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr int kTracks = 100;

int messages = 0;  // boxes shown: the generated files must not cause any
// Boxes are counted, never printed, from before the first benchmark runs.
const bool countingBoxes = [] {
    lirno::setMessageBoxHandler([](const lirno::Message&) { ++messages; });
    return true;
}();

class Rng {
  public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint32_t below(std::uint32_t n) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_ % n);
    }
    std::uint8_t data7() { return static_cast<std::uint8_t>(below(128)); }

  private:
    std::uint64_t state_;
};

std::uint8_t st(int status, int channel) {
    return static_cast<std::uint8_t>(status | channel);
}

// One phrase after another until the track holds about `target` bytes.
// channel < 0: every phrase on a channel of its own, as in a format 0 file.
Track musicTrack(int index, int channel, std::size_t target, Rng& rng) {
    Track t;
    t.name("Track " + std::to_string(index));
    const int first = channel < 0 ? 0 : channel;
    t.ev(0, {st(0xC0, first), rng.data7()});
    if (index % 3 != 0) {
        t.ev(0, {st(0xB0, first), 7, static_cast<std::uint8_t>(60 + rng.below(68))});
        t.ev(0, {st(0xB0, first), 10, rng.data7()});
    }
    const bool noteOffEvents = index % 2 != 0;
    while (t.data.size() + 8 < target) {
        const int ch = channel < 0 ? static_cast<int>(rng.below(16)) : channel;
        const std::uint32_t kind = rng.below(100);
        if (kind < 80) {  // a chord: its notes under one status, released together
            const int notes = 1 + static_cast<int>(rng.below(3));
            const auto root = static_cast<std::uint8_t>(36 + rng.below(48));
            t.ev(rng.below(3) == 0 ? 0 : 1 + rng.below(240),
                 {st(0x90, ch), root, static_cast<std::uint8_t>(40 + rng.below(87))});
            for (int k = 1; k < notes; ++k)
                t.raw({0, static_cast<std::uint8_t>(root + 4 * k),
                       static_cast<std::uint8_t>(40 + rng.below(87))});
            const std::uint32_t length = 24 + rng.below(460);  // one- and two-byte delta times
            if (noteOffEvents) {
                t.ev(length, {st(0x80, ch), root, 64});
            } else {
                t.ev(length, {st(0x90, ch), root, 0});
            }
            for (int k = 1; k < notes; ++k)
                t.raw({0, static_cast<std::uint8_t>(root + 4 * k),
                       noteOffEvents ? std::uint8_t{64} : std::uint8_t{0}});
        } else if (kind < 90) {  // modulation or expression sweep
            const std::uint8_t cc = rng.below(2) ? 1 : 11;
            t.ev(rng.below(30), {st(0xB0, ch), cc, rng.data7()});
            for (int k = 0; k < 8; ++k)
                t.raw({static_cast<std::uint8_t>(1 + rng.below(20)), cc, rng.data7()});
        } else if (kind < 95) {  // pitch bend
            t.ev(rng.below(30), {st(0xE0, ch), rng.data7(), rng.data7()});
            for (int k = 0; k < 6; ++k)
                t.raw({static_cast<std::uint8_t>(1 + rng.below(10)), rng.data7(), rng.data7()});
        } else if (kind < 97) {
            t.ev(0, {st(0xC0, ch), rng.data7()});
        } else if (kind < 98) {
            t.ev(0, {st(0xB0, ch), 7, rng.data7()});
        } else if (kind < 99) {
            t.meta(rng.below(100), rng.below(2) ? 1 : 6,
                   "section " + std::to_string(rng.below(1000)));
        } else {
            t.ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});  // General MIDI on
        }
    }
    t.end();
    return t;
}

Track conductor(std::size_t target, Rng& rng) {
    Track t;
    t.name("Conductor");
    t.ev(0, {0xFF, 0x58, 0x04, 4, 2, 24, 8});
    while (t.data.size() + 8 < target) {
        t.tempo(96 * (1 + rng.below(16)), 400000 + 1000 * rng.below(200));
        if (rng.below(8) == 0) t.meta(0, 6, "Marker " + std::to_string(rng.below(100)));
    }
    t.end();
    return t;
}

// 100 tracks of 10 MB in all: a small conductor and 99 instrument tracks.
const Bytes& bigFile() {
    static const Bytes file = [] {
        Rng rng(0x5EED5EED12345678ull);
        std::vector<Track> tracks;
        tracks.push_back(conductor(16 * 1024, rng));
        const std::size_t each = (10 * kMiB - 16 * 1024) / (kTracks - 1) - 8;
        for (int i = 1; i < kTracks; ++i) tracks.push_back(musicTrack(i, (i - 1) % 16, each, rng));
        return lirno::smf::file(1, 480, tracks);
    }();
    return file;
}

// One track of 1 MB, all channels in it.
const Bytes& oneTrackFile() {
    static const Bytes file = [] {
        Rng rng(0xC0FFEEull);
        return lirno::smf::file(0, 480, {musicTrack(1, -1, kMiB, rng)});
    }();
    return file;
}

struct Loaded {
    FileImage image;
    MidiInfo info;
};

// The file as the player holds it after loading; false when the analysis
// refused it or complained, which would make the numbers meaningless.
bool load(const Bytes& file, Loaded& out) {
    const int before = messages;
    out.image = FileImage::fromBytes(file);
    return lirno::readmidiinfo(out.image, out.info) == 1 && messages == before;
}

void BM_Analyse(benchmark::State& state) {
    const Bytes& file = bigFile();
    const FileImage pristine = FileImage::fromBytes(file);
    FileImage image = pristine;
    MidiInfo info;
    const int before = messages;
    for (auto _ : state) {
        // The analysis normalises in place: each round starts from the file's bytes.
        state.PauseTiming();
        image.pFileBuf.assign(pristine.pFileBuf.begin(), pristine.pFileBuf.end());
        image.dwFileBufSize = pristine.dwFileBufSize;
        state.ResumeTiming();
        benchmark::DoNotOptimize(lirno::readmidiinfo(image, info));
    }
    if (messages != before || info.nViewTracks != kTracks - 1 || image.dwFileBufSize <= file.size())
        state.SkipWithError("the generated file did not analyse cleanly");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(file.size()));
    state.counters["file_MB"] = static_cast<double>(file.size()) / 1e6;
}
BENCHMARK(BM_Analyse)->Unit(benchmark::kMillisecond)->UseRealTime();

// The image copy BM_Analyse leaves out of its timing, for comparison.
void BM_AnalyseCopyOnly(benchmark::State& state) {
    const FileImage pristine = FileImage::fromBytes(bigFile());
    FileImage image = pristine;
    for (auto _ : state) {
        image.pFileBuf.assign(pristine.pFileBuf.begin(), pristine.pFileBuf.end());
        benchmark::DoNotOptimize(image.pFileBuf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bigFile().size()));
}
BENCHMARK(BM_AnalyseCopyOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

// One click on a row's mute box: a full scan of the track and a patch of
// every note status byte. Each round undoes the previous one.
void BM_SettrackMute(benchmark::State& state) {
    Loaded l;
    if (!load(oneTrackFile(), l)) {
        state.SkipWithError("the 1 MB track did not analyse cleanly");
        return;
    }
    int ok = 1;
    for (auto _ : state) ok &= lirno::settrack(l.image, 0, lirno::kEditNotes, 0);
    if (!ok) state.SkipWithError("settrack did not reach the track's end");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * l.info.track[0].size);
    state.counters["track_MB"] = static_cast<double>(l.info.track[0].size) / 1e6;
}
BENCHMARK(BM_SettrackMute)->Unit(benchmark::kMillisecond)->UseRealTime();

// A volume slider move on the same track: the same scan, fewer patches.
void BM_SettrackVolume(benchmark::State& state) {
    Loaded l;
    if (!load(oneTrackFile(), l)) {
        state.SkipWithError("the 1 MB track did not analyse cleanly");
        return;
    }
    int ok = 1;
    std::uint8_t v = 0;
    for (auto _ : state) ok &= lirno::settrack(l.image, 0, lirno::kEditVolume, v++ & 0x7F);
    if (!ok) state.SkipWithError("settrack did not reach the track's end");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * l.info.track[0].size);
}
BENCHMARK(BM_SettrackVolume)->Unit(benchmark::kMillisecond)->UseRealTime();

class Rows final : public lirno::RowSource {
  public:
    Rows(const MidiInfo& info, int mutedEvery) : info_(info), mutedEvery_(mutedEvery) {}
    bool isOnEnabled(int) const override { return true; }
    bool isOnChecked(int n) const override { return mutedEvery_ == 0 || n % mutedEvery_ != 0; }
    std::string nameText(int n) const override {
        return std::string(lirno::gettrackname(info_, n)) + " (mix)";
    }

  private:
    const MidiInfo& info_;
    int mutedEvery_;
};

// Saving the 10 MB file under new names, through the play-file writer (a
// new file beside the target, renamed over it) into TMPDIR or /tmp.
// Argument: every n-th row muted (0: none), as the player holds them.
void BM_Write(benchmark::State& state) {
    Loaded l;
    if (!load(bigFile(), l)) {
        state.SkipWithError("the generated file did not analyse cleanly");
        return;
    }
    const int mutedEvery = static_cast<int>(state.range(0));
    const Rows rows(l.info, mutedEvery);
    for (int n = 0; n < l.info.nViewTracks; ++n)
        if (!rows.isOnChecked(n))
            lirno::settrack(l.image, l.info.trackIndex[static_cast<std::size_t>(n)],
                            lirno::kEditNotes, 0);

    const std::string target = lirno::gettmpname();
    if (target.empty()) {
        state.SkipWithError("no temporary file");
        return;
    }
    int ok = 1;
    for (auto _ : state) ok &= lirno::writemidiinfo(target, l.image, l.info, rows);
    if (!ok) state.SkipWithError("writemidiinfo failed");
    lirno::deltmp(target);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * l.image.dwFileBufSize);
}
BENCHMARK(BM_Write)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
