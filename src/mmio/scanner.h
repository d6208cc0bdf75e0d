// The event scanner: steps through a track chunk one event at a time.
//
// It decodes only what the analysis, the track editor and the file writer act
// on, and leaves the position just behind the event, so that a caller patches
// an event by looking backwards from there: the status byte of an event with
// two data bytes is at position - 3, its last data byte at position - 1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lirno {

// Event codes returned by getevent.
enum EventCode : int {
    kEvNoteOff = 0x80,
    kEvNoteOn = 0x90,
    kEvProgram = 0xC0,
    kEvVolume = 7,   // controller 7
    kEvBalance = 10, // controller 10 (pan)
    kEvName = 3,     // meta event 3, the track name
    kEvEndOfTrack = 47,
    kEvOther = 33,   // anything else that was stepped over
    kEvError = 19,
};

// The text buffer a caller hands to getevent.
inline constexpr std::size_t kEventTextSize = 260;

// The running status: the last status byte read from the data. It is shared by
// every walk over every image for the whole run and never reset, so a data
// byte after a system-exclusive or meta event repeats that event.
struct Scanner {
    std::uint8_t type = 0;
};
extern Scanner scanner;

// Scans the event at pos (its delta time) and returns its code.
// text[0] receives 0 when the event has its own status byte, 1 under running
// status; a name event puts its text there instead (NUL-terminated, at most
// 259 bytes). value receives a controller's value or a program number;
// channel always receives the running status' low four bits.
// Nothing at or beyond end is read: an event that would run past it gives
// kEvError with pos at end.
int getevent(std::uint8_t*& pos, const std::uint8_t* end, char* text, int& value, int& channel);

// A variable-length quantity and how many bytes it took; ok is false when it
// runs past end. Values are capped at 2^28 - 1 (more than any image holds).
struct Vlq {
    std::uint32_t value = 0;
    std::size_t bytes = 0;
    bool ok = false;
};
Vlq readVlq(const std::uint8_t* p, const std::uint8_t* end);

// Writes value (below 2^28) as a variable-length quantity; returns its length.
std::size_t writeVlq(std::uint8_t* out, std::uint32_t value);
std::size_t vlqLength(std::uint32_t value);

}  // namespace lirno
