// Writes the session screenshots for docs/screenshots (run under Xvfb):
//   LIRNO_AUDIO=none xvfb-run -a -s "-screen 0 1024x768x24" session_screenshots DIR SONG.mid
// The compact window playing SONG, the track list with SONG half played,
// and the box a file the analysis refuses brings.
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "device/engine/fluid_device.h"
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
        window.close();
    }
    deltmp(playback.sTmpName);
    return 0;
}
