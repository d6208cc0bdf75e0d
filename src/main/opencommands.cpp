// Opening and saving: the file commands and the state a loaded file brings.
#include <QFile>

#include "ctrl/trackview.h"
#include "main/lyricspane.h"
#include "main/mainwnd.h"
#include "main/shell.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "mmio/loadsave.h"
#include "mmio/playback.h"
#include "mmio/sequencer.h"
#include "res/resource.h"

namespace lirno {

using namespace res;

namespace {

// What tells whether a load that failed took the loaded file's image with it.
struct ImageMark {
    const std::uint8_t* block;
    std::uint32_t size;
    std::uint16_t rows;
    bool operator==(const ImageMark&) const = default;
};

ImageMark imageMark() {
    return {loaded.image.data(), loaded.image.dwFileBufSize, loaded.MidiInfo.nViewTracks};
}

// The buttons a loaded file makes usable.
constexpr int kFileButtons[] = {IDM_SAVEAS, IDM_STOP, IDM_PLAY,
                                IDM_PAUSE,  IDM_LOOP, IDM_VIEWTRACKS};

}  // namespace

void MainWndProc::openFile(int param) {
    // A song being recorded into keeps what was played before another comes.
    finishRecording();
    if (param != OPEN_AND_PLAY) shell.szFileName.clear();
    const ImageMark before = imageMark();
    const bool read = mcimidiSelectFile(shell.szFileName);
    // The program may have ended while a dialog or box of the load was open.
    if (destroyed_) return;
    if (!read) {
        // Cancelled, or the file could not be opened: the loaded song goes
        // on. A failure after that has dropped the image under the rows.
        if (imageMark() != before) unloadFile();
        return;
    }
    playback.fMidiChange = false;
    setCaption();
    closeDevice();
    measureSong();
    rewind();
    playback.fFileLoaded = true;
    InsertTrackViewItems(trackView_);
    followRecordChannel();
    timeCoord_->update();
    enableFileButtons(true);
    recallPlayback();
    lyrics_->songLoaded();
    if (toolbar_->isButtonChecked(IDM_VIEWTRACKS))
        ShowTrack(this);
    else
        showTrackRows(false);
    timeTrack_->setEnabled(true);
    if (param == OPEN_AND_PLAY) command(IDM_PLAY);
}

void MainWndProc::saveAs() {
    if (!trackView_) return;
    if (!mcimidiSaveFile(shell.szFileName, trackView_->rows()) || destroyed_) return;
    setCaption();
    // The copy is a song of its own: what is set from now on is kept for it.
    songKey_ = songKeyOf(QFile::decodeName(shell.szFileName.c_str()));
}

void MainWndProc::setCaption() {
    // A literal "[*]" in a path would otherwise be taken for the window's
    // modified marker and vanish from the caption.
    QString path = QFile::decodeName(shell.szFileName.c_str());
    path.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
    setWindowTitle(QString::fromStdString(shell.szTitle) + QLatin1String(" - ") + path);
}

void MainWndProc::measureSong() {
    // Opened only to learn the length; Play opens it again. A song the device
    // refuses has no length: the scale must not go on showing the last one's.
    const std::uint32_t id = mcimidiOpen(playback.sTmpName);
    songRefused_ = id == 0;
    if (id != 0)
        mcimidiClose(id);
    else
        playback.dwFileSize = 0;
    playback.wOutDeviceID = 0;
}

void MainWndProc::enableFileButtons(bool enable) {
    for (int id : kFileButtons) toolbar_->enableButton(id, enable);
    enablePracticeItems(enable);
    toolbar_->checkButton(IDM_PLAY, false);
    toolbar_->checkButton(IDM_PAUSE, false);
}

// Back to the state without a loaded file, as at start-up: nothing listed,
// nothing playable, no image left to edit or save by mistake. Loop Music
// and View Track List keep the marks the user gave them.
void MainWndProc::unloadFile() {
    closeDevice();
    loaded.image.dwFileBufSize = 0;
    loaded.MidiInfo = MidiInfo{};
    playback.fFileLoaded = false;
    playback.fMidiChange = false;
    playback.dwFileSize = 0;
    rewind();
    InsertTrackViewItems(trackView_);
    showTrackRows(false);
    HideTrack(this);
    enableFileButtons(false);
    timeTrack_->setEnabled(false);
    timeCoord_->update();
    shell.szFileName.clear();
    clock_.forget();
    lyrics_->songLoaded();
    songKey_.clear();
    applyPlayback(device::PlaybackSettings{});
    setWindowTitle(QString::fromStdString(shell.szTitle));
}

}  // namespace lirno
