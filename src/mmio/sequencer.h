// Sequencer control: the player's commands to the sequencer device.
//
// The device only ever sees the play file. Every failing device command is
// reported at once in one fixed form (mcimidiError); callers rarely look at
// results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/device.h"

namespace lirno {

// The device the player talks to and where its completion notices go (the
// main window's event loop). Installed by whoever owns the device.
struct SequencerLink {
    device::Device* device = nullptr;
    device::Notifier hWndMain;
};
extern SequencerLink sequencer;

// Installs a device and where its notices go for the life of the object;
// whatever way the scope ends, the link installed before comes back, so
// nothing is left pointing at a device that is gone.
class SequencerInstall {
  public:
    explicit SequencerInstall(device::Device* device, device::Notifier notify = {});
    ~SequencerInstall();
    SequencerInstall(const SequencerInstall&) = delete;
    SequencerInstall& operator=(const SequencerInstall&) = delete;

  private:
    SequencerLink previous_;
};

// Opens the file and measures it (dwFileSize). Returns the device id, or 0
// after a report.
std::uint32_t mcimidiOpen(const std::string& fileName);
// Plays deviceId from dwPlayPos, notifying notify at the end. When the image
// changed since the play file was written, the play file is first rewritten
// and reopened (and the play goes to the new device). Returns the device's
// result code.
int mcimidiPlay(const device::Notifier& notify, std::uint32_t deviceId);
int mcimidiStop(std::uint32_t deviceId);
int mcimidiPause(std::uint32_t deviceId);
int mcimidiClose(std::uint32_t deviceId);
// Where the device has got to in its current play, or nothing when it
// cannot say (no device, no such id). Never reported: the timer asks ten
// times a second.
std::optional<std::uint32_t> mcimidiPosition(std::uint32_t deviceId);
// Marks the image changed; while playing, restarts at the current position
// so the change is heard at once. A restart that cannot start is reported,
// the device closed, and a failure notice sent to the window, which then
// plays without a device.
// Returns 1.
int mcimidiChange();
// Hands the device new playback settings (heard at once while playing) and
// keeps them in playSettings. Returns the device's result code, reported.
int mcimidiPlayback(const device::PlaybackSettings& settings);
// Reports a device error code in a message box.
void mcimidiError(int code);

}  // namespace lirno
