// MIDI's vocabulary: status bytes, controller numbers and meta-event types,
// named once for the file model, the device and the tools.
#pragma once

#include <cstdint>

namespace lirno::midi {

// Channel messages: the high nibble of the status byte.
inline constexpr std::uint8_t kNoteOff = 0x80;
inline constexpr std::uint8_t kNoteOn = 0x90;
inline constexpr std::uint8_t kKeyPressure = 0xA0;
inline constexpr std::uint8_t kControlChange = 0xB0;
inline constexpr std::uint8_t kProgramChange = 0xC0;
inline constexpr std::uint8_t kChannelPressure = 0xD0;
inline constexpr std::uint8_t kPitchBend = 0xE0;
// System messages and the file's own events.
inline constexpr std::uint8_t kSysEx = 0xF0;
inline constexpr std::uint8_t kTimeCode = 0xF1;  // F1-F3: system common, out of place in a file
inline constexpr std::uint8_t kSongPosition = 0xF2;
inline constexpr std::uint8_t kSongSelect = 0xF3;
inline constexpr std::uint8_t kSysExEscape = 0xF7;  // also the end of a system-exclusive message
inline constexpr std::uint8_t kMeta = 0xFF;

constexpr std::uint8_t statusKind(std::uint8_t status) noexcept {
    return status & 0xF0;
}
constexpr std::uint8_t channelOf(std::uint8_t status) noexcept {
    return status & 0x0F;
}
constexpr bool isChannelStatus(std::uint8_t status) noexcept {
    return status >= kNoteOff && status < kSysEx;
}
// Data bytes that follow a system common byte, which has no place in a file:
// skipping them keeps the rest of a damaged track in step.
constexpr int strayDataBytes(std::uint8_t status) noexcept {
    return status == kTimeCode || status == kSongSelect ? 1 : status == kSongPosition ? 2 : 0;
}

// Data bytes following a channel status: one for program change and channel
// pressure, two for the rest.
constexpr int dataBytes(std::uint8_t status) noexcept {
    const std::uint8_t kind = statusKind(status);
    return kind == kProgramChange || kind == kChannelPressure ? 1 : 2;
}

// General MIDI's percussion channel (channel 10, counted from 1).
inline constexpr std::uint8_t kDrumChannel = 9;
inline constexpr int kChannels = 16;

// Controller numbers.
namespace cc {
inline constexpr std::uint8_t kBankMsb = 0;
inline constexpr std::uint8_t kModulation = 1;
inline constexpr std::uint8_t kDataEntryMsb = 6;
inline constexpr std::uint8_t kVolume = 7;
inline constexpr std::uint8_t kPan = 10;
inline constexpr std::uint8_t kExpression = 11;
inline constexpr std::uint8_t kBankLsb = 32;
inline constexpr std::uint8_t kDataEntryLsb = 38;
inline constexpr std::uint8_t kSustain = 64;
inline constexpr std::uint8_t kSostenuto = 66;
inline constexpr std::uint8_t kSoundController1 = 70;
inline constexpr std::uint8_t kSoundController10 = 79;
inline constexpr std::uint8_t kEffects1Depth = 91;  // reverb send
inline constexpr std::uint8_t kEffects3Depth = 93;  // chorus send
inline constexpr std::uint8_t kEffects5Depth = 95;
inline constexpr std::uint8_t kDataIncrement = 96;
inline constexpr std::uint8_t kDataDecrement = 97;
inline constexpr std::uint8_t kNrpnLsb = 98;
inline constexpr std::uint8_t kNrpnMsb = 99;
inline constexpr std::uint8_t kRpnLsb = 100;
inline constexpr std::uint8_t kRpnMsb = 101;
inline constexpr std::uint8_t kAllSoundOff = 120;
inline constexpr std::uint8_t kResetAllControllers = 121;
inline constexpr std::uint8_t kAllNotesOff = 123;
}  // namespace cc

// Meta-event types (the byte after 0xFF).
namespace meta {
inline constexpr std::uint8_t kSequenceNumber = 0x00;
inline constexpr std::uint8_t kText = 0x01;
inline constexpr std::uint8_t kCopyright = 0x02;
inline constexpr std::uint8_t kTrackName = 0x03;
inline constexpr std::uint8_t kInstrumentName = 0x04;
inline constexpr std::uint8_t kLyric = 0x05;
inline constexpr std::uint8_t kMarker = 0x06;
inline constexpr std::uint8_t kCuePoint = 0x07;
inline constexpr std::uint8_t kChannelPrefix = 0x20;
inline constexpr std::uint8_t kPort = 0x21;
inline constexpr std::uint8_t kEndOfTrack = 0x2F;
inline constexpr std::uint8_t kTempo = 0x51;
inline constexpr std::uint8_t kSmpteOffset = 0x54;
inline constexpr std::uint8_t kTimeSignature = 0x58;
inline constexpr std::uint8_t kKeySignature = 0x59;
inline constexpr std::uint8_t kSequencerSpecific = 0x7F;
}  // namespace meta

}  // namespace lirno::midi
