#include "mmio/scanner.h"

#include <algorithm>
#include <cstring>

namespace lirno {

Scanner scanner;

namespace {

// Steps over a length-prefixed body (system exclusive, meta data).
int skipBody(std::uint8_t*& pos, const std::uint8_t* end) {
    const Vlq len = readVlq(pos, end);
    if (!len.ok || len.value > static_cast<std::size_t>(end - pos) - len.bytes) {
        pos = const_cast<std::uint8_t*>(end);
        return kEvError;
    }
    pos += len.bytes + len.value;
    return kEvOther;
}

int scanMeta(std::uint8_t*& pos, const std::uint8_t* end, char* text) {
    if (pos >= end) {
        pos = const_cast<std::uint8_t*>(end);
        return kEvError;
    }
    const std::uint8_t t = *pos;
    if (t == midi::meta::kEndOfTrack) {  // its length byte is not read
        if (end - pos < 2) {
            pos = const_cast<std::uint8_t*>(end);
            return kEvError;
        }
        pos += 2;
        return kEvEndOfTrack;
    }
    ++pos;
    if (t != midi::meta::kTrackName) return skipBody(pos, end);
    const Vlq len = readVlq(pos, end);
    if (!len.ok || len.value > static_cast<std::size_t>(end - pos) - len.bytes) {
        pos = const_cast<std::uint8_t*>(end);
        return kEvError;
    }
    pos += len.bytes;
    const std::size_t n = std::min<std::size_t>(len.value, kEventTextSize - 1);
    std::memcpy(text, pos, n);
    text[n] = '\0';
    pos += len.value;
    return kEvName;
}

}  // namespace

int geteventAny(std::uint8_t*& pos, const std::uint8_t* end, char* text, int& value, int& channel) {
    auto fail = [&] {
        pos = const_cast<std::uint8_t*>(end);
        channel = midi::channelOf(scanner.type);
        return kEvError;
    };
    // Delta time: skipped, not computed.
    while (pos < end && (*pos & 0x80)) ++pos;
    if (pos >= end) return fail();
    ++pos;
    if (pos >= end) return fail();

    if (*pos & 0x80) {
        text[0] = 0;
        scanner.type = *pos++;
    } else {
        text[0] = 1;
    }
    const std::uint8_t type = scanner.type;
    channel = midi::channelOf(type);
    const auto left = static_cast<std::size_t>(end - pos);

    switch (midi::statusKind(type)) {
        case midi::kNoteOff:
        case midi::kNoteOn:
            if (left < 2) return fail();
            pos += 2;
            return midi::statusKind(type);
        case midi::kKeyPressure:
        case midi::kPitchBend:
            if (left < 2) return fail();
            pos += 2;
            return kEvOther;
        case midi::kControlChange: {
            if (left < 2) return fail();
            const std::uint8_t controller = pos[0];
            value = pos[1];
            pos += 2;
            return controllerCode(controller);
        }
        case midi::kProgramChange:
            if (left < 1) return fail();
            value = *pos++;
            return kEvProgram;
        case midi::kChannelPressure:
            if (left < 1) return fail();
            ++pos;
            return kEvOther;
        case midi::kSysEx:  // the system messages' kind
            if (type == midi::kSysEx || type == midi::kSysExEscape) return skipBody(pos, end);
            if (type == midi::kMeta) return scanMeta(pos, end, text);
            return kEvError;  // F1..FE: the position stays just behind the status byte
        default:
            // No status byte has ever been read: resynchronise on the next one.
            while (pos < end && !(*pos & 0x80)) ++pos;
            return kEvError;
    }
}

}  // namespace lirno
