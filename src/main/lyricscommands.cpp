// What the window adds for singing along and seeing what plays: the Lyrics
// item of the Music menu with its pane, and the rows' activity lights, both
// following the play position on the timer's tick.
#include <QMenu>

#include "ctrl/trackview.h"
#include "device/song/song.h"
#include "main/lyricspane.h"
#include "main/mainwnd.h"
#include "mmio/playback.h"
#include "res/resource.h"
#include "res/resources.h"

namespace lirno {

using namespace res;

void MainWndProc::createLyricsPane() {
    lyrics_ = new LyricsPane(this);
    QAction* play = menuAction(IDM_PLAY);
    auto* music = play ? qobject_cast<QMenu*>(play->parent()) : nullptr;
    if (!music) return;
    music->addSeparator();
    QAction* item = music->addAction(QString::fromUtf8(kLyricsItem.text));
    item->setCheckable(true);
    item->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(item, &QAction::triggered, this, [this] { command(IDM_LYRICS); });
    connect(lyrics_, &LyricsPane::shownChanged, item, &QAction::setChecked);
    menuActions_[IDM_LYRICS] = item;
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
