// A song written at another speed and in another key: what the player's speed
// and key settings do while it plays, put into the file itself so that any
// player plays it so.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace lirno::cli {

struct Retime {
    int speed = 100;    // percent
    int transpose = 0;  // semitones
    bool identity() const noexcept { return speed == 100 && transpose == 0; }
};

// The bytes of a Standard MIDI File with every Set Tempo scaled by 100/speed
// (one of the default tempo added at the start when the song has none there),
// or for a song timed in SMPTE frames every delta time scaled; and every note
// and key pressure of a channel that is not a drum part at that moment moved
// by `transpose`, a note moved outside 0..127 left out with its end.
// Everything else stays byte for byte: a track that cannot be walked and any
// bytes that are not a track are copied as they are.
std::vector<std::uint8_t> retimeSong(std::span<const std::uint8_t> file, const Retime& r);

}  // namespace lirno::cli
