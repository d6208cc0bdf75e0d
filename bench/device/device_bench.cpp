// Measurements of the sequencer device: event timing, restart latency after
// an edit, opening big songs, idle CPU and the scheduler's cost over the
// synthesizer's own rendering.
//
//   build-dev/bench/device/device_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>
#include <fluidsynth.h>
#include <memory>

#include <sys/resource.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "device/engine/fluid_device.h"
#include "device/engine/scheduler.h"
#include "device/engine/synth.h"
#include "device/render/offline.h"
#include "device/song/song_file.h"
#include "device/song/timing.h"
#include "mmio/loadsave.h"
#include "mmio/message.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "mmio/sequencer.h"
#include "mmio/trackedit.h"

namespace lirno::device {
namespace {

using lirno::kEditVolume;
using lirno::kModePlaying;
using lirno::loaded;
using lirno::Message;
using lirno::playback;
using lirno::sequencer;

using Bytes = std::vector<std::uint8_t>;
constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

void vlq(Bytes& b, std::uint32_t v) {
    std::uint8_t tmp[5];
    int n = 0;
    tmp[n++] = v & 0x7F;
    while ((v >>= 7) != 0) tmp[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
    while (n > 0) b.push_back(tmp[--n]);
}

void be32(Bytes& b, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}

void addChunk(Bytes& out, const char* id, const Bytes& body) {
    out.insert(out.end(), id, id + 4);
    be32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

// A dense format-1 song of about `bytes` bytes: a tempo track with a tempo
// change every few beats, then `tracks` tracks of running-status notes and
// controller sweeps (one channel each, in turn), every track with a rhythm
// of its own so that the tracks interleave.
Bytes bigSong(std::size_t bytes, int tracks = 16) {
    const std::size_t perTrack = bytes / static_cast<std::size_t>(tracks + 1);
    Bytes out{'M',
              'T',
              'h',
              'd',
              0,
              0,
              0,
              6,
              0,
              1,
              static_cast<std::uint8_t>((tracks + 1) >> 8),
              static_cast<std::uint8_t>(tracks + 1),
              0x01,
              0xE0};
    Bytes tempo;
    std::uint32_t us = 500'000;
    while (tempo.size() < perTrack / 8) {
        vlq(tempo, 1920);
        us = 300'000 + (us * 7919) % 400'000;
        tempo.insert(tempo.end(),
                     {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(us >> 16),
                      static_cast<std::uint8_t>(us >> 8), static_cast<std::uint8_t>(us)});
    }
    tempo.insert(tempo.end(), {0x00, 0xFF, 0x2F, 0x00});
    addChunk(out, "MTrk", tempo);
    for (int t = 0; t < tracks; ++t) {
        const auto ch = static_cast<std::uint8_t>(t % 16);
        Bytes b{0x00, static_cast<std::uint8_t>(0xC0 | ch), static_cast<std::uint8_t>(t * 7 % 128)};
        b.insert(b.end(), {0x00, static_cast<std::uint8_t>(0xB0 | ch), 7, 90});
        auto key = static_cast<std::uint8_t>(36 + t * 3 % 60);
        const auto gap = static_cast<std::uint8_t>(0x30 + t % 16);
        while (b.size() < perTrack) {
            b.insert(b.end(), {gap, static_cast<std::uint8_t>(0x90 | ch), key, 80});
            b.insert(b.end(), {0x3C, key, 0x00});  // running status note-off
            b.insert(b.end(), {0x00, static_cast<std::uint8_t>(0xB0 | ch), 11,
                               static_cast<std::uint8_t>(key & 0x7F)});
            key = static_cast<std::uint8_t>(36 + (key * 5 + 3) % 60);
        }
        b.insert(b.end(), {0x00, 0xFF, 0x2F, 0x00});
        addChunk(out, "MTrk", b);
    }
    return out;
}

std::string writeTemp(const std::string& name, const Bytes& b) {
    const auto path = std::filesystem::temp_directory_path() / name;
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return path.string();
}

// Processor time of the whole process, all threads.
double cpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Processor time of the calling thread: what rendering costs, whatever else
// the machine is busy with.
double threadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// The same, to the nanosecond (getrusage counts in scheduler ticks on some
// kernels): for timing single blocks.
double threadCpuSecondsFine() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// ------------------------------------------------------------------ timing error

// Woodblock hits on the drum channel at known times, through tempo changes.
Bytes clickSong(std::vector<double>& idealSeconds) {
    Bytes t;
    double now = 0;
    double secPerTick = 0.5 / 480;
    std::uint32_t pending = 0;
    for (int i = 0; i < 60; ++i) {
        if (i % 8 == 0) {
            const std::uint32_t us = 350'000 + static_cast<std::uint32_t>(i) * 3'331;
            vlq(t, pending);
            pending = 0;
            t.insert(t.end(), {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(us >> 16),
                               static_cast<std::uint8_t>(us >> 8), static_cast<std::uint8_t>(us)});
            secPerTick = us / 1e6 / 480;
        }
        const std::uint32_t gap = 317 + static_cast<std::uint32_t>(i * 37 % 200);
        vlq(t, pending + gap);
        now += gap * secPerTick;
        idealSeconds.push_back(now);
        t.insert(t.end(), {0x99, 76, 127});
        vlq(t, 40);
        t.insert(t.end(), {0x89, 76, 0});
        now += 40 * secPerTick;
        pending = 0;
    }
    t.insert(t.end(), {0x60, 0xFF, 0x2F, 0x00});
    Bytes out{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0};
    addChunk(out, "MTrk", t);
    return out;
}

void BM_TimingError(benchmark::State& state) {
    std::vector<double> ideal;
    const Bytes song = clickSong(ideal);
    std::shared_ptr<const Song> parsed;
    parseSong(song, parsed);
    TimingProbe probe;
    std::int64_t onsetSpread = 0;
    for (auto _ : state) {
        // Instrumented scheduler: the block start each event went out at.
        int err = 0;
        const auto synth = createSynth(kSoundFont, err);
        const auto plan = makePlan(parsed, 0);
        Scheduler sch(synth->synth.get());
        probe = {};
        sch.setProbe(&probe);
        sch.start(*plan);
        std::vector<float> l(512), r(512), left;
        while (sch.playing()) {
            sch.render(l.data(), r.data(), 441);  // a typical, unaligned period
            left.insert(left.end(), l.begin(), l.begin() + 441);
        }
        // Onsets heard in the audio, against the ideal times; the sample's own
        // attack delay is the same for every hit, so take the spread.
        std::vector<std::int64_t> offsets;
        std::size_t from = 0;
        for (double t : ideal) {
            const auto target = static_cast<std::size_t>(t * kSampleRate);
            std::size_t i = std::max(from, target > 2000 ? target - 2000 : 0);
            while (i < left.size() && std::fabs(left[i]) < 0.01f) ++i;
            offsets.push_back(static_cast<std::int64_t>(i) - static_cast<std::int64_t>(target));
            from = i + 2000;
        }
        const auto [lo, hi] = std::minmax_element(offsets.begin(), offsets.end());
        onsetSpread = *hi - *lo;
        benchmark::DoNotOptimize(left.data());
    }
    state.counters["worst_sent_err_frames"] = static_cast<double>(probe.worstFrames);
    state.counters["onset_spread_frames"] = static_cast<double>(onsetSpread);
    state.counters["events"] = static_cast<double>(probe.events);
}
BENCHMARK(BM_TimingError)->Unit(benchmark::kMillisecond)->Iterations(3);

// ------------------------------------------------------------------ restart after an edit

// A device on the test clock: the caller renders exactly what the audio
// callback would, block by block.
std::unique_ptr<FluidDevice> manualDevice() {
    DeviceSettings s;
    s.audioDriver = kAudioManual;
    s.soundFont = kSoundFont;
    auto dev = std::make_unique<FluidDevice>(s);
    dev->waitReady();
    return dev;
}

// A song loaded as the player loads it, playing from its middle on a device
// of the test clock; the playback records are put back when it goes.
struct PlayingMidway {
    PlayingMidway(const std::string& path, lirno::MessageBoxHandler onBox) {
        lirno::resetGlobals();
        oldHandler = lirno::setMessageBoxHandler(std::move(onBox));
        install.emplace(device.get());
        playback.sTmpName = lirno::gettmpname();
        std::string name = path;
        lirno::mcimidiSelectFile(name);
        playback.wOutDeviceID = lirno::mcimidiOpen(playback.sTmpName);
        playback.dwPlayPos = playback.dwFileSize / 2;
        playback.nMode = kModePlaying;
        playback.fFileLoaded = true;
        lirno::mcimidiPlay({}, playback.wOutDeviceID);
    }
    ~PlayingMidway() {
        lirno::mcimidiClose(playback.wOutDeviceID);
        std::filesystem::remove(playback.sTmpName);
        lirno::resetGlobals();
        lirno::setMessageBoxHandler(oldHandler);
    }
    PlayingMidway(const PlayingMidway&) = delete;
    PlayingMidway& operator=(const PlayingMidway&) = delete;

    std::unique_ptr<FluidDevice> device = manualDevice();
    std::optional<lirno::SequencerInstall> install;  // after the reset, which unlinks
    lirno::MessageBoxHandler oldHandler;
};

// One measured change to a playing song: its time counted, then the song
// plays on a little, as it would between two changes.
void timedChange(benchmark::State& state, FluidDevice& dev, double wall, double& worst) {
    worst = std::max(worst, wall);
    state.SetIterationTime(wall);
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    for (int i = 0; i < 20; ++i) dev.renderManual(l.data(), r.data(), kBlockFrames);
}

void songCounters(benchmark::State& state, std::size_t mb, int tracks, double worst) {
    state.counters["song_MB"] = static_cast<double>(mb);
    state.counters["tracks"] = tracks;
    state.counters["worst_ms"] = worst * 1000;
}

// With a big song playing, what the player does after a volume edit: the
// track's bytes change in the image, and mcimidiChange rewrites the play
// file and restarts the song at the current position from it (close, open,
// play). Timed from mcimidiChange to the end of the first block rendered at
// the new position. Arguments: song size in MB, tracks (a tempo track
// included).
void BM_EditToSound(benchmark::State& state) {
    const auto mb = static_cast<std::size_t>(state.range(0));
    const int tracks = static_cast<int>(state.range(1));
    const std::string path = writeTemp("lirno_bench_edit.mid", bigSong(mb << 20, tracks - 1));
    int boxes = 0;
    PlayingMidway session(path, [&boxes](const Message&) { ++boxes; });
    FluidDevice& dev = *session.device;
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    for (int i = 0; i < 100; ++i) dev.renderManual(l.data(), r.data(), kBlockFrames);
    double cpu = 0;
    double worst = 0;
    int volume = 20;
    std::size_t blocks = 0;
    for (auto _ : state) {
        // A different track and value each time, as a user dragging sliders.
        const int row = static_cast<int>(state.iterations()) % loaded.MidiInfo.nTracks;
        volume = 20 + (volume + 37) % 100;
        lirno::settrack(loaded.image, loaded.MidiInfo.trackIndex[static_cast<std::size_t>(row)],
                        kEditVolume, static_cast<std::uint8_t>(volume));
        const double c0 = threadCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        lirno::mcimidiChange();
        const std::uint64_t at = nsToFrames(unitsToNs(playback.dwPlayPos), kSampleRate);
        blocks = 0;
        do {
            dev.renderManual(l.data(), r.data(), kBlockFrames);
            ++blocks;
        } while (dev.playedFrame() <= at && blocks < 1000);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu += threadCpuSeconds() - c0;
        timedChange(state, dev, wall, worst);
    }
    songCounters(state, mb, tracks, worst);
    state.counters["cpu_ms"] = cpu * 1000 / static_cast<double>(state.iterations());
    state.counters["blocks"] = static_cast<double>(blocks);
    state.counters["boxes"] = boxes;
    std::filesystem::remove(path);
}
// The songs changes are timed on: 1 and 10 MB, 17 and 100 tracks.
void songSizes(benchmark::internal::Benchmark* b) {
    b->Args({1, 17})->Args({1, 100})->Args({10, 17})->Args({10, 100});
    b->UseManualTime()->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_EditToSound)->Apply(songSizes);

// The audio callback's cost per 64-frame block while edits restart a 10 MB,
// 100-track song: a thread renders block by block at the real-time pace, as
// a sound card's thread would, while the player's thread makes a volume edit
// every 50 ms through mcimidiChange (argument 1; 0 plays the song without
// edits, for comparison). Reports the worst block's processor
// time (the work done in it) and wall time (that plus whatever the machine
// took from the thread), and the median block's processor time.
void BM_CallbackDuringEdits(benchmark::State& state) {
    const std::string path = writeTemp("lirno_bench_callback.mid", bigSong(10u << 20, 99));
    PlayingMidway session(path, [](const Message&) {});
    FluidDevice& dev = *session.device;
    std::vector<double> cpuUs;
    double worstWallUs = 0;
    int edits = 0;
    for (auto _ : state) {
        std::atomic<bool> stop{false};
        std::thread audio([&] {
            std::vector<float> l(kBlockFrames), r(kBlockFrames);
            const auto period = std::chrono::nanoseconds(kNsPerSecond * kBlockFrames / kSampleRate);
            auto next = std::chrono::steady_clock::now();
            while (!stop) {
                const double c0 = threadCpuSecondsFine();
                const auto w0 = std::chrono::steady_clock::now();
                dev.renderManual(l.data(), r.data(), kBlockFrames);
                cpuUs.push_back((threadCpuSecondsFine() - c0) * 1e6);
                worstWallUs = std::max(worstWallUs, std::chrono::duration<double, std::micro>(
                                                        std::chrono::steady_clock::now() - w0)
                                                        .count());
                next += period;
                std::this_thread::sleep_until(next);
            }
        });
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (state.range(0) == 0) continue;
            const int row = edits % loaded.MidiInfo.nTracks;
            lirno::settrack(loaded.image, loaded.MidiInfo.trackIndex[static_cast<std::size_t>(row)],
                            kEditVolume, static_cast<std::uint8_t>(30 + edits % 90));
            lirno::mcimidiChange();
            ++edits;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop = true;
        audio.join();
    }
    std::sort(cpuUs.begin(), cpuUs.end());
    state.counters["blocks"] = static_cast<double>(cpuUs.size());
    state.counters["edits"] = edits;
    state.counters["median_block_cpu_us"] = cpuUs.empty() ? 0 : cpuUs[cpuUs.size() / 2];
    state.counters["worst_block_cpu_us"] = cpuUs.empty() ? 0 : cpuUs.back();
    state.counters["worst_block_wall_us"] = worstWallUs;
    state.counters["block_period_us"] = 1e6 * kBlockFrames / kSampleRate;
    std::filesystem::remove(path);
}
BENCHMARK(BM_CallbackDuringEdits)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------ speed, key, passage

// With a big song playing from its middle, a speed and key change (60 % and
// two semitones down, then back): timed from setPlayback to the end of the
// first block rendered with it, the block that proves it by the song time it
// advanced. Arguments: song size in MB, tracks.
void BM_PlaybackChangeToSound(benchmark::State& state) {
    const auto mb = static_cast<std::size_t>(state.range(0));
    const int tracks = static_cast<int>(state.range(1));
    const std::string path = writeTemp("lirno_bench_practice.mid", bigSong(mb << 20, tracks - 1));
    PlayingMidway session(path, [](const Message&) {});
    FluidDevice& dev = *session.device;
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    for (int i = 0; i < 100; ++i) dev.renderManual(l.data(), r.data(), kBlockFrames);
    double worst = 0;
    int wrong = 0;
    for (auto _ : state) {
        const bool slow = state.iterations() % 2 == 0;
        const PlaybackSettings settings{slow ? 60 : 100, slow ? -2 : 0, {}};
        const auto t0 = std::chrono::steady_clock::now();
        dev.setPlayback(settings);
        const std::uint64_t before = dev.playedFrame();
        dev.renderManual(l.data(), r.data(), kBlockFrames);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        // The block went by at the new speed (positions are whole frames).
        const auto advanced = static_cast<std::int64_t>(dev.playedFrame() - before) * 100;
        if (std::abs(advanced - static_cast<std::int64_t>(kBlockFrames) * settings.speed) >= 100)
            ++wrong;
        timedChange(state, dev, wall, worst);
    }
    songCounters(state, mb, tracks, worst);
    state.counters["not_heard"] = wrong;  // blocks that did not play at the new speed
    std::filesystem::remove(path);
}
BENCHMARK(BM_PlaybackChangeToSound)->Iterations(200)->Apply(songSizes);

// A passage of two bars in the middle of the notes of a dense 1 MB song
// (it starts on a note), played round after round through the synthesizer
// at 80 %. At each seam (the block in which the position goes back): how
// far, in real frames, the block's start is from the passage's ideal end,
// whether that same block sent the next round's first events (otherwise
// a block without them would follow the end), the worst event timing
// error of every round (probe), and the seam block's processor time.
void BM_PassageSeam(benchmark::State& state) {
    constexpr int kSpeed = 80;
    std::shared_ptr<const Song> song;
    parseSong(bigSong(1u << 20, 16), song);
    const auto from = static_cast<std::uint32_t>(
        song->timing->nsToTick(song->events[song->events.size() / 2].timeNs));
    const auto plan = makePlan(song, 0, kSampleRate, PlanPassage{{from, from + 2 * 4 * 480}, true});
    int err = 0;
    const auto synth = createSynth(kSoundFont, err);
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    std::uint64_t seams = 0, seamsWithoutEvents = 0;
    std::int64_t worstOffset = 0;
    double worstSeamUs = 0, worstBlockUs = 0;
    TimingProbe probe;
    for (auto _ : state) {
        Scheduler sch(synth->synth.get());
        sch.setProbe(&probe);
        sch.setSpeed(kSpeed);
        sch.start(*plan);
        for (int block = 0; block < 20000; ++block) {
            const std::uint64_t was = sch.songFrame();
            const std::uint64_t sent = probe.events;
            const double c0 = threadCpuSecondsFine();
            sch.render(l.data(), r.data(), kBlockFrames);
            const double us = (threadCpuSecondsFine() - c0) * 1e6;
            if (sch.songFrame() >= was) {
                worstBlockUs = std::max(worstBlockUs, us);
                continue;
            }
            ++seams;
            worstSeamUs = std::max(worstSeamUs, us);
            const auto off =
                (static_cast<std::int64_t>(was) - static_cast<std::int64_t>(plan->endFrame)) * 100 /
                kSpeed;
            worstOffset = std::max(worstOffset, std::abs(off));
            if (probe.events == sent) ++seamsWithoutEvents;
        }
    }
    state.counters["seams"] = static_cast<double>(seams);
    state.counters["seam_offset_frames"] = static_cast<double>(worstOffset);
    state.counters["seams_without_events"] = static_cast<double>(seamsWithoutEvents);
    state.counters["worst_err_frames"] = static_cast<double>(probe.worstFrames);
    state.counters["seam_block_us"] = worstSeamUs;
    state.counters["other_block_us"] = worstBlockUs;
}
BENCHMARK(BM_PassageSeam)->Iterations(1)->Unit(benchmark::kMillisecond);

// Ten minutes of song (a note a second) at 37 %: the song's position
// against the samples played, block after block, with the events' timing.
void BM_NoDriftAtSlowSpeed(benchmark::State& state) {
    Bytes t;
    for (int i = 0; i < 620; ++i) {
        vlq(t, i == 0 ? 0 : 960);
        t.insert(t.end(), {0x90, 60, 90});
        vlq(t, 960);
        t.insert(t.end(), {0x80, 60, 0});
    }
    t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
    Bytes bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x03, 0xC0};  // 960 a quarter (0.5 s)
    addChunk(bytes, "MTrk", t);
    std::shared_ptr<const Song> song;
    parseSong(bytes, song);
    const auto plan = makePlan(song, 0);
    std::int64_t worst = 0;
    std::uint64_t played = 0, songFrames = 0;
    TimingProbe probe;
    for (auto _ : state) {
        Scheduler sch(nullptr);
        sch.setProbe(&probe);
        sch.setSpeed(37);
        sch.start(*plan);
        played = 0;
        while (sch.playing()) {
            sch.render(nullptr, nullptr, 441);  // unaligned periods, as a card asks
            played += 441;
            if (!sch.playing()) break;
            const auto expected = static_cast<std::int64_t>(played * 37 / 100);
            worst =
                std::max(worst, std::abs(static_cast<std::int64_t>(sch.songFrame()) - expected));
        }
        songFrames = sch.songFrame();
    }
    state.counters["song_minutes"] = static_cast<double>(songFrames) / kSampleRate / 60;
    state.counters["real_minutes"] = static_cast<double>(played) / kSampleRate / 60;
    state.counters["worst_drift_frames"] = static_cast<double>(worst);
    state.counters["worst_err_frames"] = static_cast<double>(probe.worstFrames);
}
BENCHMARK(BM_NoDriftAtSlowSpeed)->Iterations(1)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------ reader against FluidSynth

// The file shapes the reader is judged on: 0 = 10 MB, 100 tracks (a tempo
// track and 99 dense ones); 1 = 1 MB, 17 tracks; 2 = a real 231 KB,
// 36-track orchestral file (skipped when the shared files are absent).
Bytes readerShape(std::int64_t shape) {
    if (shape == 0) return bigSong(10u << 20, 99);
    if (shape == 1) return bigSong(1u << 20, 16);
    std::ifstream f(
        std::string(LIRNO_SHARED_MIDI) + "/real/tonejs_bartok_concerto_for_orchestra_1.mid",
        std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The device's reader (parseSong, from memory) and FluidSynth's own player
// (loading the same bytes from memory and rendering its first block) on the
// same bytes, alternately in each iteration; the best of each is reported,
// being the least disturbed by the other work on the machine.
void BM_ReaderVsFluidPlayer(benchmark::State& state) {
    const Bytes song = readerShape(state.range(0));
    if (song.empty()) {
        state.SkipWithError("shared MIDI files absent");
        return;
    }
    // No SoundFont: the player's missing-preset warnings are not wanted.
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    SettingsPtr settings(new_fluid_settings());
    fluid_settings_setint(settings.get(), "synth.threadsafe-api", 0);
    SynthPtr synth(new_fluid_synth(settings.get()));
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    double reader = 1e9, fluid = 1e9, readerCpu = 1e9, fluidCpu = 1e9;
    std::size_t events = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        double c0 = threadCpuSecondsFine();
        std::shared_ptr<const Song> parsed;
        parseSong(song, parsed);
        reader = std::min(reader, msSince(t0));
        readerCpu = std::min(readerCpu, (threadCpuSecondsFine() - c0) * 1000);
        events = parsed->events.size();
        parsed.reset();

        t0 = std::chrono::steady_clock::now();
        c0 = threadCpuSecondsFine();
        fluid_player_t* player = new_fluid_player(synth.get());
        fluid_player_add_mem(player, song.data(), song.size());
        fluid_player_play(player);
        fluid_synth_write_float(synth.get(), kBlockFrames, l.data(), 0, 1, r.data(), 0, 1);
        fluid = std::min(fluid, msSince(t0));
        fluidCpu = std::min(fluidCpu, (threadCpuSecondsFine() - c0) * 1000);
        fluid_player_stop(player);
        delete_fluid_player(player);
        fluid_synth_system_reset(synth.get());
    }
    state.counters["bytes"] = static_cast<double>(song.size());
    state.counters["events"] = static_cast<double>(events);
    state.counters["reader_ms"] = reader;
    state.counters["fluid_ms"] = fluid;
    state.counters["fluid_over_reader"] = fluid / reader;
    state.counters["reader_cpu_ms"] = readerCpu;
    state.counters["fluid_cpu_ms"] = fluidCpu;
    state.counters["cpu_fluid_over_reader"] = fluidCpu / readerCpu;
}
BENCHMARK(BM_ReaderVsFluidPlayer)->DenseRange(0, 2)->Iterations(8)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------ open

void BM_Open10MB(benchmark::State& state) {
    const Bytes song = bigSong(10u << 20);
    const std::string path = writeTemp("lirno_bench_open.mid", song);
    std::size_t events = 0;
    std::uint32_t length = 0;
    for (auto _ : state) {
        std::shared_ptr<const Song> s;
        loadSongFile(path, s);
        events = s->events.size();
        length = s->lengthUnits();
        benchmark::DoNotOptimize(length);
    }
    state.counters["events"] = static_cast<double>(events);
    state.counters["length_units"] = length;
    std::filesystem::remove(path);
}
BENCHMARK(BM_Open10MB)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------ idle CPU

// CPU used by a device whose song is paused or stopped: its threads should
// all be asleep. Reported as CPU milliseconds per second of wall time.
void BM_IdleCpu(benchmark::State& state) {
    DeviceSettings s;
    s.audioDriver = kAudioNone;
    FluidDevice dev(s);
    DeviceId id = 0;
    std::uint32_t len = 0;
    const std::string path = writeTemp("lirno_bench_idle.mid", bigSong(64u << 10));
    dev.open(path, id, len);
    dev.play(id, 0, {});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (state.range(0) == 0) {
        dev.pause(id);
    } else {
        dev.stop(id);
    }
    double perSecond = 0;
    for (auto _ : state) {
        const double c0 = cpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        perSecond = (cpuSeconds() - c0) * 1000.0;
    }
    state.counters["cpu_ms_per_s"] = perSecond;
    std::filesystem::remove(path);
}
BENCHMARK(BM_IdleCpu)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------ overhead

using BlockEvents = std::vector<std::pair<std::uint64_t, SongEvent>>;

void sendBare(fluid_synth_t* fs, const SongEvent& e) {
    const int ch = e.status & 0x0F;
    switch (e.status & 0xF0) {
        case 0x90:
            if (e.data2 != 0) {
                fluid_synth_noteon(fs, ch, e.data1, e.data2);
                break;
            }
            [[fallthrough]];
        case 0x80:
            fluid_synth_noteoff(fs, ch, e.data1);
            break;
        case 0xB0:
            fluid_synth_cc(fs, ch, e.data1, e.data2);
            break;
        case 0xC0:
            fluid_synth_program_change(fs, ch, e.data1);
            break;
        default:
            break;
    }
}

// The synthesizer alone, fed from a precomputed list of (block, event).
double renderBare(const BlockEvents& byBlock, std::size_t frames) {
    int err = 0;
    const auto synth = createSynth(kSoundFont, err);
    fluid_synth_t* fs = synth->synth.get();
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    std::size_t next = 0;
    const double t0 = threadCpuSeconds();
    for (std::uint64_t block = 0; block * kBlockFrames < frames; ++block) {
        for (; next < byBlock.size() && byBlock[next].first <= block; ++next) {
            sendBare(fs, byBlock[next].second);
        }
        fluid_synth_write_float(fs, kBlockFrames, l.data(), 0, 1, r.data(), 0, 1);
    }
    return threadCpuSeconds() - t0;
}

// Rendering a song through the device's whole path (commands, scheduler,
// position) against the same events fed straight to a synthesizer from a
// precomputed per-block list: the bare minimum any player must do.
void BM_DeviceOverhead(benchmark::State& state) {
    const Bytes song = bigSong(256u << 10);
    std::shared_ptr<const Song> parsed;
    parseSong(song, parsed);
    constexpr std::size_t kFrames = 30 * kSampleRate;
    BlockEvents byBlock;
    for (const SongEvent& e : parsed->events) {
        const std::uint64_t f = nsToFrames(e.timeNs, kSampleRate);
        if (f >= kFrames) break;
        byBlock.emplace_back((f + kBlockFrames / 2) / kBlockFrames, e);
    }
    std::vector<float> l(kBlockFrames * 8), r(kBlockFrames * 8);
    double bare = 1e9, device = 1e9;  // best of the runs: the least disturbed
    for (auto _ : state) {
        bare = std::min(bare, renderBare(byBlock, kFrames));
        {
            auto owned = manualDevice();
            FluidDevice& dev = *owned;
            DeviceId id = 0;
            std::uint32_t len = 0;
            dev.openBytes(song, id, len);
            dev.play(id, 0, {});
            const double t0 = threadCpuSeconds();
            for (std::size_t done = 0; done < kFrames; done += l.size()) {
                dev.renderManual(l.data(), r.data(), l.size());
            }
            device = std::min(device, threadCpuSeconds() - t0);
        }
    }
    state.counters["bare_synth_cpu_ms"] = bare * 1000;
    state.counters["device_cpu_ms"] = device * 1000;
    state.counters["overhead_pct"] = (device - bare) / bare * 100.0;
    state.counters["realtime_x"] = 30.0 / device;
}
BENCHMARK(BM_DeviceOverhead)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace lirno::device

BENCHMARK_MAIN();
