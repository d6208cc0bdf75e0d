// The parsed, immutable form of a MIDI file as the player needs it: one
// time-ordered list of channel and system-exclusive messages with real times.
//
// Times are kept in nanoseconds (not frames) so that one parse serves any
// output rate; the audio side converts with nsToFrames().
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lirno::device {

// One eighth of a second: the unit of lengths and positions.
inline constexpr std::int64_t kNsPerUnit = 125'000'000;
inline constexpr std::int64_t kNsPerSecond = 1'000'000'000;
// Far beyond any real song, yet small enough that unit counts fit 32 bits and
// frame arithmetic never overflows; hostile delta times are clamped to it.
inline constexpr std::int64_t kMaxSongNs = std::int64_t{0xFFFFFFFF} * kNsPerUnit;

struct SongEvent {
    std::int64_t timeNs = 0;
    std::uint32_t sysex = 0;  // index into Song::sysex when status == 0xF0
    std::uint8_t status = 0;  // 0x80..0xEF channel message, or 0xF0
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::uint8_t track = 0;  // source track (saturated at 255), for diagnostics
};

struct SysexSpan {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

struct Song {
    std::vector<SongEvent> events;        // sorted by time, stable by track
    std::vector<std::uint8_t> sysexData;  // payloads without the F0 and final F7
    std::vector<SysexSpan> sysex;
    std::int64_t endNs = 0;  // time of the last event (End of Track included)
    int format = 0;
    int tracks = 0;  // MTrk chunks actually read

    // Whole units, rounded up so that the end of the last event is always
    // inside the song: a song that ends 1 ns past a unit boundary gets one
    // more unit, and a play from the last unit still plays that tail.
    std::uint32_t lengthUnits() const noexcept {
        return static_cast<std::uint32_t>((endNs + kNsPerUnit - 1) / kNsPerUnit);
    }
    std::span<const std::uint8_t> sysexBytes(const SongEvent& e) const noexcept {
        const SysexSpan s = sysex[e.sysex];
        return {sysexData.data() + s.offset, s.size};
    }
};

// Frame index (floor) of a time at a sample rate, without overflow for any
// time up to kMaxSongNs.
constexpr std::uint64_t nsToFrames(std::int64_t ns, std::uint32_t rate) noexcept {
    const auto t = static_cast<std::uint64_t>(ns < 0 ? 0 : ns);
    const auto s = static_cast<std::uint64_t>(kNsPerSecond);
    return (t / s) * rate + (t % s) * rate / s;
}

// Whole units reached at a frame (floor).
constexpr std::uint32_t framesToUnits(std::uint64_t frames, std::uint32_t rate) noexcept {
    return static_cast<std::uint32_t>(frames * 8 / rate);
}

constexpr std::int64_t unitsToNs(std::uint32_t units) noexcept {
    return static_cast<std::int64_t>(units) * kNsPerUnit;
}

}  // namespace lirno::device
