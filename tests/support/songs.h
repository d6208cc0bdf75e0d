// The SMF writer's names as the tests that build songs byte by byte use them.
#pragma once

#include <cstdint>

#include "common/smfwrite.h"

namespace lirno::test {

using smf::Bytes;
using smf::Track;

// A status or data byte worked out as an int (0x90 | channel).
inline std::uint8_t u8(int v) {
    return static_cast<std::uint8_t>(v);
}

}  // namespace lirno::test
