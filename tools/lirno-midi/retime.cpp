#include "retime.h"

#include <algorithm>
#include <array>
#include <utility>

#include "device/engine/key_shift.h"
#include "midi/bytes.h"
#include "midi/vlq.h"
#include "midi/vocabulary.h"

namespace lirno::cli {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Data = std::span<const std::uint8_t>;

constexpr std::uint32_t kDefaultTempo = 500000;  // microseconds a quarter: 120 a minute
constexpr std::uint32_t kMaxTempo = 0xFFFFFF;
constexpr std::uint32_t kMaxDelta = 0x0FFFFFFF;  // the most four bytes of a delta time hold
constexpr std::size_t kMaxVlqBytes = 4;

struct Event {
    std::uint64_t tick = 0;
    std::uint32_t delta = 0;
    std::size_t deltaAt = 0;  // offsets in the track's data
    std::size_t at = 0;       // the event after its delta time
    std::size_t end = 0;
    std::uint8_t status = 0;  // a channel status, kSysEx, kSysExEscape or kMeta
    bool ownStatus = false;   // its status byte written, not running
    int key = -1;             // a note's or key pressure's new key; -1: as it is
    bool drop = false;
};

struct TrackWalk {
    std::size_t chunkAt = 0;  // the chunk's offset in the file
    Data data;
    std::vector<Event> events;
    std::size_t tailAt = 0;  // from here on (after End of Track) copied as it is
    bool ok = false;
};

struct Header {
    int format = 0;
    int tracks = 0;
    bool smpte = false;
    std::size_t end = 0;  // where the chunks after it begin
};

// A variable-length quantity at `pos`, moving past it; false when cut short
// or longer than a file may write one.
bool takeVlq(Data d, std::size_t& pos, std::uint32_t& value) {
    const midi::Vlq v = midi::readVlq(d.data() + pos, d.data() + d.size());
    if (!v.ok || v.bytes > kMaxVlqBytes) return false;
    pos += v.bytes;
    value = v.value;
    return true;
}

// A length and that many bytes at `pos`, moving past them.
bool skipBody(Data d, std::size_t& pos) {
    std::uint32_t len = 0;
    if (!takeVlq(d, pos, len) || d.size() - pos < len) return false;
    pos += len;
    return true;
}

// The event after the delta time at `pos`; false when the bytes make none
// the player's reader would take whole.
bool readEvent(Data d, std::size_t& pos, std::uint8_t& running, Event& e) {
    e.deltaAt = pos;
    if (!takeVlq(d, pos, e.delta) || pos >= d.size()) return false;
    e.at = pos;
    e.ownStatus = d[pos] >= 0x80;
    e.status = e.ownStatus ? d[pos++] : running;
    if (midi::isChannelStatus(e.status)) {
        const auto n = static_cast<std::size_t>(midi::dataBytes(e.status));
        if (d.size() - pos < n) return false;
        for (std::size_t i = 0; i < n; ++i)
            if (d[pos + i] >= 0x80) return false;
        pos += n;
        running = e.status;  // meta and sysex events leave it, as the reader does
    } else if (e.status == midi::kMeta) {
        if (pos >= d.size() || !skipBody(d, ++pos)) return false;
    } else if (e.status == midi::kSysEx || e.status == midi::kSysExEscape) {
        if (!skipBody(d, pos)) return false;
    } else {
        return false;  // a stray data byte, or a system message a file does not hold
    }
    e.end = pos;
    return true;
}

bool isEndOfTrack(Data d, const Event& e) {
    return e.status == midi::kMeta && d[e.at + 1] == midi::meta::kEndOfTrack;
}

TrackWalk walkTrack(Data data, std::size_t chunkAt) {
    TrackWalk w{chunkAt, data, {}, 0, false};
    std::size_t pos = 0;
    std::uint8_t running = 0;
    std::uint64_t tick = 0;
    while (pos < data.size()) {
        Event e;
        if (!readEvent(data, pos, running, e)) return w;
        tick += e.delta;
        e.tick = tick;
        w.events.push_back(e);
        if (isEndOfTrack(data, e)) break;
    }
    w.tailAt = pos;
    w.ok = true;
    return w;
}

bool readHeader(Data file, Header& h) {
    if (file.size() < 14 || !std::equal(file.begin(), file.begin() + 4, "MThd")) return false;
    const std::uint32_t len = midi::readBE32(&file[4]);
    if (len < 6 || file.size() - 8 < len) return false;
    h.format = midi::readBE16(&file[8]);
    h.tracks = midi::readBE16(&file[10]);
    h.smpte = (midi::readBE16(&file[12]) & 0x8000) != 0;
    h.end = 8 + std::size_t{len};
    return true;
}

// The declared tracks: the first MTrk chunks that lie whole in the file.
std::vector<TrackWalk> findTracks(Data file, const Header& h) {
    std::vector<TrackWalk> tracks;
    std::size_t pos = h.end;
    while (static_cast<int>(tracks.size()) < h.tracks && file.size() - pos >= 8) {
        const std::uint32_t len = midi::readBE32(&file[pos + 4]);
        if (file.size() - pos - 8 < len) break;
        if (std::equal(file.begin() + static_cast<std::ptrdiff_t>(pos),
                       file.begin() + static_cast<std::ptrdiff_t>(pos) + 4, "MTrk"))
            tracks.push_back(walkTrack(file.subspan(pos + 8, len), pos));
        pos += 8 + std::size_t{len};
    }
    return tracks;
}

// A system-exclusive message without its F0 and final F7, as the reader
// keeps it; empty for an F7 packet that does not carry a whole message.
Data sysexBody(Data d, const Event& e) {
    std::size_t pos = e.at + 1;
    std::uint32_t len = 0;
    takeVlq(d, pos, len);
    Data body = d.subspan(pos, len);
    if (e.status == midi::kSysExEscape) {
        if (body.empty() || body.front() != midi::kSysEx) return {};
        body = body.subspan(1);
    }
    if (!body.empty() && body.back() == midi::kSysExEscape) body = body.first(body.size() - 1);
    return body;
}

// Moves one event's key as the player's key shift does (drum parts left
// alone; a note ends on the key it started on whatever changed meanwhile).
void moveKey(device::KeyShift& keys, Data d, Event& e) {
    if (e.status == midi::kSysEx || e.status == midi::kSysExEscape) {
        keys.seeSysex(sysexBody(d, e));
        return;
    }
    if (!midi::isChannelStatus(e.status)) return;
    const std::size_t at = e.at + (e.ownStatus ? 1 : 0);
    const int ch = midi::channelOf(e.status);
    const int d1 = d[at];
    const int d2 = midi::dataBytes(e.status) == 2 ? d[at + 1] : 0;
    switch (midi::statusKind(e.status)) {
        case midi::kControlChange:
            keys.seeControl(ch, d1, d2);
            return;
        case midi::kNoteOn:
            e.key = d2 != 0 ? keys.noteOn(ch, d1).play : keys.noteOff(ch, d1);
            break;
        case midi::kNoteOff:
            e.key = keys.noteOff(ch, d1);
            break;
        case midi::kKeyPressure:
            e.key = keys.pressure(ch, d1);
            break;
        default:
            return;
    }
    e.drop = e.key < 0;
}

// The tracks' events in the order the song plays them: format 2 plays its
// tracks one after another, the others together, ties in track order.
void moveKeys(std::vector<TrackWalk>& tracks, bool sequential, int transpose) {
    struct Ref {
        std::uint64_t tick;
        TrackWalk* track;
        Event* event;
    };
    std::vector<Ref> order;
    for (TrackWalk& t : tracks) {
        if (!t.ok) continue;
        for (Event& e : t.events)
            if (e.status != midi::kMeta) order.push_back({e.tick, &t, &e});
    }
    if (!sequential)
        std::stable_sort(order.begin(), order.end(),
                         [](const Ref& a, const Ref& b) { return a.tick < b.tick; });
    device::KeyShift keys;
    keys.setTranspose(transpose);
    for (const Ref& r : order) moveKey(keys, r.track->data, *r.event);
}

// Where the value of a Set Tempo the reader takes lies in the track's data,
// or 0 for any other event.
std::size_t tempoValueAt(Data d, const Event& e) {
    if (e.status != midi::kMeta || d[e.at + 1] != midi::meta::kTempo) return 0;
    std::size_t pos = e.at + 2;
    std::uint32_t len = 0;
    if (!takeVlq(d, pos, len) || len < 3 || midi::readBE24(&d[pos]) == 0) return 0;
    return pos;
}

// A song with no tempo of its own at its start plays the default there.
bool tempoAtStart(const std::vector<TrackWalk>& tracks, bool sequential) {
    for (const TrackWalk& t : tracks) {
        for (const Event& e : t.events) {
            if (e.tick > 0) break;
            if (tempoValueAt(t.data, e) != 0) return true;
        }
        if (sequential) break;  // later sequences start in the tempo the one before left
    }
    return false;
}

std::uint64_t scaled(std::uint64_t value, int speed) {
    const auto s = static_cast<std::uint64_t>(speed);
    return (value * 100 + s / 2) / s;
}

std::uint32_t scaledTempo(std::uint32_t tempo, int speed) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(scaled(tempo, speed), kMaxTempo));
}

void putTempo(Bytes& out, std::uint32_t tempo) {
    const std::array<std::uint8_t, 7> ev = {0,
                                            midi::kMeta,
                                            midi::meta::kTempo,
                                            3,
                                            static_cast<std::uint8_t>(tempo >> 16),
                                            static_cast<std::uint8_t>(tempo >> 8),
                                            static_cast<std::uint8_t>(tempo)};
    out.insert(out.end(), ev.begin(), ev.end());
}

struct TrackPlan {
    const Retime& r;
    bool smpte;     // ticks scaled rather than tempos
    bool addTempo;  // a tempo at the start of this track
};

// One event, its running status kept wherever no event before it was left out.
void putEvent(Data d, const Event& e, const TrackPlan& plan, std::uint8_t& running, Bytes& out) {
    const auto from = d.begin() + static_cast<std::ptrdiff_t>(e.at);
    const auto to = d.begin() + static_cast<std::ptrdiff_t>(e.end);
    if (!midi::isChannelStatus(e.status)) {
        out.insert(out.end(), from, to);
        const std::size_t at = plan.smpte || plan.r.speed == 100 ? 0 : tempoValueAt(d, e);
        if (at == 0) return;
        // A longer body keeps its other bytes.
        const std::uint32_t t = scaledTempo(midi::readBE24(&d[at]), plan.r.speed);
        const std::size_t value = out.size() - (e.end - at);
        out[value] = static_cast<std::uint8_t>(t >> 16);
        out[value + 1] = static_cast<std::uint8_t>(t >> 8);
        out[value + 2] = static_cast<std::uint8_t>(t);
        return;
    }
    if (e.ownStatus || running != e.status) out.push_back(e.status);
    running = e.status;
    out.insert(out.end(), from + (e.ownStatus ? 1 : 0), to);
    if (e.key >= 0) out[out.size() - std::size_t(midi::dataBytes(e.status))] = std::uint8_t(e.key);
}

// A delta time: its own bytes while its value stays, else written anew.
void putDelta(Data d, const Event& e, std::uint32_t delta, Bytes& out) {
    if (delta == e.delta) {
        out.insert(out.end(), d.begin() + static_cast<std::ptrdiff_t>(e.deltaAt),
                   d.begin() + static_cast<std::ptrdiff_t>(e.at));
        return;
    }
    std::uint8_t tmp[kMaxVlqBytes + 1];
    out.insert(out.end(), tmp, tmp + midi::writeVlq(tmp, delta));
}

Bytes encodeTrack(const TrackWalk& w, const TrackPlan& plan) {
    Bytes out;
    out.reserve(w.data.size() + 8);
    if (plan.addTempo) putTempo(out, scaledTempo(kDefaultTempo, plan.r.speed));
    if (!w.ok) {
        out.insert(out.end(), w.data.begin(), w.data.end());
        return out;
    }
    std::uint64_t last = 0;  // the time of the event written before
    std::uint8_t running = 0;
    for (const Event& e : w.events) {
        if (e.drop) continue;
        // From absolute times, so that rounding never adds up along a track.
        const std::uint64_t tick = plan.smpte ? scaled(e.tick, plan.r.speed) : e.tick;
        const auto delta =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(tick - last, kMaxDelta));
        putDelta(w.data, e, delta, out);
        last += delta;
        putEvent(w.data, e, plan, running, out);
    }
    out.insert(out.end(), w.data.begin() + static_cast<std::ptrdiff_t>(w.tailAt), w.data.end());
    return out;
}

Bytes assemble(Data file, const std::vector<TrackWalk>& tracks, const Retime& r, bool smpte,
               bool addTempo) {
    Bytes out;
    out.reserve(file.size() + 16);
    std::size_t copied = 0;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const TrackWalk& t = tracks[i];
        // Whatever lies before the chunk, and its id.
        out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(copied),
                   file.begin() + static_cast<std::ptrdiff_t>(t.chunkAt + 4));
        const Bytes data = encodeTrack(t, {r, smpte, addTempo && i == 0});
        std::uint8_t len[4];
        midi::writeBE32(len, static_cast<std::uint32_t>(data.size()));
        out.insert(out.end(), len, len + 4);
        out.insert(out.end(), data.begin(), data.end());
        copied = t.chunkAt + 8 + t.data.size();
    }
    out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(copied), file.end());
    return out;
}

}  // namespace

std::vector<std::uint8_t> retimeSong(std::span<const std::uint8_t> file, const Retime& r) {
    Header h;
    if (r.identity() || !readHeader(file, h)) return {file.begin(), file.end()};
    std::vector<TrackWalk> tracks = findTracks(file, h);
    const bool sequential = h.format == 2;
    if (r.transpose != 0) moveKeys(tracks, sequential, r.transpose);
    const bool addTempo = !h.smpte && r.speed != 100 && !tempoAtStart(tracks, sequential);
    return assemble(file, tracks, r, h.smpte, addTempo);
}

}  // namespace lirno::cli
