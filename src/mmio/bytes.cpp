#include "mmio/bytes.h"

namespace lirno {

std::uint32_t getbyte(const std::uint8_t* p) { return p ? p[0] : 0; }

std::uint32_t getword(const std::uint8_t* p) { return p ? (std::uint32_t{p[0]} << 8) | p[1] : 0; }

std::uint32_t gettri(const std::uint8_t* p)
{
    return p ? (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2] : 0;
}

std::uint32_t getdword(const std::uint8_t* p)
{
    if (!p) return 0;
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

std::uint32_t getlong(const std::uint8_t* p) { return getdword(p); }

void setdword(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

}  // namespace lirno
