#include "device/song/smf_reader.h"

#include "device/song/chase.h"
#include "device/song/timing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "midi/bytes.h"
#include "midi/vlq.h"
#include "midi/vocabulary.h"

namespace lirno::device {

void EventList::assign(std::shared_ptr<const std::vector<EventSlot>> order,
                       std::vector<std::shared_ptr<const TrackEvents>> tracks) {
    orderOwner_ = std::move(order);
    tracks_ = std::move(tracks);
    order_ = orderOwner_ ? orderOwner_->data() : nullptr;
    size_ = orderOwner_ ? orderOwner_->size() : 0;
    bases_.resize(tracks_.size());
    for (std::size_t i = 0; i < tracks_.size(); ++i) bases_[i] = tracks_[i]->events.data();
}

namespace {

constexpr std::uint32_t kDefaultTempo = 500'000;  // microseconds per quarter: 120 bpm
// Keeps tick sums far from overflow whatever the delta times say; the time
// clamp (kMaxSongNs) is what really bounds a hostile file.
constexpr std::uint64_t kMaxTick = std::uint64_t{1} << 60;
// Junk before the header (a Mac resource prefix, say) is tolerated this far.
constexpr std::size_t kHeaderSearchWindow = 512;

bool idIs(const std::uint8_t* p, std::string_view id) {
    return std::memcmp(p, id.data(), 4) == 0;
}

// Reads within [p, end) only; every read reports whether it fitted.
struct Cursor {
    const std::uint8_t* p;
    const std::uint8_t* end;

    bool byte(std::uint8_t& b) {
        if (p >= end) return false;
        b = *p++;
        return true;
    }
    // Variable-length quantity; an over-long one stops after four bytes, as
    // no legal value needs more.
    bool vlq(std::uint32_t& v) {
        if (p < end && *p < 0x80) {  // the common one-byte delta
            v = *p++;
            return true;
        }
        const midi::Vlq q = midi::readVlq(p, end, 4);
        p = q.ok ? p + q.bytes : end;
        v = q.value;
        return q.ok;
    }
    std::span<const std::uint8_t> take(std::uint32_t n) {
        const auto avail = static_cast<std::size_t>(end - p);
        const std::size_t k = std::min<std::size_t>(n, avail);
        std::span<const std::uint8_t> s{p, k};
        p += k;
        return s;
    }
};

struct TempoChange {
    std::uint64_t tick;
    std::uint32_t tempo;
    std::uint32_t at;  // events of its track before it
    bool operator==(const TempoChange&) const = default;
};

// One track read on its own. Until the song's times are known, each event's
// timeNs holds its tick.
struct ParsedTrack {
    TrackEvents data;
    std::vector<TempoChange> tempos;
    std::vector<SongTiming::Meter> meters;  // time signatures
    std::vector<std::uint32_t> sysexAt;     // indices of the system-exclusive events
    std::uint64_t endTick = 0;
    const std::uint8_t* stop = nullptr;  // where reading ended
};

std::uint64_t tickOf(const SongEvent& e) {
    return static_cast<std::uint64_t>(e.timeNs);
}

void addSysex(ParsedTrack& out, std::span<const std::uint8_t> payload, std::uint64_t tick,
              std::uint8_t track) {
    if (!payload.empty() && payload.back() == midi::kSysExEscape) {
        payload = payload.first(payload.size() - 1);
    }
    TrackEvents& d = out.data;
    d.sysexData.insert(d.sysexData.end(), payload.begin(), payload.end());
    out.sysexAt.push_back(static_cast<std::uint32_t>(d.events.size()));
    SongEvent e;
    e.timeNs = static_cast<std::int64_t>(tick);
    e.sysex = static_cast<std::uint32_t>(d.sysexEnds.size());
    e.status = midi::kSysEx;
    e.track = track;
    d.sysexEnds.push_back(static_cast<std::uint32_t>(d.sysexData.size()));
    d.events.push_back(e);
}

// One track's reading, event by event. Meta and sysex events do not cancel
// running status here: real files rely on it carrying across them. The track
// ends at End of Track, at the chunk's end or at the first message cut short;
// without an End of Track it ends at its last event. Each step returns
// whether the track goes on.
struct TrackParse {
    Cursor c;
    std::uint8_t track;
    ParsedTrack& out;
    std::uint64_t tick = 0;
    std::uint64_t lastTick = 0;  // of the last event read whole
    std::uint8_t running = 0;
    bool eot = false;

    bool event() {
        std::uint32_t delta = 0;
        if (!c.vlq(delta)) return false;
        tick = std::min(tick + delta, kMaxTick);
        std::uint8_t b = 0;
        if (!c.byte(b)) return false;
        if (b < 0x80) {
            if (running == 0) return true;  // stray data byte with nothing to run on
            --c.p;
            b = running;
        }
        if (midi::isChannelStatus(b)) return channelMessage(b);
        if (b == midi::kSysEx || b == midi::kSysExEscape) return sysex(b);
        if (b == midi::kMeta) return metaEvent();
        lastTick = tick;
        for (int i = midi::strayDataBytes(b); i > 0 && c.p < c.end && *c.p < 0x80; --i) ++c.p;
        return true;
    }

    bool channelMessage(std::uint8_t status) {
        std::uint8_t d1 = 0;
        std::uint8_t d2 = 0;
        if (!c.byte(d1)) return false;
        if (midi::dataBytes(status) == 2 && !c.byte(d2)) return false;
        running = status;
        lastTick = tick;
        SongEvent e;
        e.timeNs = static_cast<std::int64_t>(tick);
        e.status = status;
        e.data1 = d1 & 0x7F;
        e.data2 = d2 & 0x7F;
        e.track = track;
        out.data.events.push_back(e);
        return true;
    }

    // An F7 packet is only playable when it carries a whole message;
    // continuation packets and escaped real-time bytes are dropped.
    bool sysex(std::uint8_t kind) {
        std::uint32_t len = 0;
        if (!c.vlq(len)) return false;
        const auto body = c.take(len);
        lastTick = tick;
        if (body.size() != len) return false;
        if (kind == midi::kSysEx) {
            addSysex(out, body, tick, track);
        } else if (!body.empty() && body.front() == midi::kSysEx) {
            addSysex(out, body.subspan(1), tick, track);
        }
        return true;
    }

    bool metaEvent() {
        std::uint8_t type = 0;
        std::uint32_t len = 0;
        if (!c.byte(type) || !c.vlq(len)) return false;
        const auto body = c.take(len);
        if (body.size() != len) return false;
        lastTick = tick;
        if (type == midi::meta::kEndOfTrack) {
            eot = true;
            return false;
        }
        if (type == midi::meta::kTempo && len >= 3) {
            const std::uint32_t tempo = midi::readBE24(body.data());
            if (tempo != 0) {
                const auto at = static_cast<std::uint32_t>(out.data.events.size());
                out.tempos.push_back({tick, tempo, at});
            }
        }
        if (type == midi::meta::kTimeSignature && len >= 2) {
            out.meters.push_back({tick, body[0], 1u << std::min<std::uint8_t>(body[1], 6)});
        }
        return true;
    }
};

void parseTrack(Cursor c, std::uint8_t track, ParsedTrack& out) {
    // Nearly every event takes three bytes or more (a delta time, a status
    // or running-status data byte, data): no regrowth, and no more than a
    // file's worth of memory set aside for one that is mostly something else.
    out.data.events.reserve(static_cast<std::size_t>(c.end - c.p) / 3 + 1);
    TrackParse parse{c, track, out};
    while (parse.event()) {
    }
    out.endTick = parse.eot ? parse.tick : parse.lastTick;
    out.stop = parse.c.p;
}

struct Division {
    int ppq = 0;                // ticks per quarter note, when metrical
    double smpteNsPerTick = 0;  // when SMPTE
};

// A negative high byte is -frames per second; 29 stands for 29.97 drop-frame.
bool decodeDivision(std::uint16_t raw, Division& d) {
    if (raw & 0x8000) {
        const int fps = -static_cast<int>(static_cast<std::int8_t>(raw >> 8));
        const int perFrame = raw & 0xFF;
        if (fps <= 0 || perFrame == 0) return false;
        const double realFps = fps == 29 ? 30000.0 / 1001.0 : fps;
        d.smpteNsPerTick = 1e9 / (realFps * perFrame);
        return true;
    }
    d.ppq = raw;
    return raw != 0;
}

std::int64_t clampNs(double ns) {
    return ns < static_cast<double>(kMaxSongNs) ? static_cast<std::int64_t>(ns + 0.5) : kMaxSongNs;
}

// Tick-to-time along tempo changes that arrive in tick order; SMPTE time
// ignores tempo events. Used for format 2, where each track starts at an
// offset.
class Clock {
  public:
    Clock(const Division& d, std::uint32_t tempo, std::int64_t offsetNs)
        : ppq_(d.ppq), offset_(static_cast<double>(offsetNs)), tempo_(tempo) {
        nsPerTick_ = d.ppq == 0 ? d.smpteNsPerTick : tempo * 1000.0 / d.ppq;
    }

    // Ticks must not go backwards. Far into a song, rounding across a tempo
    // change could put a later tick a few ns before an earlier one; the
    // result never goes backwards either.
    std::int64_t toNs(std::uint64_t tick) {
        const double ns = offset_ + segNs_ + static_cast<double>(tick - segTick_) * nsPerTick_;
        last_ = std::max(last_, clampNs(ns));
        return last_;
    }

    void setTempo(std::uint64_t tick, std::uint32_t tempo) {
        if (ppq_ == 0) return;
        segNs_ += static_cast<double>(tick - segTick_) * nsPerTick_;
        segTick_ = tick;
        nsPerTick_ = tempo * 1000.0 / ppq_;
        tempo_ = tempo;
    }

    std::uint32_t tempo() const { return tempo_; }

  private:
    int ppq_;
    double offset_;
    std::uint32_t tempo_;
    double nsPerTick_ = 0;
    std::uint64_t segTick_ = 0;
    double segNs_ = 0;
    std::int64_t last_ = 0;
};

// Format 0 and 1: one tempo map for all tracks, tempo changes from any track
// applying to every track from their tick on (ties between tracks in track
// order). A time is a function of the tick alone, never decreasing with it,
// so each track is timed on its own. It becomes the song's timing, with the
// time signatures of every track.
class TempoMap {
  public:
    TempoMap(const Division& div, const std::vector<ParsedTrack>& tracks) : ppq_(div.ppq) {
        const double first = div.ppq == 0 ? div.smpteNsPerTick : kDefaultTempo * 1000.0 / div.ppq;
        segs_.push_back({0, 0.0, first});
        if (div.ppq == 0) return;
        std::vector<TempoChange> all;
        for (const ParsedTrack& t : tracks) all.insert(all.end(), t.tempos.begin(), t.tempos.end());
        std::stable_sort(all.begin(), all.end(), [](const TempoChange& a, const TempoChange& b) {
            return a.tick < b.tick;
        });
        for (const TempoChange& c : all) {
            const Seg& s = segs_.back();
            const double ns = s.ns + static_cast<double>(c.tick - s.tick) * s.nsPerTick;
            const double perTick = c.tempo * 1000.0 / div.ppq;
            if (s.tick == c.tick) {
                segs_.back() = {c.tick, ns, perTick};
            } else {
                segs_.push_back({c.tick, ns, perTick});
            }
        }
    }

    // Replaces each event's tick by its time; `k` is the segment the
    // previous event of the track was in.
    void time(SongEvent* first, SongEvent* last, std::size_t& k) const {
        for (; first != last; ++first) {
            SongEvent& e = *first;
            const std::uint64_t tick = tickOf(e);
            if (k + 1 < segs_.size() && segs_[k + 1].tick <= tick) k = find(tick, k);
            const Seg& s = segs_[k];
            e.timeNs = clampNs(s.ns + static_cast<double>(tick - s.tick) * s.nsPerTick);
        }
    }

    std::int64_t toNs(std::uint64_t tick) const {
        const Seg& s = segs_[find(tick, 0)];
        return clampNs(s.ns + static_cast<double>(tick - s.tick) * s.nsPerTick);
    }

    std::shared_ptr<const SongTiming> timing(const std::vector<ParsedTrack>& tracks) const {
        std::vector<SongTiming::Meter> meters;
        for (const ParsedTrack& t : tracks)
            meters.insert(meters.end(), t.meters.begin(), t.meters.end());
        std::stable_sort(meters.begin(), meters.end(),
                         [](const auto& a, const auto& b) { return a.tick < b.tick; });
        // Of several at one tick, the last (in track order) holds.
        std::vector<SongTiming::Meter> kept;
        for (const auto& m : meters) {
            if (!kept.empty() && kept.back().tick == m.tick) kept.pop_back();
            kept.push_back(m);
        }
        return std::make_shared<const SongTiming>(ppq_, segs_, std::move(kept));
    }

  private:
    using Seg = SongTiming::Tempo;
    // The last segment starting at or before tick, searching from `from`.
    std::size_t find(std::uint64_t tick, std::size_t from) const {
        const auto it =
            std::upper_bound(segs_.begin() + static_cast<std::ptrdiff_t>(from) + 1, segs_.end(),
                             tick, [](std::uint64_t t, const Seg& s) { return t < s.tick; });
        return static_cast<std::size_t>(it - segs_.begin()) - 1;
    }

    int ppq_;
    std::vector<Seg> segs_;
};

// The time order of all tracks' events: by tick, ties in track order, each
// track's own order kept. A counting sort on the tick (or its high bits, when
// the ticks span far more than there are events) puts the events into
// buckets, in track order; buckets of several ticks are then sorted by tick,
// stably. It runs window by window along the song, every track advancing
// through the window in turn, so that the counts and the part of the order
// being written stay in the cache.
// Each window's events get their times once they are in order.
class TimeOrder {
  public:
    TimeOrder(std::vector<ParsedTrack>& tracks, const TempoMap& map) : tracks_(tracks), map_(map) {}

    std::vector<EventSlot> run() {
        survey();
        if (active_.size() <= 1) return oneTrack();
        chooseBuckets();
        order_.resize(n_);
        pos_.resize(static_cast<std::size_t>(width_) + 1);
        next_.assign(tracks_.size(), 0);
        stop_.assign(tracks_.size(), 0);
        segment_.assign(tracks_.size(), 0);
        for (std::uint64_t lo = 0; lo < buckets_; lo += width_) {
            count(lo);
            const std::uint32_t windowEnd = pos_.back();
            place(lo);
            if (shift_ > 0) sortBuckets(windowEnd);
            time();
            placed_ = windowEnd;
        }
        return std::move(order_);
    }

  private:
    void survey() {
        for (std::size_t t = 0; t < tracks_.size(); ++t) {
            const auto& ev = tracks_[t].data.events;
            n_ += ev.size();
            if (!ev.empty()) {
                maxTick_ = std::max(maxTick_, tickOf(ev.back()));
                active_.push_back(static_cast<std::uint32_t>(t));
            }
        }
    }

    // At most one track has events: its own order is the song's.
    std::vector<EventSlot> oneTrack() {
        order_.reserve(n_);
        for (const std::uint32_t t : active_) {
            auto& ev = tracks_[t].data.events;
            std::size_t k = 0;
            map_.time(ev.data(), ev.data() + ev.size(), k);
            for (std::size_t i = 0; i < ev.size(); ++i) {
                order_.push_back({t, static_cast<std::uint32_t>(i)});
            }
        }
        return std::move(order_);
    }

    // Songs rarely span more ticks than they hold events: then each bucket is
    // one tick and needs no sorting at all. Windows are wide enough that
    // stepping every track through each one costs no more than the events
    // themselves.
    void chooseBuckets() {
        if (maxTick_ >= std::max<std::uint64_t>(n_ * 4, 1024)) {
            while ((maxTick_ >> shift_) >= n_) ++shift_;
        }
        buckets_ = (maxTick_ >> shift_) + 1;
        width_ = std::min(buckets_, std::max<std::uint64_t>(std::uint64_t{1} << 10,
                                                            buckets_ * active_.size() / n_ + 1));
    }

    // Counts the events of each bucket in the window from bucket lo on, then
    // turns the counts into where each bucket starts in the order. stop_ ends
    // each track's part of the window.
    void count(std::uint64_t lo) {
        const int shift = shift_;
        const auto bucket = [shift](const SongEvent& e) { return tickOf(e) >> shift; };
        const std::uint64_t hi = lo + width_;
        std::uint32_t* pos = pos_.data();
        std::fill(pos_.begin(), pos_.end(), 0);
        for (std::size_t a = 0; a < active_.size(); ++a) {
            const std::uint32_t t = active_[a];
            if (a + 1 < active_.size()) prefetch(active_[a + 1]);
            const SongEvent* ev = tracks_[t].data.events.data();
            const auto size = static_cast<std::uint32_t>(tracks_[t].data.events.size());
            std::uint32_t i = next_[t];
            for (; i < size && bucket(ev[i]) < hi; ++i) ++pos[bucket(ev[i]) - lo + 1];
            stop_[t] = i;
        }
        pos[0] = placed_;
        for (std::size_t b = 1; b < pos_.size(); ++b) pos[b] += pos[b - 1];
    }

    // The next track's events were read long ago: fetch the start of its
    // part while this one is counted.
    void prefetch(std::uint32_t t) const {
        const SongEvent* ahead = tracks_[t].data.events.data() + next_[t];
        for (int line = 0; line < 16; ++line) __builtin_prefetch(ahead + line * 4);
    }

    // Puts the window's events into their buckets, track after track.
    void place(std::uint64_t lo) {
        const int shift = shift_;
        const auto bucket = [shift](const SongEvent& e) { return tickOf(e) >> shift; };
        EventSlot* out = order_.data();
        std::uint32_t* at = pos_.data();
        for (const std::uint32_t t : active_) {
            const SongEvent* ev = tracks_[t].data.events.data();
            const std::uint32_t end = stop_[t];
            for (std::uint32_t i = next_[t]; i < end; ++i) out[at[bucket(ev[i]) - lo]++] = {t, i};
        }
    }

    // pos_[b] is now where bucket b ends.
    void sortBuckets(std::uint32_t windowEnd) {
        std::uint32_t from = placed_;
        for (std::size_t b = 0; b + 1 < pos_.size() && from < windowEnd; ++b) {
            EventSlot* first = order_.data() + from;
            EventSlot* last = order_.data() + pos_[b];
            from = pos_[b];
            sortBucket(first, last);
        }
    }

    void sortBucket(EventSlot* first, EventSlot* last) const {
        if (last - first < 2) return;
        const auto earlier = [this](const EventSlot& a, const EventSlot& c) {
            return tick(a) < tick(c);
        };
        // Mostly one tick, or a few runs: insertion sort is linear then.
        if (last - first > 256 && !std::is_sorted(first, last, earlier)) {
            std::stable_sort(first, last, earlier);
            return;
        }
        for (EventSlot* i = first + 1; i < last; ++i) {
            const EventSlot v = *i;
            const std::uint64_t k = tick(v);
            EventSlot* j = i;
            for (; j > first && tick(*(j - 1)) > k; --j) *j = *(j - 1);
            *j = v;
        }
    }

    std::uint64_t tick(const EventSlot& s) const {
        return tickOf(tracks_[s.track].data.events[s.index]);
    }

    // The window's events are in order: their ticks can become times.
    void time() {
        for (const std::uint32_t t : active_) {
            SongEvent* ev = tracks_[t].data.events.data();
            map_.time(ev + next_[t], ev + stop_[t], segment_[t]);
            next_[t] = stop_[t];
        }
    }

    std::vector<ParsedTrack>& tracks_;
    const TempoMap& map_;
    std::size_t n_ = 0;  // events in all
    std::uint64_t maxTick_ = 0;
    std::vector<std::uint32_t> active_;  // tracks with events
    int shift_ = 0;                      // a bucket holds 1 << shift_ ticks
    std::uint64_t buckets_ = 0;
    std::uint64_t width_ = 0;  // buckets in a window
    std::vector<EventSlot> order_;
    std::vector<std::uint32_t> pos_;    // by bucket of the window
    std::vector<std::uint32_t> next_;   // each track's first event not yet placed
    std::vector<std::uint32_t> stop_;   // each track's first event past the window
    std::vector<std::size_t> segment_;  // each track's tempo segment, for timing
    std::uint32_t placed_ = 0;          // events in the order so far
};

struct TrackSpan {
    std::size_t begin;  // offsets into the file's bytes
    std::size_t end;
};

// A chunk id of four printable characters is taken as a chunk to skip;
// anything else means the previous length was wrong and we resynchronise.
bool plausibleId(const std::uint8_t* p) {
    return std::all_of(p, p + 4, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

std::size_t findTrack(std::span<const std::uint8_t> b, std::size_t from) {
    for (std::size_t i = from; i + 8 <= b.size(); ++i) {
        if (idIs(b.data() + i, "MTrk")) return i;
    }
    return b.size();
}

// The track chunks, each clamped to the file. A chunk whose length runs past
// the end of the file is read through to find where it really stops, so it
// does not swallow the tracks behind it.
std::vector<TrackSpan> findTracks(std::span<const std::uint8_t> b, std::size_t pos) {
    std::vector<TrackSpan> spans;
    while (pos + 8 <= b.size()) {
        const std::uint8_t* id = b.data() + pos;
        const std::size_t body = pos + 8;
        const std::size_t declared = midi::readBE32(id + 4);
        const bool clamped = declared > b.size() - body;
        const std::size_t bodyEnd = clamped ? b.size() : body + declared;
        if (idIs(id, "MTrk")) {
            TrackSpan span{body, bodyEnd};
            pos = bodyEnd;
            if (clamped) {
                ParsedTrack scan;
                parseTrack(Cursor{b.data() + body, b.data() + bodyEnd}, 0, scan);
                span.end = static_cast<std::size_t>(scan.stop - b.data());
                pos = findTrack(b, span.end);
            }
            spans.push_back(span);
        } else if (plausibleId(id)) {
            pos = bodyEnd;
        } else {
            pos = findTrack(b, pos + 1);
        }
    }
    return spans;
}

// A RIFF "RMID" wrapper holds the file in its "data" chunk.
std::span<const std::uint8_t> unwrapRiff(std::span<const std::uint8_t> b) {
    if (b.size() < 12 || !idIs(b.data(), "RIFF") || !idIs(b.data() + 8, "RMID")) return b;
    std::size_t pos = 12;
    while (pos + 8 <= b.size()) {
        const std::uint8_t* p = b.data() + pos;
        const std::size_t len = std::min<std::size_t>(
            p[4] | (p[5] << 8) | (p[6] << 16) | (std::size_t{p[7]} << 24), b.size() - pos - 8);
        if (idIs(p, "data")) return b.subspan(pos + 8, len);
        pos += 8 + len + (len & 1);
    }
    return b;
}

struct Header {
    SmfError error = SmfError::None;
    std::span<const std::uint8_t> file;  // from "MThd" on
    int format = 0;
    std::uint16_t division = 0;
    Division div;
    std::size_t firstChunk = 0;  // in `file`
};

Header readHeader(std::span<const std::uint8_t> bytes) {
    Header r;
    const auto b = unwrapRiff(bytes);
    std::size_t at = 0;
    while (at + 4 <= b.size() && at < kHeaderSearchWindow && !idIs(b.data() + at, "MThd")) ++at;
    if (at + 4 > b.size() || at >= kHeaderSearchWindow) {
        r.error = SmfError::NoHeader;
        return r;
    }
    const auto h = b.subspan(at);
    if (h.size() < 14 || midi::readBE32(h.data() + 4) < 6) {
        r.error = SmfError::ShortHeader;
        return r;
    }
    r.division = midi::readBE16(h.data() + 12);
    if (!decodeDivision(r.division, r.div)) {
        r.error = SmfError::BadDivision;
        return r;
    }
    const std::uint32_t headerLen = midi::readBE32(h.data() + 4);
    std::size_t pos = 8 + std::min<std::size_t>(headerLen, h.size() - 8);
    // A wrong header length with the first track right behind the usual six bytes.
    if (headerLen != 6 && h.size() >= 18 && idIs(h.data() + 14, "MTrk") &&
        (pos + 4 > h.size() || !idIs(h.data() + pos, "MTrk"))) {
        pos = 14;
    }
    r.file = h;
    r.format = midi::readBE16(h.data() + 8);
    r.firstChunk = pos;
    return r;
}

}  // namespace

struct SongSource {
    SharedBytes bytes;
    std::span<const std::uint8_t> file;  // the SMF within bytes
    std::vector<TrackSpan> spans;
    std::vector<std::uint32_t> sysexBase;  // each track's first index in the sysex table
    int format = 0;
    std::uint16_t division = 0;
};

namespace {

std::span<const std::uint8_t> chunk(std::span<const std::uint8_t> file, const TrackSpan& s) {
    return file.subspan(s.begin, s.end - s.begin);
}

ParsedTrack parseSpan(std::span<const std::uint8_t> file, const TrackSpan& s, std::size_t index) {
    ParsedTrack p;
    const auto idx = static_cast<std::uint8_t>(std::min<std::size_t>(index, 255));
    parseTrack(Cursor{file.data() + s.begin, file.data() + s.end}, idx, p);
    return p;
}

// Format 2: independent sequences played one after another. Each starts with
// the tempo the previous one left in force, as the channel state also carries.
std::int64_t timeSequential(std::vector<ParsedTrack>& tracks, const Division& div) {
    std::uint32_t tempo = kDefaultTempo;
    std::int64_t offset = 0;
    for (ParsedTrack& t : tracks) {
        Clock clock(div, tempo, offset);
        auto next = t.tempos.begin();
        auto& ev = t.data.events;
        for (std::size_t i = 0; i < ev.size(); ++i) {
            for (; next != t.tempos.end() && next->at == i; ++next)
                clock.setTempo(next->tick, next->tempo);
            ev[i].timeNs = clock.toNs(tickOf(ev[i]));
        }
        for (; next != t.tempos.end(); ++next) clock.setTempo(next->tick, next->tempo);
        offset = clock.toNs(t.endTick);
        tempo = clock.tempo();
    }
    return offset;
}

// Puts the parsed tracks together as a song: the time order, the sysex table
// (each track's payloads numbered after the previous track's).
void assemble(std::vector<ParsedTrack>& parsed, std::vector<EventSlot> order, Song& song,
              SongSource& src) {
    std::vector<std::shared_ptr<const TrackEvents>> tracks;
    tracks.reserve(parsed.size());
    src.sysexBase.reserve(parsed.size());
    for (ParsedTrack& p : parsed) {
        const auto base = static_cast<std::uint32_t>(song.sysex.size());
        src.sysexBase.push_back(base);
        for (const std::uint32_t i : p.sysexAt) p.data.events[i].sysex += base;
        auto t = std::make_shared<TrackEvents>(std::move(p.data));
        std::uint32_t from = 0;
        for (const std::uint32_t end : t->sysexEnds) {
            song.sysex.emplace_back(t->sysexData.data() + from, end - from);
            from = end;
        }
        tracks.push_back(std::move(t));
    }
    song.events.assign(std::make_shared<const std::vector<EventSlot>>(std::move(order)),
                       std::move(tracks));
}

SmfResult readWhole(std::span<const std::uint8_t> bytes, SharedBytes keep) {
    SmfResult r;
    const Header h = readHeader(bytes);
    if (h.error != SmfError::None) {
        r.error = h.error;
        return r;
    }
    auto src = std::make_shared<SongSource>();
    src->spans = findTracks(h.file, h.firstChunk);
    src->format = h.format;
    src->division = h.division;
    src->file = h.file;
    Song& song = r.song;
    song.format = h.format;
    song.tracks = static_cast<int>(src->spans.size());
    std::vector<ParsedTrack> parsed;
    parsed.reserve(src->spans.size());
    for (std::size_t i = 0; i < src->spans.size(); ++i) {
        parsed.push_back(parseSpan(h.file, src->spans[i], i));
    }
    std::vector<EventSlot> order;
    const TempoMap map(h.div, parsed);
    // A format 2 song's sequences each have their own ticks: its bars and
    // beats are read as if its tracks played together.
    song.timing = map.timing(parsed);
    if (h.format == 2) {
        song.endNs = timeSequential(parsed, h.div);
        for (std::size_t t = 0; t < parsed.size(); ++t) {
            for (std::size_t i = 0; i < parsed[t].data.events.size(); ++i) {
                order.push_back({static_cast<std::uint32_t>(t), static_cast<std::uint32_t>(i)});
            }
        }
    } else {
        order = TimeOrder(parsed, map).run();
        std::uint64_t endTick = 0;
        for (const ParsedTrack& t : parsed) endTick = std::max(endTick, t.endTick);
        song.endNs = map.toNs(endTick);
        if (!order.empty()) {
            const EventSlot last = order.back();
            song.endNs = std::max(song.endNs, parsed[last.track].data.events[last.index].timeNs);
        }
    }
    assemble(parsed, std::move(order), song, *src);
    song.chase = makeChaseCache();
    if (keep) {
        src->bytes = std::move(keep);
        song.source = std::move(src);
    }
    return r;
}

// An edited track can take the old one's place when its events come at the
// same ticks and the tempo changes and end are the same: only the messages
// themselves differ.
bool sameShape(const ParsedTrack& a, const ParsedTrack& b) {
    const auto& x = a.data.events;
    const auto& y = b.data.events;
    if (x.size() != y.size() || a.endTick != b.endTick || a.tempos != b.tempos ||
        a.meters != b.meters || a.sysexAt.size() != b.sysexAt.size()) {
        return false;
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i].timeNs != y[i].timeNs) return false;
    }
    return true;
}

// The tracks whose bytes changed, and how many bytes they now hold.
struct Changes {
    std::vector<std::size_t> tracks;
    std::size_t bytes = 0;
};

Changes changedTracks(std::span<const std::uint8_t> file, const std::vector<TrackSpan>& spans,
                      const SongSource& old) {
    Changes changed;
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const auto a = chunk(file, spans[i]);
        const auto b = chunk(old.file, old.spans[i]);
        if (a.size() != b.size() || std::memcmp(a.data(), b.data(), a.size()) != 0) {
            changed.tracks.push_back(i);
            changed.bytes += a.size();
        }
    }
    return changed;
}

// Whether each event of an edited track plays the same part in the chase as
// the one it replaces.
bool sameChaseShapes(const Song& before, const TrackEvents& was, const Song& after,
                     const TrackEvents& now) {
    const auto sysex = [](const Song& s, const SongEvent& e) {
        return e.status == midi::kSysEx ? s.sysexBytes(e) : std::span<const std::uint8_t>{};
    };
    for (std::size_t k = 0; k < was.events.size(); ++k) {
        const SongEvent& a = was.events[k];
        const SongEvent& b = now.events[k];
        if (!sameChaseShape(a, sysex(before, a), b, sysex(after, b))) return false;
    }
    return true;
}

// A file read again after an edit: the song before, where it came from, and
// the new file's track chunks.
struct Reread {
    const Song& previous;
    const SongSource& old;
    std::span<const std::uint8_t> file;
    const std::vector<TrackSpan>& spans;
};

// Reads changed track i alone and puts it in the place of the old one, with
// the old one's times and sysex numbers; false when it does not keep the old
// one's shape. chaseKept turns false when an edited event plays another part
// in the chase.
bool replaceTrack(const Reread& r, std::size_t i, Song& song,
                  std::vector<std::shared_ptr<const TrackEvents>>& tracks, bool& chaseKept) {
    ParsedTrack now = parseSpan(r.file, r.spans[i], i);
    const ParsedTrack before = parseSpan(r.old.file, r.old.spans[i], i);
    if (!sameShape(now, before)) return false;
    // Same ticks under the same tempo map: the same times.
    const auto& timed = tracks[i]->events;
    auto& ev = now.data.events;
    const std::uint32_t base = r.old.sysexBase[i];
    for (std::size_t k = 0; k < ev.size(); ++k) ev[k].timeNs = timed[k].timeNs;
    for (const std::uint32_t k : now.sysexAt) ev[k].sysex += base;
    auto t = std::make_shared<TrackEvents>(std::move(now.data));
    std::uint32_t from = 0;
    for (std::size_t k = 0; k < t->sysexEnds.size(); ++k) {
        song.sysex[base + k] = {t->sysexData.data() + from, t->sysexEnds[k] - from};
        from = t->sysexEnds[k];
    }
    chaseKept = chaseKept && sameChaseShapes(r.previous, *tracks[i], song, *t);
    tracks[i] = std::move(t);
    return true;
}

}  // namespace

SmfResult readSmf(std::span<const std::uint8_t> bytes) {
    return readWhole(bytes, nullptr);
}

SmfResult readSmf(SharedBytes bytes) {
    const std::span<const std::uint8_t> view = bytes->view();
    return readWhole(view, std::move(bytes));
}

std::vector<std::span<const std::uint8_t>> trackChunks(std::span<const std::uint8_t> bytes) {
    std::vector<std::span<const std::uint8_t>> chunks;
    const Header h = readHeader(bytes);
    if (h.error != SmfError::None) return chunks;
    for (const TrackSpan& s : findTracks(h.file, h.firstChunk)) chunks.push_back(chunk(h.file, s));
    return chunks;
}

SmfResult rereadSmf(SharedBytes bytes, const Song& previous) {
    const SongSource* old = previous.source.get();
    const std::span<const std::uint8_t> view = bytes->view();
    const Header h = readHeader(view);
    if (old == nullptr || h.error != SmfError::None || h.format == 2 || h.format != old->format ||
        h.division != old->division) {
        return readWhole(view, std::move(bytes));
    }
    std::vector<TrackSpan> spans = findTracks(h.file, h.firstChunk);
    if (spans.size() != old->spans.size()) return readWhole(view, std::move(bytes));
    const Changes changed = changedTracks(h.file, spans, *old);
    // Reading a changed track twice (old and new) only pays while few changed.
    if (changed.bytes > h.file.size() / 2) return readWhole(view, std::move(bytes));

    SmfResult r;
    r.song = previous;
    Song& song = r.song;
    auto tracks = previous.events.tracks();
    bool chaseKept = true;
    const Reread edit{previous, *old, h.file, spans};
    for (const std::size_t i : changed.tracks) {
        if (!replaceTrack(edit, i, song, tracks, chaseKept)) {
            return readWhole(view, std::move(bytes));
        }
    }
    // The chase keeps positions of events, not their values: its snapshots
    // hold as long as the edited events play the same part in it.
    if (!chaseKept) song.chase = makeChaseCache();
    song.events.assign(previous.events.order(), std::move(tracks));
    auto src = std::make_shared<SongSource>(*old);
    src->bytes = std::move(bytes);
    src->file = h.file;
    src->spans = std::move(spans);
    song.source = std::move(src);
    return r;
}

}  // namespace lirno::device
