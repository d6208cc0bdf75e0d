// The parsed, immutable form of a MIDI file as the player needs it: one
// time-ordered list of channel and system-exclusive messages with real times.
//
// Times are kept in nanoseconds (not frames) so that one parse serves any
// output rate; the audio side converts with nsToFrames().
//
// The events live per track; the song's order is a list of (track, index)
// slots over them. A later read of the same file after an edit to one track
// shares the order and every other track with the song before (see
// rereadSmf), so that restarting after an edit costs what the edited track
// costs, not what the whole song costs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
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
    std::uint32_t sysex = 0;  // index into the song's sysex table when status == 0xF0
    std::uint8_t status = 0;  // 0x80..0xEF channel message, or 0xF0
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::uint8_t track = 0;  // source track (saturated at 255), for diagnostics
};

// Where the song's events stand in time order.
struct EventSlot {
    std::uint32_t track = 0;
    std::uint32_t index = 0;
};

// One track's playable events in file order, and its system-exclusive payloads
// (without the F0 and final F7).
struct TrackEvents {
    std::vector<SongEvent> events;
    std::vector<std::uint8_t> sysexData;
    std::vector<std::uint32_t> sysexEnds;  // end offset in sysexData of each payload
};

// The song's events in time order (ties in track order), read through the
// order slots; random access, like the vector it stands for.
class EventList {
  public:
    class iterator {
      public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = SongEvent;
        using difference_type = std::ptrdiff_t;
        using pointer = const SongEvent*;
        using reference = const SongEvent&;

        iterator() = default;
        iterator(const EventList* l, std::size_t i) : l_(l), i_(static_cast<difference_type>(i)) {}
        reference operator*() const { return (*l_)[static_cast<std::size_t>(i_)]; }
        pointer operator->() const { return &**this; }
        reference operator[](difference_type n) const { return *(*this + n); }
        iterator& operator++() {
            ++i_;
            return *this;
        }
        iterator operator++(int) {
            iterator t = *this;
            ++i_;
            return t;
        }
        iterator& operator--() {
            --i_;
            return *this;
        }
        iterator operator--(int) {
            iterator t = *this;
            --i_;
            return t;
        }
        iterator& operator+=(difference_type n) {
            i_ += n;
            return *this;
        }
        iterator& operator-=(difference_type n) {
            i_ -= n;
            return *this;
        }
        friend iterator operator+(iterator a, difference_type n) { return a += n; }
        friend iterator operator+(difference_type n, iterator a) { return a += n; }
        friend iterator operator-(iterator a, difference_type n) { return a -= n; }
        friend difference_type operator-(const iterator& a, const iterator& b) {
            return a.i_ - b.i_;
        }
        friend bool operator==(const iterator& a, const iterator& b) { return a.i_ == b.i_; }
        friend auto operator<=>(const iterator& a, const iterator& b) { return a.i_ <=> b.i_; }

      private:
        const EventList* l_ = nullptr;
        difference_type i_ = 0;
    };

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    const SongEvent& operator[](std::size_t i) const noexcept {
        const EventSlot s = order_[i];
        return bases_[s.track][s.index];
    }
    const SongEvent& back() const noexcept { return (*this)[size_ - 1]; }
    iterator begin() const { return {this, 0}; }
    iterator end() const { return {this, size_}; }
    // The index of the first event at or after `ns` (size() when none is).
    std::size_t firstAt(std::int64_t ns) const {
        const auto it = std::lower_bound(
            begin(), end(), ns, [](const SongEvent& e, std::int64_t t) { return e.timeNs < t; });
        return static_cast<std::size_t>(it - begin());
    }

    // Built by the reader: the order and the tracks it points into.
    void assign(std::shared_ptr<const std::vector<EventSlot>> order,
                std::vector<std::shared_ptr<const TrackEvents>> tracks);
    const std::shared_ptr<const std::vector<EventSlot>>& order() const noexcept {
        return orderOwner_;
    }
    const std::vector<std::shared_ptr<const TrackEvents>>& tracks() const noexcept {
        return tracks_;
    }

  private:
    std::shared_ptr<const std::vector<EventSlot>> orderOwner_;
    std::vector<std::shared_ptr<const TrackEvents>> tracks_;
    const EventSlot* order_ = nullptr;
    std::size_t size_ = 0;
    std::vector<const SongEvent*> bases_;
};

// What the reader keeps so that a later read of the rewritten file can reuse
// the parts whose bytes did not change.
struct SongSource;
// Chase snapshots along the song, filled as plays ask for them (chase.h).
struct ChaseCache;
class SongTiming;

struct Song {
    EventList events;
    std::vector<std::span<const std::uint8_t>> sysex;  // payloads, into the tracks' storage
    std::int64_t endNs = 0;  // time of the last event (End of Track included)
    int format = 0;
    int tracks = 0;                            // MTrk chunks actually read
    std::shared_ptr<const SongSource> source;  // null when the bytes were not kept
    std::shared_ptr<ChaseCache> chase;         // null: every chase walks from the start
    // Ticks, bars and beats; never null for a song the reader made.
    std::shared_ptr<const SongTiming> timing;

    // Whole units, rounded up so that the end of the last event is always
    // inside the song: a song that ends 1 ns past a unit boundary gets one
    // more unit, and a play from the last unit still plays that tail.
    std::uint32_t lengthUnits() const noexcept {
        return static_cast<std::uint32_t>((endNs + kNsPerUnit - 1) / kNsPerUnit);
    }
    std::span<const std::uint8_t> sysexBytes(const SongEvent& e) const noexcept {
        return sysex[e.sysex];
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
