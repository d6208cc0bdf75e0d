// A forgiving Standard MIDI File reader for playback.
//
// Files from the wild are often damaged: wrong chunk lengths, missing End of
// Track, junk chunks, running status carried across meta events. The reader
// plays whatever makes sense and never reads outside the buffer; only a file
// without a usable header is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "device/song/song.h"

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

// A whole file's bytes, read once and shared by the songs made from them.
struct FileBytes {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
    std::span<const std::uint8_t> view() const noexcept { return {data.get(), size}; }
};
using SharedBytes = std::shared_ptr<const FileBytes>;

SmfResult readSmf(std::span<const std::uint8_t> bytes);
// The same, keeping the bytes in the song so that rereadSmf can compare a
// rewritten file with them.
SmfResult readSmf(SharedBytes bytes);
// Reads a rewritten version of the file `previous` was read from (by the
// SharedBytes overload). Tracks whose bytes did not change are not read
// again; an edited track whose events keep their times and count (a mute,
// a new volume, pan or program) is read alone and put in the place of the
// old one, sharing the time order, the tempo map and every other track.
// Anything else reads the whole file. The song is always exactly the one
// readSmf gives for the same bytes.
SmfResult rereadSmf(SharedBytes bytes, const Song& previous);

// The data of each track chunk, found as the reader finds them (past a RIFF
// wrapper, a wrong header or chunk length, junk between chunks); none when
// the file has no usable header.
std::vector<std::span<const std::uint8_t>> trackChunks(std::span<const std::uint8_t> bytes);

}  // namespace lirno::device
