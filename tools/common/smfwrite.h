// The one writer of Standard MIDI File bytes: the demo song and every test
// that builds its files byte by byte, damaged ones included.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "midi/bytes.h"
#include "midi/vlq.h"
#include "midi/vocabulary.h"

namespace lirno::smf {

using Bytes = std::vector<std::uint8_t>;

inline void putVlq(Bytes& out, std::uint32_t v) {
    std::uint8_t tmp[5];
    out.insert(out.end(), tmp, tmp + midi::writeVlq(tmp, v));
}

inline void put32(Bytes& out, std::uint32_t v) {
    std::uint8_t tmp[4];
    midi::writeBE32(tmp, v);
    out.insert(out.end(), tmp, tmp + 4);
}

// One track's data, event by event.
class Track {
  public:
    // Raw bytes, exactly as given (for running status and damaged data).
    Track& raw(std::initializer_list<std::uint8_t> b) {
        data.insert(data.end(), b);
        return *this;
    }
    Track& raw(const Bytes& b) {
        data.insert(data.end(), b.begin(), b.end());
        return *this;
    }
    // Any bytes after a delta time: a status (or running-status data), data, ...
    Track& ev(std::uint32_t delta, std::initializer_list<std::uint8_t> b) {
        putVlq(data, delta);
        return raw(b);
    }
    Track& on(std::uint32_t delta, int ch, int key, int vel = 100) {
        return ev(delta, {u8(midi::kNoteOn | ch), u8(key), u8(vel)});
    }
    Track& off(std::uint32_t delta, int ch, int key, int vel = 64) {
        return ev(delta, {u8(midi::kNoteOff | ch), u8(key), u8(vel)});
    }
    Track& cc(std::uint32_t delta, int ch, int num, int value) {
        return ev(delta, {u8(midi::kControlChange | ch), u8(num), u8(value)});
    }
    Track& program(std::uint32_t delta, int ch, int prog) {
        return ev(delta, {u8(midi::kProgramChange | ch), u8(prog)});
    }
    // A meta event with a length written as a variable-length quantity.
    Track& meta(std::uint32_t delta, std::uint8_t type, std::string_view text) {
        putVlq(data, delta);
        data.push_back(midi::kMeta);
        data.push_back(type);
        putVlq(data, static_cast<std::uint32_t>(text.size()));
        data.insert(data.end(), text.begin(), text.end());
        return *this;
    }
    Track& text(std::uint32_t delta, std::string_view s) {
        return meta(delta, midi::meta::kText, s);
    }
    Track& name(std::string_view text, std::uint32_t delta = 0) {
        return meta(delta, midi::meta::kTrackName, text);
    }
    Track& tempo(std::uint32_t delta, std::uint32_t usPerQuarter) {
        return ev(delta, {midi::kMeta, midi::meta::kTempo, 0x03, u8(usPerQuarter >> 16),
                          u8(usPerQuarter >> 8), u8(usPerQuarter)});
    }
    // A system-exclusive event (kind F0) or escape (F7).
    Track& sysex(std::uint32_t delta, std::uint8_t kind, const Bytes& body) {
        ev(delta, {kind});
        putVlq(data, static_cast<std::uint32_t>(body.size()));
        return raw(body);
    }
    // End of Track (eot: the same).
    Track& end(std::uint32_t delta = 0) {
        return ev(delta, {midi::kMeta, midi::meta::kEndOfTrack, 0x00});
    }
    Track& eot(std::uint32_t delta = 0) { return end(delta); }

    const Bytes& bytes() const { return data; }

    Bytes data;

  private:
    static std::uint8_t u8(int v) { return static_cast<std::uint8_t>(v); }
};

// A chunk (any id) around data; length defaults to the data's.
inline void putChunk(Bytes& out, const char* id, const Bytes& data, std::int64_t length = -1) {
    out.insert(out.end(), id, id + 4);
    put32(out, static_cast<std::uint32_t>(length < 0 ? std::int64_t(data.size()) : length));
    out.insert(out.end(), data.begin(), data.end());
}

inline Bytes chunk(const char* id, const Bytes& data) {
    Bytes out;
    putChunk(out, id, data);
    return out;
}

// The "MThd" chunk alone.
inline Bytes header(int format, int nTracks, int division) {
    Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    for (int v : {format, nTracks, division}) {
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

// A whole file; nTracks defaults to the number of tracks given.
inline Bytes file(int format, int division, const std::vector<Track>& tracks, int nTracks = -1) {
    Bytes out = header(format, nTracks < 0 ? static_cast<int>(tracks.size()) : nTracks, division);
    for (const Track& t : tracks) putChunk(out, "MTrk", t.data);
    return out;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace lirno::smf
