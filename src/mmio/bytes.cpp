#include "mmio/bytes.h"

#include "midi/bytes.h"

namespace lirno {

std::uint32_t getbyte(const std::uint8_t* p) {
    return p ? p[0] : 0;
}

std::uint32_t getword(const std::uint8_t* p) {
    return p ? midi::readBE16(p) : 0;
}

std::uint32_t gettri(const std::uint8_t* p) {
    return p ? midi::readBE24(p) : 0;
}

std::uint32_t getdword(const std::uint8_t* p) {
    return p ? midi::readBE32(p) : 0;
}

std::uint32_t getlong(const std::uint8_t* p) {
    return getdword(p);
}

void setdword(std::uint8_t* p, std::uint32_t value) {
    midi::writeBE32(p, value);
}

}  // namespace lirno
