// What the window adds for singing along and seeing what plays: the Lyrics
// item of the Music menu with its pane, and the rows' activity lights, both
// following the play position on the timer's tick.
#include <QAction>

#include "ctrl/trackview.h"
#include "device/song/song.h"
#include "main/lyricspane.h"
#include "main/mainwnd.h"
#include "mmio/playback.h"
#include "res/resource.h"

namespace lirno {

using namespace res;

void MainWndProc::createLyricsPane() {
    lyrics_ = new LyricsPane(this);
    QAction* item = menuAction(IDM_LYRICS);
    if (!item) return;
    item->setCheckable(true);
    connect(lyrics_, &LyricsPane::shownChanged, item, &QAction::setChecked);
}

// The timer's share: the lights only while the song plays (dark, and no
// work, otherwise), the words wherever the position goes.
void MainWndProc::followSong(std::uint32_t units) {
    if (playback.nMode == kModePlaying)
        trackView_->showActivity(device::unitsToNs(units));
    else
        trackView_->darkenActivity();
    if (playback.nMode == kModePlaying || playback.nMode == kModeSeeking) lyrics_->follow(units);
}

}  // namespace lirno
