// A fixed ring from one producer thread to one consumer: neither waits nor
// allocates, so a real-time thread may be either end. A push into a full
// ring fails (the caller counts the loss).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace lirno::device {

template <class T, std::size_t N>
class SpscRing {
    static_assert(N >= 2 && (N & (N - 1)) == 0, "a power of two");

  public:
    bool push(const T& item) noexcept {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) == N) return false;
        slots_[head & (N - 1)] = item;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }
    bool pop(T& item) noexcept {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) return false;
        item = slots_[tail & (N - 1)];
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

  private:
    std::array<T, N> slots_{};
    // Apart, so that the two ends do not share a cache line.
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace lirno::device
