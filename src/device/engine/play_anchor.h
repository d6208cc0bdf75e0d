// Where the song was when the audio side last rendered, published without a
// lock so that the ports' thread can tell where in the song a key was struck.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "device/engine/sample_rates.h"

namespace lirno::device {

// Now on the clock every anchor and every key's arrival is read on.
inline std::int64_t steadyNowNs() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct PlayAnchor {
    std::int64_t ns = 0;       // steady clock at the render call
    std::int64_t frame = 0;    // song frame (at 100 %) heard `latency` frames after `ns`
    int speed = 100;           // percent
    std::int64_t latency = 0;  // real frames between rendering and hearing
    std::uint64_t serial = 0;  // the play; 0 while nothing plays
    // A passage on repeat: song frames from endFrame on are loopFrame's again.
    std::int64_t loopFrame = 0;
    std::int64_t endFrame = 0;  // 0: no repeat
};

// The song frame heard at steady-clock time `ns`: the player hears a
// block's frames only after the block went out.
inline std::int64_t songFrameAt(const PlayAnchor& a, std::int64_t ns,
                                std::uint32_t rate = kSampleRate) noexcept {
    const double real =
        static_cast<double>(ns - a.ns) * rate / 1e9 - static_cast<double>(a.latency);
    std::int64_t frame = a.frame + static_cast<std::int64_t>(real * a.speed / 100.0);
    if (a.endFrame > a.loopFrame && frame >= a.endFrame) {
        frame = a.loopFrame + (frame - a.loopFrame) % (a.endFrame - a.loopFrame);
    }
    return frame < 0 ? 0 : frame;
}

// A sequence lock: one writer at a time (the audio side) never waits;
// readers retry while a write is under way.
class AnchorBoard {
  public:
    void publish(const PlayAnchor& a) noexcept {
        const std::uint64_t s = seq_.load(std::memory_order_relaxed);
        seq_.store(s + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        ns_.store(a.ns, std::memory_order_relaxed);
        frame_.store(a.frame, std::memory_order_relaxed);
        speed_.store(a.speed, std::memory_order_relaxed);
        latency_.store(a.latency, std::memory_order_relaxed);
        serial_.store(a.serial, std::memory_order_relaxed);
        loopFrame_.store(a.loopFrame, std::memory_order_relaxed);
        endFrame_.store(a.endFrame, std::memory_order_relaxed);
        seq_.store(s + 2, std::memory_order_release);
    }
    // False when no consistent copy could be had (a writer kept writing).
    bool read(PlayAnchor& a) const noexcept {
        for (int attempt = 0; attempt < 64; ++attempt) {
            const std::uint64_t s = seq_.load(std::memory_order_acquire);
            if ((s & 1) != 0) continue;
            a.ns = ns_.load(std::memory_order_relaxed);
            a.frame = frame_.load(std::memory_order_relaxed);
            a.speed = speed_.load(std::memory_order_relaxed);
            a.latency = latency_.load(std::memory_order_relaxed);
            a.serial = serial_.load(std::memory_order_relaxed);
            a.loopFrame = loopFrame_.load(std::memory_order_relaxed);
            a.endFrame = endFrame_.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (seq_.load(std::memory_order_relaxed) == s) return true;
        }
        return false;
    }

  private:
    std::atomic<std::uint64_t> seq_{0};
    std::atomic<std::int64_t> ns_{0};
    std::atomic<std::int64_t> frame_{0};
    std::atomic<int> speed_{100};
    std::atomic<std::int64_t> latency_{0};
    std::atomic<std::uint64_t> serial_{0};
    std::atomic<std::int64_t> loopFrame_{0};
    std::atomic<std::int64_t> endFrame_{0};
};

}  // namespace lirno::device
