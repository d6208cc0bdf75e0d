#include "device/chase.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace lirno::device {
namespace {

constexpr int kUnset = -1;

enum Cc : std::uint8_t {
    kBankMsb = 0,
    kDataMsb = 6,
    kVolume = 7,
    kPan = 10,
    kBankLsb = 32,
    kDataLsb = 38,
    kSoundCtl1 = 70,
    kSoundCtl10 = 79,
    kFx1Depth = 91,
    kFx5Depth = 95,
    kDataInc = 96,
    kNrpnLsb = 98,
    kNrpnMsb = 99,
    kRpnLsb = 100,
    kRpnMsb = 101,
    kResetAll = 121,
};

struct Param {
    bool nrpn;
    std::uint8_t msb;
    std::uint8_t lsb;
    int dataMsb = kUnset;
    int dataLsb = kUnset;
};

struct Channel {
    std::array<int, 128> cc{};
    int program = kUnset;
    int bankMsbAtProgram = kUnset;
    int bankLsbAtProgram = kUnset;
    int pitchBend = kUnset;
    int pressure = kUnset;
    bool nrpnSelected = false;
    bool anySelected = false;
    std::vector<Param> params;

    Channel() { cc.fill(kUnset); }

    Param* selected() {
        const int msb = cc[nrpnSelected ? kNrpnMsb : kRpnMsb];
        const int lsb = cc[nrpnSelected ? kNrpnLsb : kRpnLsb];
        if (!anySelected || msb == kUnset || lsb == kUnset) return nullptr;
        if (!nrpnSelected && msb == 127 && lsb == 127) return nullptr;  // the null parameter
        for (Param& p : params) {
            if (p.nrpn == nrpnSelected && p.msb == msb && p.lsb == lsb) return &p;
        }
        params.push_back({nrpnSelected, static_cast<std::uint8_t>(msb),
                          static_cast<std::uint8_t>(lsb)});
        return &params.back();
    }

    // "Reset all controllers" leaves bank, volume, pan, sound controllers and
    // effect depths alone, and keeps parameter values but deselects them.
    void resetControllers() {
        for (int i = 0; i < 128; ++i) {
            const bool kept = i == kBankMsb || i == kBankLsb || i == kVolume || i == kPan ||
                              (i >= kSoundCtl1 && i <= kSoundCtl10) ||
                              (i >= kFx1Depth && i <= kFx5Depth);
            if (!kept) cc[i] = kUnset;
        }
        pitchBend = kUnset;
        pressure = kUnset;
        anySelected = false;
    }

    void control(std::uint8_t num, std::uint8_t value) {
        if (num == kResetAll) {
            resetControllers();
            return;
        }
        if (num >= 120) return;  // channel mode messages carry no state to restore
        cc[num] = value;
        if (num == kNrpnMsb || num == kNrpnLsb || num == kRpnMsb || num == kRpnLsb) {
            nrpnSelected = num == kNrpnMsb || num == kNrpnLsb;
            anySelected = true;
        } else if (num == kDataMsb || num == kDataLsb) {
            if (Param* p = selected()) (num == kDataMsb ? p->dataMsb : p->dataLsb) = value;
        }
    }
};

bool isParamControl(int num) {
    return num == kDataMsb || num == kDataLsb || (num >= kDataInc && num <= kRpnMsb);
}

class Emitter {
public:
    explicit Emitter(std::vector<SongEvent>& out) : out_(out) {}

    void cc(int ch, int num, int value) { msg(0xB0 | ch, num, value); }
    void msg(int status, int d1, int d2) {
        SongEvent e;
        e.status = static_cast<std::uint8_t>(status);
        e.data1 = static_cast<std::uint8_t>(d1);
        e.data2 = static_cast<std::uint8_t>(d2);
        out_.push_back(e);
    }
    void sysex(const SongEvent& e) { out_.push_back(e); }

    void channel(int ch, const Channel& s) {
        if (s.program != kUnset) {
            if (s.bankMsbAtProgram != kUnset) cc(ch, kBankMsb, s.bankMsbAtProgram);
            if (s.bankLsbAtProgram != kUnset) cc(ch, kBankLsb, s.bankLsbAtProgram);
            msg(0xC0 | ch, s.program, 0);
        }
        // Bank select sent after the last program change waits for the next one.
        if (s.cc[kBankMsb] != kUnset && s.cc[kBankMsb] != s.bankMsbAtProgram)
            cc(ch, kBankMsb, s.cc[kBankMsb]);
        if (s.cc[kBankLsb] != kUnset && s.cc[kBankLsb] != s.bankLsbAtProgram)
            cc(ch, kBankLsb, s.cc[kBankLsb]);
        for (int num = 1; num < 120; ++num) {
            if (num == kBankLsb || isParamControl(num) || s.cc[num] == kUnset) continue;
            cc(ch, num, s.cc[num]);
        }
        params(ch, s);
        if (s.pitchBend != kUnset) msg(0xE0 | ch, s.pitchBend & 0x7F, s.pitchBend >> 7);
        if (s.pressure != kUnset) msg(0xD0 | ch, s.pressure, 0);
    }

private:
    void params(int ch, const Channel& s) {
        for (const Param& p : s.params) {
            if (p.dataMsb == kUnset && p.dataLsb == kUnset) continue;
            cc(ch, p.nrpn ? kNrpnMsb : kRpnMsb, p.msb);
            cc(ch, p.nrpn ? kNrpnLsb : kRpnLsb, p.lsb);
            if (p.dataMsb != kUnset) cc(ch, kDataMsb, p.dataMsb);
            if (p.dataLsb != kUnset) cc(ch, kDataLsb, p.dataLsb);
        }
        // Leave the selection as the song had it, so later data entries land
        // where the song means them to.
        const int msbNum = s.nrpnSelected ? kNrpnMsb : kRpnMsb;
        const int lsbNum = s.nrpnSelected ? kNrpnLsb : kRpnLsb;
        if (s.anySelected && s.cc[msbNum] != kUnset) cc(ch, msbNum, s.cc[msbNum]);
        if (s.anySelected && s.cc[lsbNum] != kUnset) cc(ch, lsbNum, s.cc[lsbNum]);
    }

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

std::vector<SongEvent> chaseState(const Song& song, std::size_t end) {
    std::array<Channel, 16> ch;
    std::vector<SongEvent> sysex;
    end = std::min(end, song.events.size());
    for (std::size_t i = 0; i < end; ++i) {
        const SongEvent& e = song.events[i];
        const int c = e.status & 0x0F;
        switch (e.status & 0xF0) {
            case 0xB0:
                ch[c].control(e.data1, e.data2);
                break;
            case 0xC0:
                ch[c].program = e.data1;
                ch[c].bankMsbAtProgram = ch[c].cc[kBankMsb];
                ch[c].bankLsbAtProgram = ch[c].cc[kBankLsb];
                break;
            case 0xD0:
                ch[c].pressure = e.data1;
                break;
            case 0xE0:
                ch[c].pitchBend = e.data1 | (e.data2 << 7);
                break;
            case 0xF0:
                if (e.status != 0xF0) break;
                if (isSystemReset(song.sysexBytes(e))) {
                    ch = {};
                    sysex.clear();
                }
                sysex.push_back(e);
                break;
            default:
                break;
        }
    }
    std::vector<SongEvent> out = std::move(sysex);
    Emitter emit(out);
    for (int c = 0; c < 16; ++c) emit.channel(c, ch[c]);
    return out;
}

}  // namespace lirno::device
