// Practice commands (speed, key, a passage on repeat) and the recent songs:
// what the window adds to the commands of its menus and toolbar.
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMenu>

#include "main/mainwnd.h"
#include "main/mediacontrol.h"
#include "main/shell.h"
#include "main/timetrack.h"
#include "mmio/message.h"
#include "mmio/playback.h"
#include "res/resources.h"

namespace lirno {

using namespace res;

namespace {

constexpr int kRecentTextWidth = 360;  // pixels: longer paths lose their middle

QString recentText(int index, const QString& path, const QFontMetrics& fm) {
    QString shown = fm.elidedText(path, Qt::ElideMiddle, kRecentTextWidth);
    shown.replace(QLatin1Char('&'), QLatin1String("&&"));
    const QString number = index < 9 ? QStringLiteral("&%1").arg(index + 1) : QStringLiteral("1&0");
    return number + QLatin1Char(' ') + shown;
}

}  // namespace

void MainWndProc::practiceCommand(int id) {
    if (id >= IDM_RECENTFIRST) {
        openRecent(id - IDM_RECENTFIRST);
        return;
    }
    if (id == IDM_CLEARRECENT) {
        recent_.clear();
        fillRecentMenu();
        return;
    }
    device::PlaybackSettings s = stepped(playback.playSettings, id);
    if (id == IDM_PASSAGESTART || id == IDM_PASSAGEEND) {
        const std::uint32_t at = songPosition(*this);
        const auto passage = id == IDM_PASSAGESTART ? clock_.withStart(s.passage, at)
                                                    : clock_.withEnd(s.passage, at);
        if (!passage) return;
        s.passage = passage;
    }
    changePlayback(s);
}

bool MainWndProc::changePlayback(const device::PlaybackSettings& settings) {
    if (!playback.fFileLoaded || !timeTrack_) return false;
    if (!applyPlayback(settings)) return false;
    rememberSong(songKey_, settings);
    return true;
}

bool MainWndProc::applyPlayback(const device::PlaybackSettings& settings) {
    if (settings != playback.playSettings && mcimidiPlayback(settings) != 0) return false;
    showPractice();
    return true;
}

void MainWndProc::showPractice() {
    const device::PlaybackSettings& s = playback.playSettings;
    const QString badge = badgeText(s);
    badge_->setText(badge);
    badge_->setToolTip(badgeDescription(s));
    badge_->setAccessibleDescription(badgeDescription(s));
    badge_->setVisible(!badge.isEmpty());
    passageUnits_ = s.passage ? clock_.unitsOf(*s.passage) : std::nullopt;
    timeCoord_->setPassage(passageUnits_);
}

// A song just loaded: its own settings, the normal ones if it has none.
void MainWndProc::recallPlayback() {
    clock_.forget();
    const QString path = QFile::decodeName(shell.szFileName.c_str());
    songKey_ = songKeyOf(path);
    recent_.add(path);
    fillRecentMenu();
    applyPlayback(recallSong(songKey_));
}

// A play starts inside the passage, wherever the position was left.
void MainWndProc::startInPassage() {
    if (!passageUnits_) return;
    const auto [from, to] = *passageUnits_;
    if (playback.dwPlayPos < from || playback.dwPlayPos >= to) playback.dwPlayPos = from;
}

void MainWndProc::enablePracticeItems(bool enable) {
    for (int id = IDM_FASTER; id <= IDM_CLEARPASSAGE; ++id)
        if (QAction* action = menuAction(id)) action->setEnabled(enable);
}

void MainWndProc::addRecentMenu(QMenu* file) {
    recentMenu_ = file->addMenu(QString::fromUtf8(kRecentSongsTitle));
    recentMenu_->setToolTipsVisible(true);
    file->addSeparator();
    clearRecent_ = new QAction(QString::fromUtf8(kClearRecentItem.text), this);
    connect(clearRecent_, &QAction::triggered, this, [this] { command(IDM_CLEARRECENT); });
    menuActions_[IDM_CLEARRECENT] = clearRecent_;
    fillRecentMenu();
}

void MainWndProc::fillRecentMenu() {
    recentMenu_->clear();
    const QStringList& files = recent_.files();
    const QFontMetrics fm(recentMenu_->font());
    for (int i = 0; i < files.size(); ++i) {
        QAction* a = recentMenu_->addAction(recentText(i, files[i], fm));
        a->setToolTip(files[i]);
        const int id = IDM_RECENTFIRST + i;
        connect(a, &QAction::triggered, this, [this, id] { command(id); });
    }
    recentMenu_->addSeparator();
    recentMenu_->addAction(clearRecent_);
    recentMenu_->setEnabled(!files.isEmpty());
}

void MainWndProc::openRecent(int index) {
    if (index < 0 || index >= recent_.files().size()) return;
    const QString path = recent_.files()[index];
    if (!QFileInfo::exists(path)) {
        MessageBox(Owner::Main,
                   QFile::encodeName(path).toStdString() +
                       "\nis no longer there. It is taken off the list of recent songs.",
                   shell.szTitle);
        recent_.remove(path);
        if (!destroyed_) fillRecentMenu();
        return;
    }
    shell.szFileName = QFile::encodeName(path).toStdString();
    command(IDM_OPEN, OPEN_AND_PLAY);
}

}  // namespace lirno
