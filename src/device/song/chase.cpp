#include "device/song/chase.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "midi/vocabulary.h"

namespace lirno::device {
namespace {

constexpr std::int32_t kUnset = -1;
// Snapshots of the chase state are kept this many events apart.
constexpr std::size_t kSnapEvery = 16384;

// The position in the song's order of the event that set a value.
using Ref = std::int32_t;

namespace cc = midi::cc;

int value(const Song& song, Ref r) {
    return song.events[static_cast<std::size_t>(r)].data2;
}

struct Param {
    bool nrpn;
    std::uint8_t msb;
    std::uint8_t lsb;
    Ref dataMsb = kUnset;
    Ref dataLsb = kUnset;
};

struct Channel {
    std::array<Ref, 128> cc{};
    Ref program = kUnset;
    Ref bankMsbAtProgram = kUnset;
    Ref bankLsbAtProgram = kUnset;
    Ref pitchBend = kUnset;
    Ref pressure = kUnset;
    bool nrpnSelected = false;
    bool anySelected = false;
    std::vector<Param> params;

    Channel() { cc.fill(kUnset); }

    Param* selected(const Song& song) {
        const Ref msbRef = cc[nrpnSelected ? cc::kNrpnMsb : cc::kRpnMsb];
        const Ref lsbRef = cc[nrpnSelected ? cc::kNrpnLsb : cc::kRpnLsb];
        if (!anySelected || msbRef == kUnset || lsbRef == kUnset) return nullptr;
        const int msb = value(song, msbRef);
        const int lsb = value(song, lsbRef);
        if (!nrpnSelected && msb == 127 && lsb == 127) return nullptr;  // the null parameter
        for (Param& p : params) {
            if (p.nrpn == nrpnSelected && p.msb == msb && p.lsb == lsb) return &p;
        }
        params.push_back(
            {nrpnSelected, static_cast<std::uint8_t>(msb), static_cast<std::uint8_t>(lsb)});
        return &params.back();
    }

    // "Reset all controllers" leaves bank, volume, pan, sound controllers and
    // effect depths alone, and keeps parameter values but deselects them.
    void resetControllers() {
        for (int i = 0; i < 128; ++i) {
            const bool kept = i == cc::kBankMsb || i == cc::kBankLsb || i == cc::kVolume ||
                              i == cc::kPan ||
                              (i >= cc::kSoundController1 && i <= cc::kSoundController10) ||
                              (i >= cc::kEffects1Depth && i <= cc::kEffects5Depth);
            if (!kept) cc[i] = kUnset;
        }
        pitchBend = kUnset;
        pressure = kUnset;
        anySelected = false;
    }

    void control(const Song& song, Ref at, std::uint8_t num) {
        if (num == cc::kResetAllControllers) {
            resetControllers();
            return;
        }
        if (num >= cc::kAllSoundOff) return;  // channel mode messages carry no state to restore
        cc[num] = at;
        if (num == cc::kNrpnMsb || num == cc::kNrpnLsb || num == cc::kRpnMsb ||
            num == cc::kRpnLsb) {
            nrpnSelected = num == cc::kNrpnMsb || num == cc::kNrpnLsb;
            anySelected = true;
        } else if (num == cc::kDataEntryMsb || num == cc::kDataEntryLsb) {
            if (Param* p = selected(song))
                (num == cc::kDataEntryMsb ? p->dataMsb : p->dataLsb) = at;
        }
    }
};

// The chase state at some point of the song. The system-exclusive messages in
// force are the song's sysex events numbered [sysexBegin, sysexEnd) in order.
struct State {
    std::array<Channel, midi::kChannels> ch;
    std::uint32_t sysexBegin = 0;
    std::uint32_t sysexEnd = 0;
};

// Positions of the sysex events, by their number: the first `base` are in the
// cache's list, the rest in `more`.
struct SysexLog {
    const std::vector<Ref>* cached;
    std::vector<Ref>* more;
    Ref at(std::uint32_t k) const {
        return k < cached->size() ? (*cached)[k] : (*more)[k - cached->size()];
    }
    void note(std::uint32_t k, Ref pos) {
        if (k >= cached->size() + more->size()) more->push_back(pos);
    }
};

void step(State& st, const Song& song, std::size_t i, SysexLog& log) {
    const SongEvent& e = song.events[i];
    const int c = midi::channelOf(e.status);
    const auto at = static_cast<Ref>(i);
    switch (midi::statusKind(e.status)) {
        case midi::kControlChange:
            st.ch[c].control(song, at, e.data1);
            break;
        case midi::kProgramChange:
            st.ch[c].program = at;
            st.ch[c].bankMsbAtProgram = st.ch[c].cc[cc::kBankMsb];
            st.ch[c].bankLsbAtProgram = st.ch[c].cc[cc::kBankLsb];
            break;
        case midi::kChannelPressure:
            st.ch[c].pressure = at;
            break;
        case midi::kPitchBend:
            st.ch[c].pitchBend = at;
            break;
        case midi::kSysEx:  // the system messages' kind
            if (e.status != midi::kSysEx) break;
            if (isSystemReset(song.sysexBytes(e))) {
                st.ch = {};
                st.sysexBegin = st.sysexEnd;
            }
            log.note(st.sysexEnd++, at);
            break;
        default:
            break;
    }
}

bool isParamControl(int num) {
    return num == cc::kDataEntryMsb || num == cc::kDataEntryLsb ||
           (num >= cc::kDataIncrement && num <= cc::kRpnMsb);
}

class Emitter {
  public:
    Emitter(const Song& song, std::vector<SongEvent>& out) : song_(song), out_(out) {}

    void cc(int ch, int num, int v) { msg(midi::kControlChange | ch, num, v); }
    void msg(int status, int d1, int d2) {
        SongEvent e;
        e.status = static_cast<std::uint8_t>(status);
        e.data1 = static_cast<std::uint8_t>(d1);
        e.data2 = static_cast<std::uint8_t>(d2);
        out_.push_back(e);
    }

    void channel(int ch, const Channel& s) {
        const auto v = [this](Ref r) { return r == kUnset ? kUnset : value(song_, r); };
        if (s.program != kUnset) {
            if (s.bankMsbAtProgram != kUnset) cc(ch, cc::kBankMsb, v(s.bankMsbAtProgram));
            if (s.bankLsbAtProgram != kUnset) cc(ch, cc::kBankLsb, v(s.bankLsbAtProgram));
            msg(midi::kProgramChange | ch, event(s.program).data1, 0);
        }
        // Bank select sent after the last program change waits for the next one.
        if (s.cc[cc::kBankMsb] != kUnset && v(s.cc[cc::kBankMsb]) != v(s.bankMsbAtProgram))
            cc(ch, cc::kBankMsb, v(s.cc[cc::kBankMsb]));
        if (s.cc[cc::kBankLsb] != kUnset && v(s.cc[cc::kBankLsb]) != v(s.bankLsbAtProgram))
            cc(ch, cc::kBankLsb, v(s.cc[cc::kBankLsb]));
        for (int num = cc::kBankMsb + 1; num < cc::kAllSoundOff; ++num) {
            if (num == cc::kBankLsb || isParamControl(num) || s.cc[num] == kUnset) continue;
            cc(ch, num, v(s.cc[num]));
        }
        params(ch, s);
        if (s.pitchBend != kUnset) {
            const SongEvent& e = event(s.pitchBend);
            msg(midi::kPitchBend | ch, e.data1, e.data2);
        }
        if (s.pressure != kUnset) msg(midi::kChannelPressure | ch, event(s.pressure).data1, 0);
    }

  private:
    const SongEvent& event(Ref r) const { return song_.events[static_cast<std::size_t>(r)]; }

    void params(int ch, const Channel& s) {
        for (const Param& p : s.params) {
            if (p.dataMsb == kUnset && p.dataLsb == kUnset) continue;
            cc(ch, p.nrpn ? cc::kNrpnMsb : cc::kRpnMsb, p.msb);
            cc(ch, p.nrpn ? cc::kNrpnLsb : cc::kRpnLsb, p.lsb);
            if (p.dataMsb != kUnset) cc(ch, cc::kDataEntryMsb, value(song_, p.dataMsb));
            if (p.dataLsb != kUnset) cc(ch, cc::kDataEntryLsb, value(song_, p.dataLsb));
        }
        // Leave the selection as the song had it, so later data entries land
        // where the song means them to.
        const int msbNum = s.nrpnSelected ? cc::kNrpnMsb : cc::kRpnMsb;
        const int lsbNum = s.nrpnSelected ? cc::kNrpnLsb : cc::kRpnLsb;
        if (s.anySelected && s.cc[msbNum] != kUnset) cc(ch, msbNum, value(song_, s.cc[msbNum]));
        if (s.anySelected && s.cc[lsbNum] != kUnset) cc(ch, lsbNum, value(song_, s.cc[lsbNum]));
    }

    const Song& song_;
    std::vector<SongEvent>& out_;
};

}  // namespace

bool isSystemReset(std::span<const std::uint8_t> b) {
    const auto starts = [&](std::initializer_list<int> head, std::size_t skip) {
        std::size_t i = 0;
        for (int v : head) {
            if (i != skip && (i >= b.size() || b[i] != v)) return false;
            ++i;
        }
        return i <= b.size();
    };
    // The second byte is a device id (GM) or device number (GS, XG): any matches.
    const bool gm = starts({0x7E, 0, 0x09}, 1) && b.size() >= 4 && b[3] >= 1 && b[3] <= 3;
    const bool gs = starts({0x41, 0, 0x42, 0x12, 0x40, 0x00, 0x7F}, 1);
    const bool xg = starts({0x43, 0, 0x4C, 0x00, 0x00}, 1) && b.size() >= 6 &&
                    (b[5] == 0x7E || b[5] == 0x7F) && (b[1] & 0xF0) == 0x10;
    return gm || gs || xg;
}

struct ChaseCache {
    std::mutex m;
    std::vector<State> snaps;  // snaps[k]: the state before event k * kSnapEvery
    std::vector<Ref> sysex;    // positions of the sysex events the snapshots cover
};

std::shared_ptr<ChaseCache> makeChaseCache() {
    return std::make_shared<ChaseCache>();
}

namespace {

// Takes the cache's snapshots up to the one at or before `end`; the cache's
// lock is held.
void fill(ChaseCache& cache, const Song& song, std::size_t end) {
    auto& snaps = cache.snaps;
    if (snaps.empty()) snaps.emplace_back();
    const std::vector<Ref> none;
    SysexLog filling{&none, &cache.sysex};
    while (snaps.size() <= end / kSnapEvery) {
        State next = snaps.back();
        const std::size_t first = (snaps.size() - 1) * kSnapEvery;
        for (std::size_t i = first; i < first + kSnapEvery; ++i) step(next, song, i, filling);
        snaps.push_back(std::move(next));
    }
}

}  // namespace

void extendChase(const Song& song, std::size_t end) {
    if (ChaseCache* cache = song.chase.get(); cache != nullptr) {
        const std::lock_guard lk(cache->m);
        fill(*cache, song, std::min(end, song.events.size()));
    }
}

std::vector<SongEvent> chaseState(const Song& song, std::size_t end) {
    end = std::min(end, song.events.size());
    const std::vector<Ref> none;
    std::vector<Ref> more;
    std::unique_lock<std::mutex> lk;
    State st;
    std::size_t from = 0;
    SysexLog log{&none, &more};
    if (ChaseCache* cache = song.chase.get(); cache != nullptr) {
        lk = std::unique_lock(cache->m);
        fill(*cache, song, end);
        const auto& snaps = cache->snaps;
        st = snaps[end / kSnapEvery];
        from = end / kSnapEvery * kSnapEvery;
        log.cached = &cache->sysex;
    }
    for (std::size_t i = from; i < end; ++i) step(st, song, i, log);
    std::vector<SongEvent> out;
    for (std::uint32_t k = st.sysexBegin; k < st.sysexEnd; ++k) {
        out.push_back(song.events[static_cast<std::size_t>(log.at(k))]);
    }
    Emitter emit(song, out);
    for (int c = 0; c < midi::kChannels; ++c) emit.channel(c, st.ch[c]);
    return out;
}

bool sameChaseShape(const SongEvent& a, std::span<const std::uint8_t> sysexA, const SongEvent& b,
                    std::span<const std::uint8_t> sysexB) {
    const int kind = midi::statusKind(a.status);
    const bool noteA = kind < midi::kControlChange;
    const bool noteB = midi::statusKind(b.status) < midi::kControlChange;
    if (noteA || noteB) return noteA == noteB;
    if (a.status != b.status) return false;
    if (kind == midi::kControlChange) {
        if (a.data1 != b.data1) return false;
        const bool selects = a.data1 >= cc::kNrpnLsb && a.data1 <= cc::kRpnMsb;
        return !selects || a.data2 == b.data2;
    }
    if (a.status == midi::kSysEx) return isSystemReset(sysexA) == isSystemReset(sysexB);
    return true;
}

}  // namespace lirno::device
