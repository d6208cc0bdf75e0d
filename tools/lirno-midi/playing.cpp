#include "playing.h"

#include <utility>

#include "mmio/playback.h"
#include "mmio/sequencer.h"

namespace lirno::cli {

void EndOfSong::notice(int code) {
    if (code == device::kNotifyAborted) return;
    {
        std::lock_guard lock(m);
        ended = code;
    }
    cv.notify_one();
}

int EndOfSong::wait(std::chrono::milliseconds tick) {
    std::unique_lock lock(m);
    cv.wait_for(lock, tick, [&] { return ended != 0; });
    return std::exchange(ended, 0);
}

bool start(const device::Notifier& notify, std::uint32_t from) {
    playback.wOutDeviceID = mcimidiOpen(playback.sTmpName);
    if (!playback.wOutDeviceID) return false;
    playback.dwPlayPos = from;
    playback.nMode = kModePlaying;
    return mcimidiPlay(notify, playback.wOutDeviceID) == 0;
}

void finish() {
    if (!playback.wOutDeviceID) return;
    mcimidiStop(playback.wOutDeviceID);
    mcimidiClose(playback.wOutDeviceID);
    playback.wOutDeviceID = 0;
    playback.nMode = kModeStopped;
}

}  // namespace lirno::cli
