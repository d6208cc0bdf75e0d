// A forgiving Standard MIDI File reader for playback.
//
// Files from the wild are often damaged: wrong chunk lengths, missing End of
// Track, junk chunks, running status carried across meta events. The reader
// plays whatever makes sense and never reads outside the buffer; only a file
// without a usable header is refused.
#pragma once

#include <cstdint>
#include <span>

#include "device/song.h"

namespace lirno::device {

enum class SmfError {
    None,
    NoHeader,     // no "MThd" chunk where one is expected
    ShortHeader,  // "MThd" present but its data is cut short
    BadDivision,  // zero ticks per quarter note or per frame
};

struct SmfResult {
    Song song;
    SmfError error = SmfError::None;
};

SmfResult readSmf(std::span<const std::uint8_t> bytes);

}  // namespace lirno::device
