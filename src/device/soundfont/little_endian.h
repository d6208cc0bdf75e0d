// Little-endian fields, as RIFF files (SoundFonts among them) store them. The
// caller checks that the bytes are there; these only put them together.
#pragma once

#include <cstdint>

namespace lirno::device {

constexpr std::uint16_t readLE16(const std::uint8_t* p) noexcept {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
constexpr std::uint32_t readLE32(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
constexpr void writeLE16(std::uint8_t* p, std::uint16_t value) noexcept {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}
constexpr void writeLE32(std::uint8_t* p, std::uint32_t value) noexcept {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace lirno::device
