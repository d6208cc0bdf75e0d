// Holds an output to real time.
//
// A sound card takes samples exactly as fast as it plays them; some outputs
// (ALSA's null device, broken virtual devices) take them as fast as they are
// made, which would make a song race to its end. Rendering is allowed a
// small lead over the wall clock, as much as any card buffers, and beyond
// that the output's thread waits. A real card never gets that far ahead, so
// it never waits here.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace lirno::device {

class RealTimePace {
  public:
    using Clock = std::chrono::steady_clock;

    explicit RealTimePace(std::uint32_t rate,
                          std::chrono::nanoseconds lead = std::chrono::milliseconds(250)) noexcept;

    // How long `frames` more frames must wait to stay within the lead at
    // `now` (zero almost always); the frames count as rendered from then.
    Clock::duration take(std::size_t frames, Clock::time_point now) noexcept;
    // take(), sleeping out the wait.
    void hold(std::size_t frames) noexcept;

  private:
    std::uint32_t rate_;
    double capacity_;  // frames of lead
    double credit_;    // frames that may be rendered now
    Clock::time_point last_{};
    bool started_ = false;
};

}  // namespace lirno::device
