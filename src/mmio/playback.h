// The process-wide state of the loaded file and of playback.
#pragma once

#include <cstdint>
#include <string>

#include "device/device.h"
#include "mmio/midiinfo.h"

namespace lirno {

// The loaded file: its image and what the analysis found. Replaced by each
// load; the image is the only copy of the file the program keeps.
struct LoadedFile {
    FileImage image;
    lirno::MidiInfo MidiInfo;
};
extern LoadedFile loaded;

// Playing modes.
inline constexpr int kModeStopped = 0;
inline constexpr int kModePlaying = 1;
inline constexpr int kModePaused = 2;
inline constexpr int kModeSeeking = 3;

struct Playback {
    std::uint32_t wOutDeviceID = 0;  // the open sequencer device, 0 for none
    std::uint32_t dwFileSize = 0;    // the song's length in device units (not bytes)
    std::uint32_t dwPlayPos = 0;     // where the next play starts
    int nMode = kModeStopped;
    bool fFileLoaded = false;
    bool fMidiChange = false;  // the image changed since the play file was written
    std::string sTmpName;      // the play file; empty when none could be made
    // Speed, key and passage as the device last took them (mcimidiPlayback).
    device::PlaybackSettings playSettings;
};
extern Playback playback;

// Back to the state of a fresh start (tests): the loaded file, playback,
// the scanner, the sequencer link, the message-box handler, the file dialogs,
// and whatever the layers above have registered with addGlobalReset.
void resetGlobals();
// Has reset run by every resetGlobals (the shell's own record).
void addGlobalReset(void (*reset)());

}  // namespace lirno
