#include "device/smf_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace lirno::device {
namespace {

constexpr std::uint32_t kDefaultTempo = 500'000;  // microseconds per quarter: 120 bpm
// Keeps tick sums far from overflow whatever the delta times say; the time
// clamp (kMaxSongNs) is what really bounds a hostile file.
constexpr std::uint64_t kMaxTick = std::uint64_t{1} << 60;
// Junk before the header (a Mac resource prefix, say) is tolerated this far.
constexpr std::size_t kHeaderSearchWindow = 512;

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}
std::uint16_t be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
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
        v = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b = 0;
            if (!byte(b)) return false;
            v = (v << 7) | (b & 0x7Fu);
            if ((b & 0x80) == 0) return true;
        }
        return true;
    }
    std::span<const std::uint8_t> take(std::uint32_t n) {
        const auto avail = static_cast<std::size_t>(end - p);
        const std::size_t k = std::min<std::size_t>(n, avail);
        std::span<const std::uint8_t> s{p, k};
        p += k;
        return s;
    }
};

// Where system-exclusive payloads go; null when only scanning a track.
struct SysexStore {
    std::vector<std::uint8_t>* data = nullptr;
    std::vector<SysexSpan>* spans = nullptr;

    std::uint32_t add(std::span<const std::uint8_t> payload) {
        if (data == nullptr) return 0;
        if (!payload.empty() && payload.back() == 0xF7) payload = payload.first(payload.size() - 1);
        const SysexSpan s{static_cast<std::uint32_t>(data->size()),
                          static_cast<std::uint32_t>(payload.size())};
        data->insert(data->end(), payload.begin(), payload.end());
        spans->push_back(s);
        return static_cast<std::uint32_t>(spans->size() - 1);
    }
};

int channelDataBytes(std::uint8_t status) {
    const int kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

// Data bytes that follow a system common / real-time byte that has no place
// in a file; skipping them keeps the rest of the track in step.
int strayDataBytes(std::uint8_t status) {
    switch (status) {
        case 0xF1:
        case 0xF3:
            return 1;
        case 0xF2:
            return 2;
        default:
            return 0;
    }
}

// Reads one track item by item, so that all tracks can be read side by side
// in time order.
class TrackParser {
public:
    enum class Item { Event, Tempo, End };

    TrackParser(Cursor c, std::uint8_t trackIndex, SysexStore sysex)
        : c_(c), track_(trackIndex), sysex_(sysex) {}

    // Moves to the next playable event or tempo change, or to the end.
    Item step() {
        while (true) {
            std::uint32_t delta = 0;
            if (!c_.vlq(delta)) return finish(false);
            tick_ = std::min(tick_ + delta, kMaxTick);
            std::uint8_t b = 0;
            if (!c_.byte(b)) return finish(false);
            if (b < 0x80) {
                if (running_ == 0) continue;  // stray data byte with nothing to run on
                --c_.p;
                b = running_;
            }
            bool ok = true;
            bool found = false;
            if (b < 0xF0) {
                ok = channelMessage(b);
                found = ok;
            } else if (b == 0xF0 || b == 0xF7) {
                ok = sysexMessage(b, found);
            } else if (b == 0xFF) {
                bool ended = false;
                ok = metaEvent(found, ended);
                if (ended) return finish(true);
                if (found) return Item::Tempo;
            } else {
                strayMessage(b);
            }
            if (!ok) return finish(false);
            if (found) return Item::Event;
        }
    }

    std::uint64_t tick() const { return tick_; }
    const SongEvent& event() const { return event_; }
    std::uint32_t tempo() const { return tempo_; }
    std::uint64_t endTick() const { return endTick_; }
    const std::uint8_t* stop() const { return c_.p; }

private:
    Item finish(bool eot) {
        endTick_ = eot ? tick_ : lastTick_;
        return Item::End;
    }

    bool channelMessage(std::uint8_t status) {
        std::uint8_t d1 = 0;
        std::uint8_t d2 = 0;
        if (!c_.byte(d1)) return false;
        if (channelDataBytes(status) == 2 && !c_.byte(d2)) return false;
        // Meta and sysex events do not cancel running status here: real files
        // rely on it carrying across them.
        running_ = status;
        set(status, d1 & 0x7F, d2 & 0x7F, 0);
        return true;
    }

    // An F7 packet is only playable when it carries a whole message;
    // continuation packets and escaped real-time bytes are dropped.
    bool sysexMessage(std::uint8_t status, bool& found) {
        std::uint32_t len = 0;
        if (!c_.vlq(len)) return false;
        const auto body = c_.take(len);
        lastTick_ = tick_;
        if (status == 0xF0) {
            set(0xF0, 0, 0, sysex_.add(body));
            found = true;
        } else if (!body.empty() && body.front() == 0xF0) {
            set(0xF0, 0, 0, sysex_.add(body.subspan(1)));
            found = true;
        }
        return body.size() == len;
    }

    bool metaEvent(bool& tempo, bool& ended) {
        std::uint8_t type = 0;
        std::uint32_t len = 0;
        if (!c_.byte(type) || !c_.vlq(len)) return false;
        const auto body = c_.take(len);
        if (body.size() != len) return false;
        lastTick_ = tick_;
        if (type == 0x2F) {
            ended = true;
        } else if (type == 0x51 && len >= 3) {
            tempo_ = (std::uint32_t{body[0]} << 16) | (std::uint32_t{body[1]} << 8) | body[2];
            tempo = tempo_ != 0;
        }
        return true;
    }

    void strayMessage(std::uint8_t status) {
        lastTick_ = tick_;
        for (int i = strayDataBytes(status); i > 0 && c_.p < c_.end && *c_.p < 0x80; --i) ++c_.p;
    }

    void set(std::uint8_t status, std::uint8_t d1, std::uint8_t d2, std::uint32_t sysex) {
        lastTick_ = tick_;
        event_.sysex = sysex;
        event_.status = status;
        event_.data1 = d1;
        event_.data2 = d2;
        event_.track = track_;
    }

    Cursor c_;
    std::uint8_t track_;
    SysexStore sysex_;
    SongEvent event_;
    std::uint64_t tick_ = 0;
    std::uint64_t lastTick_ = 0;
    std::uint64_t endTick_ = 0;
    std::uint32_t tempo_ = kDefaultTempo;
    std::uint8_t running_ = 0;
};

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

// Tick-to-time along tempo changes that arrive in tick order, as they do when
// the tracks are read side by side; SMPTE time ignores tempo events.
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
        const std::int64_t t =
            ns < static_cast<double>(kMaxSongNs) ? static_cast<std::int64_t>(ns + 0.5) : kMaxSongNs;
        last_ = std::max(last_, t);
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

// Min-heap of the tracks' next ticks (ties in track order). Replacing the top
// in place costs one sift-down per run of events, which is what keeps
// merging densely interleaved tracks cheap.
class TrackHeap {
public:
    struct Key {
        std::uint64_t tick;
        std::size_t track;
        bool operator<(const Key& o) const {
            return tick != o.tick ? tick < o.tick : track < o.track;
        }
    };

    bool empty() const { return h_.empty(); }
    const Key& top() const { return h_.front(); }
    // The next track after the top: one of the root's children.
    Key runnerUp() const {
        if (h_.size() < 2) return {UINT64_MAX, SIZE_MAX};
        if (h_.size() == 2 || h_[1] < h_[2]) return h_[1];
        return h_[2];
    }
    void push(Key k) {
        h_.push_back(k);
        for (std::size_t i = h_.size() - 1; i > 0 && h_[i] < h_[(i - 1) / 2]; i = (i - 1) / 2) {
            std::swap(h_[i], h_[(i - 1) / 2]);
        }
    }
    void replaceTop(std::uint64_t tick) {
        h_.front().tick = tick;
        siftDown();
    }
    void popTop() {
        h_.front() = h_.back();
        h_.pop_back();
        if (!h_.empty()) siftDown();
    }

private:
    void siftDown() {
        const std::size_t n = h_.size();
        std::size_t i = 0;
        while (true) {
            const std::size_t l = 2 * i + 1;
            if (l >= n) return;
            const std::size_t c = (l + 1 < n && h_[l + 1] < h_[l]) ? l + 1 : l;
            if (!(h_[c] < h_[i])) return;
            std::swap(h_[c], h_[i]);
            i = c;
        }
    }

    std::vector<Key> h_;
};

struct TrackSpan {
    const std::uint8_t* begin;
    const std::uint8_t* end;
};

// Format 0 and 1: all tracks read side by side, earliest first (ties in track
// order), so events come out merged and tempo changes from any track apply
// to every track from their tick on.
class ParallelReader {
public:
    ParallelReader(const std::vector<TrackSpan>& spans, const Division& div, Song& song)
        : song_(song), clock_(div, kDefaultTempo, 0) {
        const SysexStore store{&song.sysexData, &song.sysex};
        parsers_.reserve(spans.size());
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < spans.size(); ++i) {
            const auto idx = static_cast<std::uint8_t>(std::min<std::size_t>(i, 255));
            parsers_.emplace_back(Cursor{spans[i].begin, spans[i].end}, idx, store);
            bytes += static_cast<std::size_t>(spans[i].end - spans[i].begin);
        }
        // Most events take three bytes or more: one allocation, no regrowth.
        song.events.reserve(bytes / 3 + 1);
        pending_.resize(parsers_.size());
        for (std::size_t i = 0; i < parsers_.size(); ++i) advance(i);
    }

    void run() {
        // Few tracks: sweeping them all at each tick beats a heap when, as in
        // real songs, most tracks have something at most ticks. Many tracks
        // (a hostile file can hold thousands) need the heap.
        if (parsers_.size() <= kSweepTracks) {
            sweep();
        } else {
            mergeByHeap();
        }
        song_.endNs = clock_.toNs(endTick_);
    }

private:
    static constexpr std::size_t kSweepTracks = 64;

    bool live(std::size_t i) const { return pending_[i] != TrackParser::Item::End; }

    // Reads track i's next item; notes where the track ended when it does.
    void advance(std::size_t i) {
        pending_[i] = parsers_[i].step();
        if (!live(i)) endTick_ = std::max(endTick_, parsers_[i].endTick());
    }

    // Hands over track i's current item and moves on to its next.
    void take(std::size_t i) {
        const TrackParser& p = parsers_[i];
        if (pending_[i] == TrackParser::Item::Tempo) {
            clock_.setTempo(p.tick(), p.tempo());
        } else {
            SongEvent e = p.event();
            e.timeNs = clock_.toNs(p.tick());
            song_.events.push_back(e);
        }
        advance(i);
    }

    void sweep() {
        std::vector<std::size_t> active;
        for (std::size_t i = 0; i < parsers_.size(); ++i) {
            if (live(i)) active.push_back(i);
        }
        std::uint64_t tick = UINT64_MAX;
        for (std::size_t i : active) tick = std::min(tick, parsers_[i].tick());
        while (!active.empty()) {
            std::uint64_t next = UINT64_MAX;
            for (std::size_t i : active) {
                while (live(i) && parsers_[i].tick() == tick) take(i);
                if (live(i)) next = std::min(next, parsers_[i].tick());
            }
            std::erase_if(active, [this](std::size_t i) { return !live(i); });
            tick = next;
        }
    }

    void mergeByHeap() {
        TrackHeap heap;
        for (std::size_t i = 0; i < parsers_.size(); ++i) {
            if (live(i)) heap.push({parsers_[i].tick(), i});
        }
        while (!heap.empty()) {
            const std::size_t i = heap.top().track;
            const TrackHeap::Key next = heap.runnerUp();
            // Take the whole run that still comes before every other track.
            do {
                take(i);
            } while (live(i) && TrackHeap::Key{parsers_[i].tick(), i} < next);
            if (live(i)) {
                heap.replaceTop(parsers_[i].tick());
            } else {
                heap.popTop();
            }
        }
    }

    Song& song_;
    Clock clock_;
    std::vector<TrackParser> parsers_;
    std::vector<TrackParser::Item> pending_;
    std::uint64_t endTick_ = 0;
};

// Format 2: independent sequences played one after another. Each starts with
// the tempo the previous one left in force, as the channel state also carries.
void readSequential(const std::vector<TrackSpan>& spans, const Division& div, Song& song) {
    const SysexStore store{&song.sysexData, &song.sysex};
    std::uint32_t tempo = kDefaultTempo;
    std::int64_t offset = 0;
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const auto idx = static_cast<std::uint8_t>(std::min<std::size_t>(i, 255));
        TrackParser p(Cursor{spans[i].begin, spans[i].end}, idx, store);
        Clock clock(div, tempo, offset);
        for (auto item = p.step(); item != TrackParser::Item::End; item = p.step()) {
            if (item == TrackParser::Item::Tempo) {
                clock.setTempo(p.tick(), p.tempo());
            } else {
                SongEvent e = p.event();
                e.timeNs = clock.toNs(p.tick());
                song.events.push_back(e);
            }
        }
        offset = clock.toNs(p.endTick());
        tempo = clock.tempo();
    }
    song.endNs = offset;
}

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
        const std::size_t declared = be32(id + 4);
        const bool clamped = declared > b.size() - body;
        const std::size_t bodyEnd = clamped ? b.size() : body + declared;
        if (idIs(id, "MTrk")) {
            TrackSpan span{b.data() + body, b.data() + bodyEnd};
            pos = bodyEnd;
            if (clamped) {
                TrackParser scan(Cursor{span.begin, span.end}, 0, SysexStore{});
                while (scan.step() != TrackParser::Item::End) {
                }
                span.end = scan.stop();
                pos = findTrack(b, static_cast<std::size_t>(span.end - b.data()));
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

}  // namespace

SmfResult readSmf(std::span<const std::uint8_t> bytes) {
    SmfResult r;
    const auto b = unwrapRiff(bytes);
    std::size_t at = 0;
    while (at + 4 <= b.size() && at < kHeaderSearchWindow && !idIs(b.data() + at, "MThd")) ++at;
    if (at + 4 > b.size() || at >= kHeaderSearchWindow) {
        r.error = SmfError::NoHeader;
        return r;
    }
    const auto h = b.subspan(at);
    if (h.size() < 14 || be32(h.data() + 4) < 6) {
        r.error = SmfError::ShortHeader;
        return r;
    }
    Division div;
    if (!decodeDivision(be16(h.data() + 12), div)) {
        r.error = SmfError::BadDivision;
        return r;
    }
    const std::uint32_t headerLen = be32(h.data() + 4);
    std::size_t pos = 8 + std::min<std::size_t>(headerLen, h.size() - 8);
    // A wrong header length with the first track right behind the usual six bytes.
    if (headerLen != 6 && h.size() >= 18 && idIs(h.data() + 14, "MTrk") &&
        (pos + 4 > h.size() || !idIs(h.data() + pos, "MTrk"))) {
        pos = 14;
    }
    const int format = be16(h.data() + 8);
    r.song.format = format;
    const std::vector<TrackSpan> spans = findTracks(h, pos);
    r.song.tracks = static_cast<int>(spans.size());
    if (format == 2) {
        readSequential(spans, div, r.song);
    } else {
        ParallelReader(spans, div, r.song).run();
    }
    return r;
}

}  // namespace lirno::device
