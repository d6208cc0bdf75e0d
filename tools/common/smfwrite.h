// A tiny writer of Standard MIDI File bytes, for the demo song and for tests
// that build their files byte by byte.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace lirno::smf {

using Bytes = std::vector<std::uint8_t>;

inline void putVlq(Bytes& out, std::uint32_t v)
{
    std::uint8_t tmp[5];
    int n = 0;
    do {
        tmp[n++] = static_cast<std::uint8_t>(v & 0x7F);
        v >>= 7;
    } while (v);
    while (n--) out.push_back(static_cast<std::uint8_t>(tmp[n] | (n ? 0x80 : 0)));
}

inline void put32(Bytes& out, std::uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

// One track's data, event by event.
class Track {
public:
    // Raw bytes, exactly as given (for running status and damaged data).
    Track& raw(std::initializer_list<std::uint8_t> b)
    {
        data.insert(data.end(), b);
        return *this;
    }
    Track& raw(const Bytes& b)
    {
        data.insert(data.end(), b.begin(), b.end());
        return *this;
    }
    // An event after a delta time.
    Track& ev(std::uint32_t delta, std::initializer_list<std::uint8_t> b)
    {
        putVlq(data, delta);
        return raw(b);
    }
    Track& meta(std::uint32_t delta, std::uint8_t type, std::string_view text)
    {
        putVlq(data, delta);
        data.push_back(0xFF);
        data.push_back(type);
        putVlq(data, static_cast<std::uint32_t>(text.size()));
        data.insert(data.end(), text.begin(), text.end());
        return *this;
    }
    Track& name(std::string_view text, std::uint32_t delta = 0) { return meta(delta, 3, text); }
    Track& tempo(std::uint32_t delta, std::uint32_t usPerQuarter)
    {
        return ev(delta, {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(usPerQuarter >> 16),
                          static_cast<std::uint8_t>(usPerQuarter >> 8),
                          static_cast<std::uint8_t>(usPerQuarter)});
    }
    Track& end(std::uint32_t delta = 0) { return ev(delta, {0xFF, 0x2F, 0x00}); }

    Bytes data;
};

// An "MTrk" chunk (or any other id) around data; length defaults to the data's.
inline void putChunk(Bytes& out, const char* id, const Bytes& data, std::int64_t length = -1)
{
    out.insert(out.end(), id, id + 4);
    put32(out, static_cast<std::uint32_t>(length < 0 ? std::int64_t(data.size()) : length));
    out.insert(out.end(), data.begin(), data.end());
}

// A whole file; nTracks defaults to the number of tracks given.
inline Bytes file(int format, int division, const std::vector<Track>& tracks, int nTracks = -1)
{
    Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    const int n = nTracks < 0 ? static_cast<int>(tracks.size()) : nTracks;
    for (int v : {format, n, division}) {
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }
    for (const Track& t : tracks) putChunk(out, "MTrk", t.data);
    return out;
}

}  // namespace lirno::smf
