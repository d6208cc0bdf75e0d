// The main window's commands that do not touch playback.
#include "ctrl/trackview.h"
#include "main/aboutdlg.h"
#include "main/mainwnd.h"
#include "main/mixer.h"
#include "main/toolbar.h"
#include "res/resource.h"

namespace lirno {

using namespace res;

void MainWndProc::command(int id, int param)
{
    switch (id) {
    case IDM_OPEN: openFile(param); break;
    case IDM_SAVEAS: saveAs(); break;
    case IDM_EXIT: exitProgram(); break;
    case IDM_STOP: stop(); break;
    case IDM_PLAY: play(); break;
    case IDM_PAUSE: pause(); break;
    case IDM_RECORD: showDialog(IDD_RECORD); break;
    case IDM_LOOP: loopMusic(); break;
    case IDM_VIEWTRACKS: viewTrackList(); break;
    case IDM_VOLUME: volumeControl(); break;
    case IDM_ABOUT: showDialog(IDD_ABOUT); break;
    default: break;  // New and Help have no action
    }
}

void MainWndProc::exitProgram() { close(); }

void MainWndProc::viewTrackList()
{
    // The button has already changed its mark.
    if (toolbar_->isButtonChecked(IDM_VIEWTRACKS))
        ShowTrack(this);
    else
        HideTrack(this);
}

void MainWndProc::volumeControl() { startMixer(); }

void MainWndProc::showDialog(int dialogId)
{
    AboutDlgProc dialog(dialogId, this);
    dialog_ = &dialog;
    dialog.exec();
}

}  // namespace lirno
