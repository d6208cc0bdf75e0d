#include "mmio/sequencer.h"

#include <cstdio>
#include <utility>

#include "device/errors.h"
#include "mmio/message.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"

namespace lirno {

SequencerLink sequencer;

SequencerInstall::SequencerInstall(device::Device* device, device::Notifier notify)
    : previous_(std::exchange(sequencer, SequencerLink{device, std::move(notify)})) {}

SequencerInstall::~SequencerInstall() {
    sequencer = std::move(previous_);
}

namespace {

// Every device command in one place: a missing device behaves like a device
// that knows no such id.
template <typename Command>
int send(Command command) {
    const int result = sequencer.device ? command(*sequencer.device) : device::kErrUnknownId;
    if (result != 0) mcimidiError(result);
    return result;
}

}  // namespace

void mcimidiError(int code) {
    const auto text = sequencer.device ? sequencer.device->errorText(code) : std::nullopt;
    if (!text) {
        MessageBox(Owner::None, "Unrecognaized error", "Lirno Error", Icon::Exclamation);
        return;
    }
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "\nsize %d pos %d dev %d",
                  static_cast<int>(playback.dwFileSize), static_cast<int>(playback.dwPlayPos),
                  static_cast<int>(playback.wOutDeviceID));
    MessageBox(Owner::None, *text + numbers, "Lirno Error", Icon::Exclamation);
}

std::uint32_t mcimidiOpen(const std::string& fileName) {
    device::DeviceId id = 0;
    std::uint32_t length = 0;
    if (send([&](device::Device& d) { return d.open(fileName, id, length); }) != 0) return 0;
    playback.dwFileSize = length;
    return id;
}

int mcimidiPlay(const device::Notifier& notify, std::uint32_t deviceId) {
    if (playback.fMidiChange) {
        playback.fMidiChange = false;
        mcimidiStop(playback.wOutDeviceID);
        mcimidiClose(playback.wOutDeviceID);
        settmp(playback.sTmpName, loaded.image.data(), loaded.image.dwFileBufSize);
        playback.wOutDeviceID = mcimidiOpen(playback.sTmpName);
        deviceId = playback.wOutDeviceID;
        // The failed open has been reported; a play sent to no device would
        // only add "no such song" to it.
        if (deviceId == 0) return device::kErrUnknownId;
    }
    const std::uint32_t from = playback.dwPlayPos;
    const int result = send([&](device::Device& d) { return d.play(deviceId, from, notify); });
    // A start beyond the end is reported with the device's own code even if
    // the device let it pass.
    if (result == 0 && from > playback.dwFileSize) mcimidiError(device::kErrOutOfRange);
    return result;
}

int mcimidiStop(std::uint32_t deviceId) {
    return send([&](device::Device& d) { return d.stop(deviceId); });
}

int mcimidiPause(std::uint32_t deviceId) {
    return send([&](device::Device& d) { return d.pause(deviceId); });
}

int mcimidiClose(std::uint32_t deviceId) {
    return send([&](device::Device& d) { return d.close(deviceId); });
}

std::optional<std::uint32_t> mcimidiPosition(std::uint32_t deviceId) {
    std::uint32_t pos = 0;
    if (!sequencer.device || sequencer.device->position(deviceId, pos) != 0) return std::nullopt;
    return pos;
}

int mcimidiPlayback(const device::PlaybackSettings& settings) {
    const int result = send([&](device::Device& d) { return d.setPlayback(settings); });
    if (result == 0) playback.playSettings = settings;
    return result;
}

int mcimidiChange() {
    playback.fMidiChange = true;
    if (playback.nMode == kModePlaying && playback.fFileLoaded && playback.wOutDeviceID != 0 &&
        sequencer.device) {
        // Where the song has got to; if the device cannot say, the last known position.
        playback.dwPlayPos = mcimidiPosition(playback.wOutDeviceID).value_or(playback.dwPlayPos);
        if (mcimidiPlay(sequencer.hWndMain, playback.wOutDeviceID) != 0) {
            // Reported already; what was playing has stopped. The window
            // hears of it as a failure with no device behind it.
            if (playback.wOutDeviceID != 0) mcimidiClose(playback.wOutDeviceID);
            playback.wOutDeviceID = 0;
            if (sequencer.hWndMain) sequencer.hWndMain(0, device::kNotifyFailure);
        }
    }
    return 1;
}

}  // namespace lirno
