// Writes the shell's screenshots for docs/screenshots (run under Xvfb):
//   xvfb-run -a -s "-screen 0 1024x768x24" lirno_screenshots DIR
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include "main/aboutdlg.h"
#include "main/mainwnd.h"
#include "main/resload.h"
#include "main/shell.h"
#include "main/soundchoice.h"
#include "main/sounddialog.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "mmio/playback.h"
#include "mmio/timeconv.h"
#include "res/resource.h"

namespace {

using namespace lirno;

QString zoomDir;  // optional: 3x copies for a close look

void save(const QPixmap& picture, const QString& dir, const char* name) {
    const QString path = dir + QLatin1Char('/') + QLatin1String(name);
    if (!picture.save(path)) qWarning("could not write %s", qPrintable(path));
    if (!zoomDir.isEmpty())
        picture.scaled(picture.size() * 3).save(zoomDir + QLatin1Char('/') + QLatin1String(name));
}

// The window with the tooltip that hangs below it.
QPixmap grabWithTooltip(const QWidget& window) {
    QTest::qWait(300);
    QRect area = window.frameGeometry();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QTipLabel") && w->isVisible()) area = area.united(w->geometry());
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                        area.height());
}

void dialogShot(MainWndProc& window, int id, const QString& dir, const char* name) {
    AboutDlgProc dialog(id, &window);
    dialog.move(40, 40);
    dialog.show();
    QTest::qWait(300);
    save(dialog.grab(), dir, name);
}

void timeScaleShot(MainWndProc& window, std::uint32_t length, const QString& dir,
                   const char* name) {
    playback.fFileLoaded = true;
    playback.dwFileSize = length;
    window.timeTrack()->setEnabled(true);
    window.timeTrack()->setValue(81);
    window.setReadout(QString::fromStdString(formatReadout(sliderToPos(80, length))));
    window.timeCoord()->update();
    QTest::qWait(200);
    save(window.grab(), dir, name);
}

// A song of five minutes, one of 83, and a damaged file's length.
void timeScaleShot(MainWndProc& window, const QString& dir) {
    timeScaleShot(window, 2400, dir, "main-timescale.png");
    timeScaleShot(window, 83 * 60 * 8, dir, "main-timescale-long.png");
    timeScaleShot(window, 4294967295u, dir, "main-timescale-damaged.png");
}

// The keyboard's way: Play focused as after start-up with a song, and the
// File menu with its shortcuts.
void keyboardShots(MainWndProc& window, const QString& dir) {
    for (int id : {res::IDM_SAVEAS, res::IDM_STOP, res::IDM_PLAY, res::IDM_PAUSE, res::IDM_LOOP})
        window.toolbar()->enableButton(id, true);
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) qWarning("the window did not become active");
    window.toolbar()->button(res::IDM_STOP)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::qWait(300);
    save(window.grab(), dir, "main-keyboard-focus.png");

    QMenu* file = nullptr;
    for (QAction* a : window.menuBar()->actions())
        if (a->menu() && a->menu()->actions().contains(window.menuAction(res::IDM_OPEN)))
            file = a->menu();
    file->popup(window.mapToGlobal(QPoint(0, window.menuBar()->height())));
    QTest::qWait(300);
    QRect area = window.frameGeometry().united(file->geometry());
    save(QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                      area.height()),
         dir, "main-menu-shortcuts.png");
    file->hide();
}

// Two fonts stacked, the reverb turned down and the chorus off, as a
// player of solo piano might leave it; kept in a folder of its own.
void soundShot(MainWndProc& window, const QString& dir) {
    QTemporaryDir config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    qputenv("LIRNO_SOUNDFONT",
            "/home/ana/.local/share/soundfonts/SalamanderGrandPiano.sf2:"
            "/usr/share/sounds/sf2/FluidR3_GM.sf2");
    SoundChoice choice(nullptr);
    device::SoundSettings s = choice.settings();
    s.reverb = {true, 0.35, 0.4};
    s.chorus.on = false;
    choice.change(s);
    SoundDialog dialog(choice, &window);
    dialog.move(40, 40);
    dialog.show();
    dialog.fontList()->setCurrentRow(0);
    QTest::qWait(300);
    save(dialog.grab(), dir, "main-sound.png");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    if (argc > 2) zoomDir = QString::fromLocal8Bit(argv[2]);
    initResources();
    MainWndProc window(nullptr);
    shell.hWndMain = &window;
    window.move(0, 0);
    window.show();
    QTest::qWait(400);
    save(window.grab(), dir, "main-compact.png");

    QToolButton* stop = window.toolbar()->button(res::IDM_STOP);
    const QPoint at = stop->mapToGlobal(QPoint(stop->width() / 2, stop->height()));
    QToolTip::showText(at, stop->toolTip(), stop);
    save(grabWithTooltip(window), dir, "main-tooltip.png");
    QToolTip::hideText();

    dialogShot(window, res::IDD_ABOUT, dir, "main-about.png");
    dialogShot(window, res::IDD_RECORD, dir, "main-record.png");
    timeScaleShot(window, dir);
    keyboardShots(window, dir);
    soundShot(window, dir);
    return 0;
}
