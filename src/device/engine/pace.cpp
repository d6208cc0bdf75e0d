#include "device/engine/pace.h"

#include <algorithm>
#include <thread>

namespace lirno::device {

RealTimePace::RealTimePace(std::uint32_t rate, std::chrono::nanoseconds lead) noexcept
    : rate_(rate),
      capacity_(std::chrono::duration<double>(lead).count() * rate),
      credit_(capacity_) {}

RealTimePace::Clock::duration RealTimePace::take(std::size_t frames,
                                                 Clock::time_point now) noexcept {
    if (started_ && now > last_) {
        credit_ = std::min(capacity_,
                           credit_ + std::chrono::duration<double>(now - last_).count() * rate_);
    }
    started_ = true;
    last_ = now;
    credit_ -= static_cast<double>(frames);
    if (credit_ >= 0) return Clock::duration::zero();
    // The debt is paid by the time that passes during the wait.
    const auto wait = std::chrono::duration<double>(-credit_ / rate_);
    return std::chrono::duration_cast<Clock::duration>(wait);
}

void RealTimePace::hold(std::size_t frames) noexcept {
    const auto wait = take(frames, Clock::now());
    if (wait > Clock::duration::zero()) std::this_thread::sleep_for(wait);
}

}  // namespace lirno::device
