// The song's own time: where its ticks fall along the tempo map, and its
// bars and beats along the time signatures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lirno::device {

// A bar and a beat in it, both counted from 1, as musicians count them.
struct BarBeat {
    std::uint32_t bar = 1;
    std::uint32_t beat = 1;
    friend bool operator==(const BarBeat&, const BarBeat&) = default;
};

class SongTiming {
  public:
    // From `tick` on, each tick lasts `nsPerTick`; `ns` is the time of `tick`.
    struct Tempo {
        std::uint64_t tick = 0;
        double ns = 0;
        double nsPerTick = 0;
    };
    // A time signature from `tick` on: `numerator` beats of 1/`denominator`.
    struct Meter {
        std::uint64_t tick = 0;
        std::uint32_t numerator = 4;
        std::uint32_t denominator = 4;
        friend bool operator==(const Meter&, const Meter&) = default;
    };

    // 120 beats a minute in 4/4 at 480 ticks a quarter: a song with no timing
    // of its own.
    SongTiming();
    // `ppq` is 0 for a song timed in SMPTE frames: its beats are then
    // seconds and its bars are four of them. Tempo and meter points in tick
    // order; the first of each at tick 0 (added when missing).
    SongTiming(int ppq, std::vector<Tempo> tempos, std::vector<Meter> meters);

    int ppq() const noexcept { return ppq_; }
    const std::vector<Tempo>& tempos() const noexcept { return tempos_; }
    const std::vector<Meter>& meters() const noexcept { return meters_; }

    // The time of a tick, exactly as the reader times events.
    std::int64_t tickToNs(std::uint64_t tick) const;
    // The last tick at or before a time.
    std::uint64_t nsToTick(std::int64_t ns) const;
    // The beat nearest to a tick (ties to the later one).
    std::uint64_t nearestBeat(std::uint64_t tick) const;
    BarBeat barBeatOf(std::uint64_t tick) const;
    // The tick a bar and beat starts at; nothing for beat 0, bar 0 or a
    // beat past its bar.
    std::optional<std::uint64_t> tickOf(BarBeat at) const;

  private:
    std::size_t tempoAt(std::uint64_t tick) const;
    std::size_t meterAt(std::uint64_t tick) const;
    std::uint64_t beatTicks(const Meter& m) const;
    std::uint64_t barTicks(const Meter& m) const;

    int ppq_ = 480;
    std::vector<Tempo> tempos_;
    std::vector<Meter> meters_;
    std::vector<std::uint64_t> firstBar_;  // the number of each meter's first bar
};

// "9:1" (bar 9, beat 1) or "9" (bar 9, beat 1); nothing for anything else.
std::optional<BarBeat> parseBarBeat(const std::string& text);
std::string formatBarBeat(BarBeat at);

}  // namespace lirno::device
