// Playback: the commands that drive the sequencer, the timer that follows
// it and its end-of-play notice.
#include "main/mainwnd.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "mmio/playback.h"
#include "mmio/sequencer.h"
#include "mmio/timeconv.h"
#include "res/resource.h"

namespace lirno {

using namespace res;

void MainWndProc::stop() {
    finishRecording();
    // A stop that comes while the user holds the slider stops what the
    // gesture interrupted: the device plays on through a gesture.
    const int mode = playback.nMode == kModeSeeking ? timeTrack_->pMode() : playback.nMode;
    if (mode == kModePlaying || mode == kModePaused) mcimidiStop(playback.wOutDeviceID);
    rewind();
    toolbar_->checkButton(IDM_PLAY, false);
    toolbar_->checkButton(IDM_PAUSE, false);
}

void MainWndProc::play() {
    // Play neither restarts a playing song nor resumes a paused one.
    if (!playback.fFileLoaded || playback.nMode != kModeStopped) return;
    // The device refused this song when it was measured and said so then;
    // opening it again would only say it again.
    if (playback.wOutDeviceID == 0 && songRefused_ && !playback.fMidiChange) return;
    toolbar_->checkButton(IDM_PLAY, true);
    startInPassage();
    if (playback.wOutDeviceID == 0) playback.wOutDeviceID = mcimidiOpen(playback.sTmpName);
    // A play that could not start has been reported: the window stands as
    // after an end of play, not "playing" at 0:00.0.
    if (playback.wOutDeviceID == 0 || mcimidiPlay(sequencer.hWndMain, playback.wOutDeviceID) != 0) {
        endOfPlay();
        return;
    }
    playback.nMode = kModePlaying;
}

void MainWndProc::pause() {
    if (playback.nMode == kModePlaying) {
        finishRecording();
        playback.nMode = kModePaused;
        // If the device cannot say where it is, resume where this play began.
        playback.dwPlayPos = mcimidiPosition(playback.wOutDeviceID).value_or(playback.dwPlayPos);
        mcimidiPause(playback.wOutDeviceID);
        toolbar_->checkButton(IDM_PAUSE, true);
    } else if (playback.nMode == kModePaused) {
        // A new play from the kept position, so edits made meanwhile are heard.
        startInPassage();
        if (mcimidiPlay(sequencer.hWndMain, playback.wOutDeviceID) != 0) {
            endOfPlay();
            return;
        }
        playback.nMode = kModePlaying;
        toolbar_->checkButton(IDM_PAUSE, false);
    }
}

// The toolbar keeps Loop Music's mark; the end of play reads it.
void MainWndProc::loopMusic() {}

void MainWndProc::notice(int flag, device::DeviceId from) {
    // Stops, pauses and new plays abort the play before them: not an end.
    if (!timeTrack_ || flag == device::kNotifyAborted) return;
    if (playback.nMode != kModePlaying) return;
    if (playback.wOutDeviceID == 0) {
        // Playing without a device: a restart after an edit could not start
        // and was reported then (mcimidiChange).
        if (flag == device::kNotifyFailure) endOfPlay();
        return;
    }
    if (isFromEarlierPlay(flag, from)) return;
    if (flag == device::kNotifyFailure) {
        // The device's own words, once. No loop restart after a failure: with
        // a dead output that would be an endless series of boxes.
        mcimidiError(sequencer.device ? sequencer.device->failure(playback.wOutDeviceID) : 0);
        if (destroyed_) return;
        endOfPlay();
        return;
    }
    endOfPlay();
    if (toolbar_->isButtonChecked(IDM_LOOP)) command(IDM_PLAY);
}

// Device stopped and closed, back at 0, Play and Pause up.
void MainWndProc::endOfPlay() {
    finishRecording();
    closeDevice();
    rewind();
    toolbar_->checkButton(IDM_PLAY, false);
    toolbar_->checkButton(IDM_PAUSE, false);
}

// Notices wait in the event queue: the end of a play can arrive after a
// newer play has begun (the song ended as the user pressed Stop and Play, or
// let go of the slider), or come from a device closed since. The newer play
// is not over for that.
bool MainWndProc::isFromEarlierPlay(int flag, device::DeviceId from) const {
    if (from != 0 && from != playback.wOutDeviceID) return true;
    if (flag != device::kNotifySuccessful) return false;
    const auto pos = mcimidiPosition(playback.wOutDeviceID);
    return pos && *pos < playback.dwFileSize;
}

void MainWndProc::closeDevice() {
    if (playback.wOutDeviceID == 0) return;
    mcimidiStop(playback.wOutDeviceID);
    mcimidiClose(playback.wOutDeviceID);
    playback.wOutDeviceID = 0;
}

// Shows dwPlayPos in the readout at once, then enters nextMode.
void MainWndProc::refreshReadout(int nextMode) {
    playback.nMode = kModeSeeking;
    timer();
    playback.nMode = nextMode;
}

void MainWndProc::rewind() {
    playback.dwPlayPos = 0;
    refreshReadout(kModeStopped);
    timeTrack_->setValue(0);
}

void MainWndProc::timer() {
    if (!time_ || !timeTrack_) return;
    std::uint32_t p = playback.dwPlayPos;
    if (playback.nMode == kModePlaying) {
        // Without a device, an answer or a length there is nothing to show.
        const auto pos = mcimidiPosition(playback.wOutDeviceID);
        if (!pos) return;
        p = *pos;
        if (playback.dwFileSize != 0) timeTrack_->setValue(posToSlider(p, playback.dwFileSize));
    }
    if (playback.nMode == kModePlaying || playback.nMode == kModeSeeking)
        setReadout(QString::fromStdString(formatReadout(p)));
    followSong(p);
}

}  // namespace lirno
