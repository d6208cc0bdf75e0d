// Writes the session screenshots for docs/screenshots (run under Xvfb):
//   LIRNO_AUDIO=none xvfb-run -a -s "-screen 0 1024x768x24" session_screenshots DIR SONG.mid
// The compact window playing SONG, the track list with SONG half played,
// the box a file the analysis refuses brings, and SONG practised: at 60 %,
// two semitones down, bars 9 to 12 on repeat, with the Music menu and the
// recent songs. The program's settings go to a folder of its own.
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "device/engine/fluid_device.h"
#include "device/song/song_file.h"
#include "device/song/timing.h"
#include "main/mainwnd.h"
#include "main/messagebox_qt.h"
#include "main/resload.h"
#include "main/shell.h"
#include "main/toolbar.h"
#include "mmio/loadsave.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "res/resource.h"
#include "support/recorder.h"

namespace {

using namespace lirno;

void save(const QPixmap& picture, const QString& dir, const char* name) {
    const QString path = dir + QLatin1Char('/') + QLatin1String(name);
    if (!picture.save(path)) qWarning("could not write %s", qPrintable(path));
}

QPixmap grabScreenArea(QRect area) {
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                        area.height());
}

// Opens a file as from the command line, without playing it.
void load(MainWndProc& window, const std::string& path) {
    shell.szFileName = path;
    setFileDialogs({[path] { return std::optional<std::string>(path); }, {}});
    window.command(res::IDM_OPEN);
}

// Plays from a fraction of the song and lets the timer catch up.
void playFrom(MainWndProc& window, double fraction) {
    playback.dwPlayPos = static_cast<std::uint32_t>(playback.dwFileSize * fraction);
    window.command(res::IDM_PLAY);
    QTest::qWait(700);
}

// A song the analysis refuses: an unknown chunk before its track.
std::string refusedSong() {
    smf::Track t;
    t.tempo(0, 500000).ev(0, {0x90, 60, 100}).ev(96, {0x80, 60, 0}).end();
    smf::Bytes bytes = smf::file(0, 96, {t});
    const smf::Bytes extra = {'X', 'T', 'R', 'A', 0, 0, 0, 2, 1, 2};
    bytes.insert(bytes.begin() + 14, extra.begin(), extra.end());
    const std::string path = QDir::tempPath().toStdString() + "/karaoke-extra.mid";
    test::writeFile(path, bytes);
    return path;
}

void messageShot(MainWndProc& window, const QString& dir) {
    const std::string path = refusedSong();
    QTimer::singleShot(400, [&window, dir] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box) return;
        box->move(window.x() + 60, window.y() + 40);
        QTest::qWait(300);
        save(grabScreenArea(window.frameGeometry().united(box->frameGeometry())), dir,
             "session-message.png");
        static_cast<QDialog*>(box)->accept();
    });
    load(window, path);
    std::remove(path.c_str());
}

// Where a bar starts in the song, in units; 0 when the song cannot say.
std::uint32_t barUnits(const std::string& path, std::uint32_t bar) {
    std::shared_ptr<const device::Song> song;
    if (device::loadSongFile(path, song) != 0 || !song->timing) return 0;
    const auto tick = song->timing->tickOf({bar, 1});
    return tick ? std::uint32_t(song->timing->tickToNs(*tick) / device::kNsPerUnit) : 0;
}

void commandTimes(MainWndProc& window, int id, int times) {
    for (int i = 0; i < times; ++i) window.command(id);
}

// The menu of the menu bar whose title is `title`, opened under it.
QMenu* openMenu(MainWndProc& window, const QString& title) {
    for (QAction* a : window.menuBar()->actions()) {
        if (a->text() != title || !a->menu()) continue;
        const QRect at = window.menuBar()->actionGeometry(a);
        a->menu()->popup(window.mapToGlobal(at.bottomLeft()));
        QTest::qWait(300);
        return a->menu();
    }
    return nullptr;
}

void saveWithPopups(MainWndProc& window, const QString& dir, const char* name) {
    QRect area = window.frameGeometry();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMenu*>(w) && w->isVisible()) area = area.united(w->geometry());
    save(grabScreenArea(area), dir, name);
}

void practiceShots(MainWndProc& window, const std::string& song, const QString& dir) {
    load(window, song);
    commandTimes(window, res::IDM_SLOWER, 8);
    commandTimes(window, res::IDM_KEYDOWN, 2);
    playback.dwPlayPos = barUnits(song, 9);
    window.command(res::IDM_PASSAGESTART);
    playback.dwPlayPos = barUnits(song, 13);
    window.command(res::IDM_PASSAGEEND);
    window.command(res::IDM_PLAY);
    QTest::qWait(1500);
    save(window.grab(), dir, "session-practice.png");

    QMenu* music = openMenu(window, QStringLiteral("&Music"));
    saveWithPopups(window, dir, "session-practice-menu.png");
    if (music) music->close();
    if (QMenu* file = openMenu(window, QStringLiteral("&File"))) {
        window.recentMenu()->popup(
            file->geometry().topRight() +
            QPoint(0, file->actionGeometry(window.recentMenu()->menuAction()).y()));
        QTest::qWait(300);
        saveWithPopups(window, dir, "session-recent-songs.png");
        window.recentMenu()->close();
        file->close();
    }
    window.command(res::IDM_STOP);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        qWarning("usage: session_screenshots DIR SONG.mid");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const std::string song = argv[2];
    initResources();
    const QTemporaryDir config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    setMessageBoxHandler(qtMessageBoxes());
    playback.sTmpName = gettmpname();
    const std::unique_ptr<device::Device> device = device::makeDevice();
    {
        MainWndProc window(device.get());
        shell.hWndMain = &window;
        window.move(0, 0);
        window.show();
        QTest::qWait(300);

        load(window, song);
        QTest::mouseClick(window.toolbar()->button(res::IDM_VIEWTRACKS), Qt::LeftButton);
        playFrom(window, 0.3);
        save(window.grab(), dir, "session-compact.png");

        window.command(res::IDM_STOP);
        QTest::mouseClick(window.toolbar()->button(res::IDM_VIEWTRACKS), Qt::LeftButton);
        playFrom(window, 0.5);
        save(window.grab(), dir, "session-playing.png");

        messageShot(window, dir);
        practiceShots(window, song, dir);
        window.close();
    }
    deltmp(playback.sTmpName);
    return 0;
}
