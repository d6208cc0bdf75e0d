// Error codes of the sequencer device and of offline rendering.
#pragma once

#include <optional>
#include <string>

namespace lirno::device {

inline constexpr int kErrUnknownId = 1;
inline constexpr int kErrFileRead = 2;
inline constexpr int kErrNotMidi = 3;
inline constexpr int kErrShortHeader = 4;
inline constexpr int kErrBadDivision = 5;
inline constexpr int kErrOutOfRange = 6;
inline constexpr int kErrNoSoundFont = 7;
inline constexpr int kErrSoundFontLoad = 8;
inline constexpr int kErrAudioOutput = 9;
inline constexpr int kErrFileTooLarge = 10;
inline constexpr int kErrAudioWrite = 11;
inline constexpr int kErrCancelled = 12;
inline constexpr int kErrAudioLost = 13;
inline constexpr int kErrMidiPort = 14;      // no such MIDI port, or it cannot be connected
inline constexpr int kErrMidiPortLost = 15;  // the MIDI port went away while the song played
inline constexpr int kErrNoMidiInput = 16;   // nothing is connected to the MIDI input

// The text for a code returned by this library, or nothing for any other.
std::optional<std::string> errorTextFor(int code);

}  // namespace lirno::device
