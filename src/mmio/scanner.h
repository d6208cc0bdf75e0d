// The event scanner: steps through a track chunk one event at a time.
//
// It decodes only what the analysis, the track editor and the file writer act
// on, and leaves the position just behind the event, so that a caller patches
// an event by looking backwards from there: the status byte of an event with
// two data bytes is at position - 3, its last data byte at position - 1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "midi/vlq.h"
#include "midi/vocabulary.h"

namespace lirno {

// Event codes returned by getevent.
enum EventCode : int {
    kEvNoteOff = midi::kNoteOff,
    kEvNoteOn = midi::kNoteOn,
    kEvProgram = midi::kProgramChange,
    kEvVolume = midi::cc::kVolume,
    kEvBalance = midi::cc::kPan,
    kEvName = midi::meta::kTrackName,
    kEvEndOfTrack = midi::meta::kEndOfTrack,
    kEvOther = 33,  // anything else that was stepped over
    kEvError = 19,
};

// The code of a control change: volume and pan are the ones acted on.
inline int controllerCode(std::uint8_t controller) {
    return controller == midi::cc::kVolume ? kEvVolume
           : controller == midi::cc::kPan  ? kEvBalance
                                           : kEvOther;
}

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
inline void startTrack() {
    scanner.type = 0;
}

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
                    int& channel) {
    std::uint8_t* p = pos;
    // A one-byte delta time and a channel event whose bytes all lie before end.
    if (end - p >= 4 && !(p[0] & 0x80)) {
        const bool running = !(p[1] & 0x80);
        const std::uint8_t type = running ? scanner.type : p[1];
        std::uint8_t* d = running ? p + 1 : p + 2;
        if (midi::isChannelStatus(type)) {
            text[0] = running ? 1 : 0;
            scanner.type = type;
            channel = midi::channelOf(type);
            switch (midi::statusKind(type)) {
                case midi::kNoteOff:
                case midi::kNoteOn:
                    pos = d + 2;
                    return midi::statusKind(type);
                case midi::kControlChange:
                    value = d[1];
                    pos = d + 2;
                    return controllerCode(d[0]);
                case midi::kProgramChange:
                    value = d[0];
                    pos = d + 1;
                    return kEvProgram;
                case midi::kChannelPressure:
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

// Variable-length quantities, read without a byte limit: the scanner steps
// over a whole over-long one.
using midi::readVlq;
using midi::Vlq;
using midi::vlqLength;
using midi::writeVlq;

}  // namespace lirno
