// Chasing: the messages that put a fresh synthesizer into the state a song
// has reached at some point, so that playing from the middle sounds like
// playing through (instruments, volumes, pedals, bends, bend ranges, resets).
#pragma once

#include <cstddef>
#include <vector>

#include "device/song.h"

namespace lirno::device {

// State in force just before song.events[end]: the last system reset (GM, GS
// or XG) and the system-exclusive messages after it, then per channel the
// bank and program, controllers, registered and non-registered parameters,
// pitch bend and channel pressure. Sounding notes are not restruck.
std::vector<SongEvent> chaseState(const Song& song, std::size_t end);

// True for a GM system on/off, GM2 on, GS reset or XG reset message body
// (without F0/F7): a point after which earlier state no longer matters.
bool isSystemReset(std::span<const std::uint8_t> body);

}  // namespace lirno::device
