// Record Track: what a MIDI keyboard plays goes into a new row of the open
// song while it plays, and stays there as a track like any other.
#include "ctrl/trackview.h"
#include "main/aboutdlg.h"
#include "main/mainwnd.h"
#include "main/toolbar.h"
#include "mmio/playback.h"
#include "mmio/recordtrack.h"
#include "mmio/sequencer.h"
#include "res/resources.h"

namespace lirno {

using namespace res;

void MainWndProc::recordTrack() {
    // Pressed again: what was played is kept and the song plays on.
    if (recording_) {
        finishRecording(true);
        return;
    }
    if (!playback.fFileLoaded)
        showRecordNotice(int(RecordNotice::NoSong));
    else if (!device_ || !device_->inputConnected())
        showRecordNotice(int(RecordNotice::NoInput));
    else if (loaded.MidiInfo.nTracks >= kMaxTracks)
        showRecordNotice(int(RecordNotice::Full));
    else if (timeTrack_ && playback.nMode != kModeSeeking)
        startRecording();
}

void MainWndProc::startRecording() {
    MidiInfo& info = loaded.MidiInfo;
    const std::uint16_t formatBefore = info.format;
    const int channel = recordChannel(info);
    const int track = addrecordtrack(loaded.image, info, nextRecordedName(info), channel);
    if (track < 0) {
        showRecordNotice(int(RecordNotice::Unfit));
        return;
    }
    // The row comes at once, so that its instrument can be chosen before a note.
    trackView_->addRow();
    device_->setInputChannel(channel);
    recording_ = Recording{track, formatBefore};
    if (const int r = device_->startRecording(); r != 0) {
        finishRecording();
        mcimidiError(r);
        return;
    }
    markRecording(true);
    if (playback.nMode == kModePlaying) {
        mcimidiChange();  // heard from where it is, with the new row
        return;
    }
    playback.fMidiChange = true;
    if (playback.dwFileSize != 0 && playback.dwPlayPos >= playback.dwFileSize)
        playback.dwPlayPos = 0;
    if (playback.nMode == kModePaused)
        pause();  // resumes
    else
        play();
}

// What was played becomes the row's track; nothing played, and the row
// goes again. The play file is stale either way: a song that plays on is
// heard with the change at once, any other at its next play.
void MainWndProc::finishRecording(bool playsOn) {
    if (!recording_) return;
    const Recording rec = *recording_;
    recording_.reset();
    markRecording(false);
    const std::vector<device::RecordedEvent> events =
        device_ ? device_->stopRecording() : std::vector<device::RecordedEvent>{};
    if (!events.empty() && fillrecordtrack(loaded.image, loaded.MidiInfo, rec.fileTrack, events)) {
        trackView_->lastRowFilled();
    } else {
        trackView_->dropRow();
        droprecordtrack(loaded.image, loaded.MidiInfo, rec.fileTrack, rec.formatBefore);
    }
    followRecordChannel();
    if (playsOn)
        mcimidiChange();
    else
        playback.fMidiChange = true;
}

void MainWndProc::showRecordNotice(int why) {
    AboutDlgProc dialog(recordNotice(RecordNotice(why)), this);
    dialog_ = &dialog;
    dialog.exec();
}

// Record Track stays pressed, on the toolbar and in the menu, while it records.
void MainWndProc::markRecording(bool on) {
    toolbar_->checkButton(IDM_RECORD, on);
    if (QAction* item = menuAction(IDM_RECORD)) {
        item->setCheckable(on);
        item->setChecked(on);
    }
}

// A keyboard is heard on the channel the next recording would take, with
// the instrument a new row would start with.
void MainWndProc::followRecordChannel() {
    if (device_) device_->setInputChannel(recordChannel(loaded.MidiInfo));
}

}  // namespace lirno
