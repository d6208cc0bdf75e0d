// The first sound of a song with a large SoundFont that is not loaded yet,
// and what reading its instruments costs the output.
//
// Each run starts the device as the player does (the SoundFont loads in the
// background), opens a song and plays it at once into an output that pulls
// like a sound card (64-frame blocks in real time). It reports:
//   first_sound_ms  from the device's creation to the first sounding sample
//   worst_block_ms  the longest time one block took to render once the song
//                   had started (an output with 16 periods of 64 frames
//                   underruns only past about 23 ms)
//   late_blocks     blocks that took longer than their own 1.45 ms
//   rss_mb          the process's peak resident memory
// BM_SoundChangeWhilePlaying plays the song with TimGM6mb, then sets the
// sound to SOUNDFONT alone and then to TimGM6mb over SOUNDFONT (reverb off):
//   set_ms, stack_set_ms    how long setSound took the caller (the new
//                           synthesizer reads the fonts' directories)
//   to_sound_ms, stack_to_sound_ms
//                           from the call to the song restarting where it
//                           was with the new sound (its position going
//                           back to the start of its unit)
//
// SOUNDFONT may name several files joined with ':' (a stack).
//   sound_bench SONG.mid [SOUNDFONT] [SECONDS] --benchmark_repetitions=3
// Defaults: FluidR3 GM, 30 seconds. One run per process is the honest cold
// start; repetitions show the spread with the file in the page cache.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/engine/fluid_device.h"

namespace lirno::device {
namespace {

using Clock = std::chrono::steady_clock;

std::string gSong;
std::string gSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
int gSeconds = 30;

struct Watch {
    Clock::time_point start;
    std::atomic<std::int64_t> firstSoundNs{-1};
    std::atomic<std::int64_t> worstBlockNs{0};
    std::atomic<long> lateBlocks{0};
};

class CardOutput final : public AudioOutput {
  public:
    CardOutput(OutputSink& sink, Watch& watch)
        : thread_([this, &sink, &watch] {
              std::vector<float> l(64), r(64);
              auto due = Clock::now();
              while (!stop_.load()) {
                  const auto t0 = Clock::now();
                  sink.render(l.data(), r.data(), l.size());
                  const auto took = Clock::now() - t0;
                  const bool sounding =
                      std::any_of(l.begin(), l.end(), [](float v) { return v != 0; });
                  const auto sinceStart = std::chrono::nanoseconds(t0 - watch.start).count();
                  if (sounding && watch.firstSoundNs.load() < 0)
                      watch.firstSoundNs.store(sinceStart);
                  if (watch.firstSoundNs.load() >= 0) {
                      const auto ns = std::chrono::nanoseconds(took).count();
                      if (ns > watch.worstBlockNs.load()) watch.worstBlockNs.store(ns);
                      if (took > std::chrono::microseconds(1451)) ++watch.lateBlocks;
                  }
                  due += std::chrono::microseconds(1451);
                  std::this_thread::sleep_until(due);
              }
          }) {}
    ~CardOutput() override {
        stop_.store(true);
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

constexpr const char* kSmallFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// A device as the player starts it, playing the song into a card-like output.
struct Playing {
    Watch watch;
    DeviceId id = 0;
    std::unique_ptr<FluidDevice> dev;
};

// False, the run marked skipped, when the song does not play.
bool startPlaying(benchmark::State& state, Playing& p, const std::string& font) {
    DeviceSettings s;
    s.soundFont = font;
    s.output = [&p](const std::string&, const OutputOptions&, OutputSink& sink) {
        return std::make_unique<CardOutput>(sink, p.watch);
    };
    p.watch.start = Clock::now();
    p.dev = std::make_unique<FluidDevice>(s);
    std::uint32_t len = 0;
    if (p.dev->open(gSong, p.id, len) == 0 && p.dev->play(p.id, 0, {}) == 0) return true;
    state.SkipWithError("the song does not open or play");
    return false;
}

double peakMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_FirstSoundAndMemory(benchmark::State& state) {
    for (auto _ : state) {
        Playing p;
        if (!startPlaying(state, p, gSoundFont)) return;
        std::this_thread::sleep_for(std::chrono::seconds(gSeconds));
        p.dev->stop(p.id);
        state.counters["first_sound_ms"] = static_cast<double>(p.watch.firstSoundNs.load()) / 1e6;
        state.counters["worst_block_ms"] = static_cast<double>(p.watch.worstBlockNs.load()) / 1e6;
        state.counters["late_blocks"] = static_cast<double>(p.watch.lateBlocks.load());
        state.counters["rss_mb"] = peakMb();
    }
}
BENCHMARK(BM_FirstSoundAndMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// Sets the sound while the song plays: how long the call takes, and how long
// until the play restarts with it (-1 if it never did within 5 s).
std::pair<double, double> changeSound(FluidDevice& dev, const SoundSettings& sound) {
    std::uint64_t reached = dev.playedFrame();
    const auto t0 = Clock::now();
    if (dev.setSound(sound) != 0) return {-1, -1};
    const double setMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    while (Clock::now() - t0 < std::chrono::seconds(5)) {
        const std::uint64_t now = dev.playedFrame();
        if (now < reached)
            return {setMs, std::chrono::duration<double, std::milli>(Clock::now() - t0).count()};
        reached = now;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return {setMs, -1};
}

void BM_SoundChangeWhilePlaying(benchmark::State& state) {
    for (auto _ : state) {
        Playing p;
        if (!startPlaying(state, p, kSmallFont)) return;
        // Changes halfway through a unit, so that the restart (at the unit's
        // start) shows as the position going back.
        constexpr auto kHalfUnit = std::chrono::milliseconds(62);
        std::this_thread::sleep_for(std::chrono::seconds(2) + kHalfUnit);
        SoundSettings alone;
        alone.soundFonts = {gSoundFont};
        const auto [setMs, toSoundMs] = changeSound(*p.dev, alone);
        std::this_thread::sleep_for(std::chrono::seconds(2) -
                                    std::chrono::milliseconds(static_cast<int>(toSoundMs)));
        SoundSettings stacked;
        stacked.soundFonts = {kSmallFont, gSoundFont};
        stacked.reverb.on = false;
        const auto [stackSetMs, stackToSoundMs] = changeSound(*p.dev, stacked);
        std::this_thread::sleep_for(std::chrono::seconds(std::max(1, gSeconds - 4)));
        p.dev->stop(p.id);
        state.counters["set_ms"] = setMs;
        state.counters["to_sound_ms"] = toSoundMs;
        state.counters["stack_set_ms"] = stackSetMs;
        state.counters["stack_to_sound_ms"] = stackToSoundMs;
        state.counters["worst_block_ms"] = static_cast<double>(p.watch.worstBlockNs.load()) / 1e6;
        state.counters["rss_mb"] = peakMb();
    }
}
BENCHMARK(BM_SoundChangeWhilePlaying)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lirno::device

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SONG.mid [SOUNDFONT] [SECONDS]\n", argv[0]);
        return 2;
    }
    lirno::device::gSong = argv[1];
    if (argc > 2) lirno::device::gSoundFont = argv[2];
    if (argc > 3) lirno::device::gSeconds = std::atoi(argv[3]);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
