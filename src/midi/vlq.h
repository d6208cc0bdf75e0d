// Variable-length quantities: delta times and the lengths of system-exclusive
// and meta events. The reads never look at or beyond `end`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace lirno::midi {

// A quantity read, and how many bytes it took; ok is false when the bytes ran
// out before it ended.
struct Vlq {
    std::uint32_t value = 0;
    std::size_t bytes = 0;
    bool ok = false;
};

// Stops after maxBytes bytes even when the last of them asks for more (a
// reader that keeps in step with damaged data that way). Values are capped at
// 2^28 - 1, the largest four bytes can hold: more than any file holds.
constexpr Vlq readVlq(const std::uint8_t* p, const std::uint8_t* end,
                      std::size_t maxBytes = std::numeric_limits<std::size_t>::max()) noexcept {
    constexpr std::uint64_t kCap = (std::uint64_t{1} << 28) - 1;
    Vlq v;
    while (p < end) {
        const std::uint8_t b = *p++;
        ++v.bytes;
        const std::uint64_t next = (std::uint64_t{v.value} << 7) | (b & 0x7Fu);
        v.value = static_cast<std::uint32_t>(next < kCap ? next : kCap);
        if ((b & 0x80) == 0 || v.bytes == maxBytes) {
            v.ok = true;
            return v;
        }
    }
    return v;
}

constexpr std::size_t vlqLength(std::uint32_t value) noexcept {
    std::size_t n = 1;
    while (value >>= 7) ++n;
    return n;
}

// Writes value (up to five bytes for the largest) and returns its length.
constexpr std::size_t writeVlq(std::uint8_t* out, std::uint32_t value) noexcept {
    const std::size_t n = vlqLength(value);
    for (std::size_t i = 0; i < n; ++i) {
        const auto shift = 7 * (n - 1 - i);
        out[i] = static_cast<std::uint8_t>(((value >> shift) & 0x7F) | (i + 1 < n ? 0x80 : 0));
    }
    return n;
}

}  // namespace lirno::midi
