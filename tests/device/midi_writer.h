// A tiny Standard MIDI File writer for building test songs byte by byte,
// including deliberately damaged ones.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace lirno::device::test {

using Bytes = std::vector<std::uint8_t>;

inline void putVlq(Bytes& out, std::uint32_t v) {
    std::uint8_t tmp[5];
    int n = 0;
    tmp[n++] = v & 0x7F;
    while ((v >>= 7) != 0) tmp[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
    while (n > 0) out.push_back(tmp[--n]);
}

inline void put32(Bytes& out, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

class Track {
public:
    // Any bytes after a delta time: a status (or running-status data), data, ...
    Track& ev(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes) {
        putVlq(b_, delta);
        b_.insert(b_.end(), bytes);
        return *this;
    }
    Track& on(std::uint32_t delta, int ch, int key, int vel = 100) {
        return ev(delta, {u8(0x90 | ch), u8(key), u8(vel)});
    }
    Track& off(std::uint32_t delta, int ch, int key, int vel = 64) {
        return ev(delta, {u8(0x80 | ch), u8(key), u8(vel)});
    }
    Track& cc(std::uint32_t delta, int ch, int num, int value) {
        return ev(delta, {u8(0xB0 | ch), u8(num), u8(value)});
    }
    Track& program(std::uint32_t delta, int ch, int prog) {
        return ev(delta, {u8(0xC0 | ch), u8(prog)});
    }
    Track& tempo(std::uint32_t delta, std::uint32_t usPerQuarter) {
        return ev(delta, {0xFF, 0x51, 0x03, u8(usPerQuarter >> 16), u8(usPerQuarter >> 8),
                          u8(usPerQuarter)});
    }
    Track& text(std::uint32_t delta, const std::string& s) {
        ev(delta, {0xFF, 0x01});
        putVlq(b_, static_cast<std::uint32_t>(s.size()));
        b_.insert(b_.end(), s.begin(), s.end());
        return *this;
    }
    Track& sysex(std::uint32_t delta, std::uint8_t kind, const Bytes& body) {
        ev(delta, {kind});
        putVlq(b_, static_cast<std::uint32_t>(body.size()));
        b_.insert(b_.end(), body.begin(), body.end());
        return *this;
    }
    Track& eot(std::uint32_t delta = 0) { return ev(delta, {0xFF, 0x2F, 0x00}); }

    const Bytes& bytes() const { return b_; }

private:
    static std::uint8_t u8(int v) { return static_cast<std::uint8_t>(v); }
    Bytes b_;
};

inline Bytes chunk(const char* id, const Bytes& body) {
    Bytes out(id, id + 4);
    put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Bytes header(int format, int tracks, std::uint16_t division) {
    return chunk("MThd", {0, static_cast<std::uint8_t>(format), static_cast<std::uint8_t>(tracks >> 8),
                          static_cast<std::uint8_t>(tracks), static_cast<std::uint8_t>(division >> 8),
                          static_cast<std::uint8_t>(division)});
}

inline Bytes smf(int format, std::uint16_t division, const std::vector<Track>& tracks) {
    Bytes out = header(format, static_cast<int>(tracks.size()), division);
    for (const Track& t : tracks) {
        const Bytes c = chunk("MTrk", t.bytes());
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace lirno::device::test
