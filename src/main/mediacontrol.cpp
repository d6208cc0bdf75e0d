#include "main/mediacontrol.h"

#include "main/mainwnd.h"
#include "main/timetrack.h"
#include "mmio/playback.h"
#include "mmio/sequencer.h"
#include "res/resource.h"

namespace lirno {

int shownMode(const MainWndProc& w) {
    if (playback.nMode == kModeSeeking && w.timeTrack()) return w.timeTrack()->pMode();
    return playback.nMode;
}

// The commands decide: a press while the user holds the slider (mode 3)
// changes nothing, as a Play or Pause click would not.
void mediaPlay(MainWndProc& w) {
    if (playback.nMode == kModeStopped)
        w.command(res::IDM_PLAY);
    else if (playback.nMode == kModePaused)
        w.command(res::IDM_PAUSE);
}

void mediaPause(MainWndProc& w) {
    if (playback.nMode == kModePlaying) w.command(res::IDM_PAUSE);
}

void mediaPlayPause(MainWndProc& w) {
    if (playback.nMode == kModeStopped)
        w.command(res::IDM_PLAY);
    else
        w.command(res::IDM_PAUSE);
}

std::uint32_t songPosition(const MainWndProc& w) {
    if (shownMode(w) != kModePlaying) return playback.dwPlayPos;
    return mcimidiPosition(playback.wOutDeviceID).value_or(playback.dwPlayPos);
}

bool mediaSeek(MainWndProc& w, std::uint32_t pos) {
    if (!playback.fFileLoaded || !w.timeTrack() || pos > playback.dwFileSize) return false;
    return w.timeTrack()->seekTo(pos);
}

}  // namespace lirno
