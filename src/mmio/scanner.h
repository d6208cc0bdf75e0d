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

// The running status: the last status byte read from the data. Within a
// track a data byte after a system-exclusive or meta event repeats that
// event. Every walk over a track starts it afresh (startTrack), so the same
// bytes always scan the same way, whatever was scanned before.
struct Scanner {
    std::uint8_t type = 0;
};
extern Scanner scanner;

// Call before scanning a track's first event.
inline void startTrack() { scanner.type = 0; }

// Scans the event at pos (its delta time) and returns its code.
// text[0] receives 0 when the event has its own status byte, 1 under running
// status; a name event puts its text there instead (NUL-terminated, at most
// 259 bytes). value receives a controller's value or a program number;
// channel always receives the running status' low four bits.
// Nothing at or beyond end is read: an event that would run past it gives
// kEvError with pos at end.
int geteventAny(std::uint8_t*& pos, const std::uint8_t* end, char* text, int& value, int& channel);

// geteventAny decodes everything; the common channel events are decoded
// inline here, since the analysis spends most of its time on them.
inline int getevent(std::uint8_t*& pos, const std::uint8_t* end, char* text, int& value,
                    int& channel)
{
    std::uint8_t* p = pos;
    // A one-byte delta time and a channel event whose bytes all lie before end.
    if (end - p >= 4 && !(p[0] & 0x80)) {
        const bool running = !(p[1] & 0x80);
        const std::uint8_t type = running ? scanner.type : p[1];
        std::uint8_t* d = running ? p + 1 : p + 2;
        const unsigned kind = type >> 4;
        if (kind >= 0x8 && kind <= 0xE) {
            text[0] = running ? 1 : 0;
            scanner.type = type;
            channel = type & 0x0F;
            switch (kind) {
            case 0x8:
            case 0x9:
                pos = d + 2;
                return type & 0xF0;
            case 0xB:
                value = d[1];
                pos = d + 2;
                return d[0] == 7 ? kEvVolume : d[0] == 10 ? kEvBalance : kEvOther;
            case 0xC:
                value = d[0];
                pos = d + 1;
                return kEvProgram;
            case 0xD:
                pos = d + 1;
                return kEvOther;
            default:  // key pressure, pitch bend
                pos = d + 2;
                return kEvOther;
            }
        }
    }
    return geteventAny(pos, end, text, value, channel);
}

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
