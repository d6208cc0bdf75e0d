// Big-endian fields of a Standard MIDI File held in memory.
#pragma once

#include <cstdint>

namespace lirno {

// Each reader returns 0 for a null pointer and reads nothing then.
std::uint32_t getbyte(const std::uint8_t* p);
std::uint32_t getword(const std::uint8_t* p);
std::uint32_t gettri(const std::uint8_t* p);
std::uint32_t getdword(const std::uint8_t* p);
// A fixed 4-byte read, the same as getdword (not a variable-length quantity).
std::uint32_t getlong(const std::uint8_t* p);
// p must not be null.
void setdword(std::uint8_t* p, std::uint32_t value);

}  // namespace lirno
