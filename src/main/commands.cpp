// The main window's commands that do not touch playback.
#include "ctrl/trackview.h"
#include "main/aboutdlg.h"
#include "main/lyricspane.h"
#include "main/mainwnd.h"
#include "main/mixer.h"
#include "main/outputdialog.h"
#include "main/shell.h"
#include "main/sounddialog.h"
#include "main/toolbar.h"
#include "res/resource.h"

namespace lirno {

using namespace res;

void MainWndProc::command(int id, int param) {
    // After the shut-down (a command that comes out of a dialog's own event
    // loop while the program ends) there is nothing left to act on.
    if (destroyed_ || shell.fEnding) return;
    // A window whose creation ended early has no position display or track
    // list to keep in step: only its dialogs, the mixer and Exit work.
    const bool needsDisplay = id == IDM_OPEN || id == IDM_SAVEAS || id == IDM_STOP ||
                              id == IDM_PLAY || id == IDM_PAUSE || id == IDM_VIEWTRACKS;
    if (needsDisplay && !timeTrack_) return;
    if (musicCommand(id)) return;
    switch (id) {
        case IDM_OPEN:
            openFile(param);
            break;
        case IDM_SAVEAS:
            saveAs();
            break;
        case IDM_EXIT:
            exitProgram();
            break;
        case IDM_STOP:
            stop();
            break;
        case IDM_PLAY:
            play();
            break;
        case IDM_PAUSE:
            pause();
            break;
        case IDM_RECORD:
            recordTrack();
            break;
        case IDM_LOOP:
            loopMusic();
            break;
        case IDM_VIEWTRACKS:
            viewTrackList();
            break;
        case IDM_VOLUME:
            volumeControl();
            break;
        case IDM_ABOUT:
            showDialog(IDD_ABOUT);
            break;
        default:
            break;  // New and Help have no action
    }
}

// The Music menu's items beyond the toolbar's commands; false for any other id.
bool MainWndProc::musicCommand(int id) {
    switch (id) {
        case IDM_LYRICS:
            if (lyrics_) lyrics_->toggle();
            return true;
        case IDM_SOUND:
            showSoundDialog(*sound_, this);
            return true;
        case IDM_MIDIOUTPUT:
            showOutputDialog(*ports_, this);
            return true;
        default:
            break;
    }
    if (id < IDM_FASTER) return false;
    if (timeTrack_) practiceCommand(id);
    return true;
}

void MainWndProc::exitProgram() {
    close();
}

void MainWndProc::viewTrackList() {
    // The button has already changed its mark.
    const bool show = toolbar_->isButtonChecked(IDM_VIEWTRACKS);
    showTrackRows(show);
    if (show)
        ShowTrack(this);
    else
        HideTrack(this);
}

// The compact window is the toolbar alone: the column header would
// otherwise peek in under it.
void MainWndProc::showTrackRows(bool show) {
    trackView_->setVisible(show);
    trackView_->header()->setVisible(show);
}

void MainWndProc::volumeControl() {
    startMixer();
}

void MainWndProc::showDialog(int dialogId) {
    AboutDlgProc dialog(dialogId, this);
    dialog_ = &dialog;
    dialog.exec();
}

}  // namespace lirno
