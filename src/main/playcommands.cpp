// Playback: the commands that drive the sequencer, the timer that follows
// it and its end-of-play notice.
#include "main/mainwnd.h"
#include "main/timeconv.h"
#include "main/timetrack.h"
#include "mmio/playback.h"
#include "mmio/sequencer.h"

namespace lirno {

// Loading a file (param OPEN_AND_PLAY: the command line's file, played at
// once) comes with the file dialogs.
void MainWndProc::openFile([[maybe_unused]] int param) {}

void MainWndProc::saveAs() {}

void MainWndProc::stop() {}

void MainWndProc::play() {}

void MainWndProc::pause() {}

// The toolbar keeps Loop Music's mark; the end of play reads it.
void MainWndProc::loopMusic() {}

void MainWndProc::notice([[maybe_unused]] int flag) {}

void MainWndProc::timer()
{
    if (!time_ || !timeTrack_) return;
    std::uint32_t p = playback.dwPlayPos;
    if (playback.nMode == kModePlaying) {
        // Without a device, an answer or a length there is nothing to show.
        if (!sequencer.device || sequencer.device->position(playback.wOutDeviceID, p) != 0) return;
        if (playback.dwFileSize != 0) timeTrack_->setValue(posToSlider(p, playback.dwFileSize));
    }
    if (playback.nMode == kModePlaying || playback.nMode == kModeSeeking)
        setReadout(QString::fromStdString(formatReadout(p)));
}

}  // namespace lirno
