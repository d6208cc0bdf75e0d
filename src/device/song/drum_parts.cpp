#include "device/song/drum_parts.h"

#include "midi/vocabulary.h"

namespace lirno::device {
namespace {

constexpr std::uint8_t kRoland = 0x41;
constexpr std::uint8_t kYamaha = 0x43;
constexpr std::uint8_t kUniversalNonRealTime = 0x7E;
constexpr std::uint8_t kXgDrumBank = 127;

bool isGeneralMidiMode(std::span<const std::uint8_t> m) {
    // GM System On (09 01), GM System Off (09 02), GM2 System On (09 03).
    return m.size() >= 4 && m[0] == kUniversalNonRealTime && m[2] == 0x09 && m[3] >= 0x01 &&
           m[3] <= 0x03;
}

bool isGsReset(std::span<const std::uint8_t> m) {
    return m.size() >= 7 && m[0] == kRoland && m[2] == 0x42 && m[3] == 0x12 && m[4] == 0x40 &&
           m[5] == 0x00 && m[6] == 0x7F;
}

bool isXgSystemOn(std::span<const std::uint8_t> m) {
    return m.size() >= 7 && m[0] == kYamaha && (m[1] & 0xF0) == 0x10 && m[2] == 0x4C &&
           m[3] == 0x00 && m[4] == 0x00 && m[5] == 0x7E && m[6] == 0x00;
}

// Yamaha's part mode (08 pp 07 vv): normal (0) or one of the drum setups.
bool xgPartMode(std::span<const std::uint8_t> m, int& channel, bool& drum) {
    if (m.size() < 7 || m[0] != kYamaha || (m[1] & 0xF0) != 0x10 || m[2] != 0x4C || m[3] != 0x08 ||
        m[4] >= midi::kChannels || m[5] != 0x07) {
        return false;
    }
    channel = m[4];
    drum = m[6] != 0;
    return true;
}

}  // namespace

// Roland's address 40 1x 15: x is the part (10, 1..9, 11..16), the value
// 0 for a normal part and 1 or 2 for a drum map.
bool gsRhythmPart(std::span<const std::uint8_t> m, int& channel, bool& drum) noexcept {
    if (m.size() < 8 || m[0] != kRoland || m[2] != 0x42 || m[3] != 0x12 || m[4] != 0x40 ||
        (m[5] & 0xF0) != 0x10 || m[6] != 0x15) {
        return false;
    }
    const int block = m[5] & 0x0F;
    channel = block == 0 ? midi::kDrumChannel : block <= 9 ? block - 1 : block;
    drum = m[7] != 0;
    return true;
}

void DrumParts::reset() noexcept {
    mask_ = std::uint16_t{1} << midi::kDrumChannel;
}

void DrumParts::set(int channel, bool drum) noexcept {
    const auto bit = static_cast<std::uint16_t>(1u << (channel & 0x0F));
    if (drum || channel == midi::kDrumChannel) {
        mask_ |= bit;
    } else {
        mask_ &= static_cast<std::uint16_t>(~bit);
    }
}

void DrumParts::seeSysex(std::span<const std::uint8_t> body) noexcept {
    int channel = 0;
    bool drum = false;
    if (isGeneralMidiMode(body) || isGsReset(body)) {
        xg_ = false;
        reset();
    } else if (isXgSystemOn(body)) {
        xg_ = true;
        reset();
    } else if (gsRhythmPart(body, channel, drum) || xgPartMode(body, channel, drum)) {
        set(channel, drum);
    }
}

void DrumParts::seeControl(int channel, int controller, int value) noexcept {
    // In XG mode the bank decides: bank 127 holds the drum kits.
    if (xg_ && controller == midi::cc::kBankMsb) set(channel, value == kXgDrumBank);
}

void DrumParts::see(const Song& song, const SongEvent& e) noexcept {
    if (e.status == midi::kSysEx) {
        seeSysex(song.sysexBytes(e));
    } else if (midi::statusKind(e.status) == midi::kControlChange) {
        seeControl(midi::channelOf(e.status), e.data1, e.data2);
    }
}

}  // namespace lirno::device
