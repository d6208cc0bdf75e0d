// The device tests' names for the shared SMF writer (common/smfwrite.h).
#pragma once

#include "common/smfwrite.h"

namespace lirno::device::test {

using namespace lirno::smf;

inline Bytes smf(int format, std::uint16_t division, const std::vector<Track>& tracks) {
    return file(format, division, tracks);
}

}  // namespace lirno::device::test
