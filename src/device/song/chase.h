// Chasing: the messages that put a fresh synthesizer into the state a song
// has reached at some point, so that playing from the middle sounds like
// playing through (instruments, volumes, pedals, bends, bend ranges, resets).
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "device/song/song.h"

namespace lirno::device {

// State in force just before song.events[end]: the last system reset (GM, GS
// or XG) and the system-exclusive messages after it, then per channel the
// bank and program, controllers, registered and non-registered parameters,
// pitch bend and channel pressure. Sounding notes are not restruck.
//
// The state is kept as the positions of the events that set each value, and
// snapshots of it along the song are cached in the song's ChaseCache: a
// later chase walks from the nearest snapshot only. A song whose edited
// tracks changed values but not what the chase keeps track of (see
// sameChaseShape) shares its predecessor's cache.
std::vector<SongEvent> chaseState(const Song& song, std::size_t end);

std::shared_ptr<ChaseCache> makeChaseCache();
// Takes the song's snapshots as far as `end`, ahead of a chase there.
void extendChase(const Song& song, std::size_t end);

// Whether two events play the same part in a chase: both notes (which the
// chase ignores), or the same kind of message on the same channel, the same
// controller (and the same parameter number for parameter selections), a
// system reset or not. Values may differ.
bool sameChaseShape(const SongEvent& a, std::span<const std::uint8_t> sysexA, const SongEvent& b,
                    std::span<const std::uint8_t> sysexB);

// True for a GM system on/off, GM2 on, GS reset or XG reset message body
// (without F0/F7): a point after which earlier state no longer matters.
bool isSystemReset(std::span<const std::uint8_t> body);

}  // namespace lirno::device
