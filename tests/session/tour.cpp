// A user's tour of real files, for looking at the program, not a test (run
// under Xvfb):
//   LIRNO_AUDIO=none xvfb-run -a -s "-screen 0 1024x768x24" session_tour SHOTDIR FILE...
// For each file: open it, look at the window, play, pause, resume, mute the
// first row, move the slider, stop; prints what a user would see and how
// long each step took, and keeps a picture of the window playing.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>
#include <cstdio>

#include "ctrl/trackview.h"
#include "device/engine/fluid_device.h"
#include "main/mainwnd.h"
#include "main/resload.h"
#include "main/shell.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "mmio/loadsave.h"
#include "mmio/message.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "mmio/sequencer.h"
#include "res/resource.h"

namespace {

using namespace lirno;

std::vector<Message> shown;

void say(const QString& text) {
    std::printf("%s\n", qPrintable(text));
}

QString state(const MainWndProc& w) {
    std::uint32_t pos = 0;
    if (playback.wOutDeviceID) sequencer.device->position(playback.wOutDeviceID, pos);
    return QStringLiteral("mode %1 readout %2 slider %3 devicepos %4 play %5 pause %6")
        .arg(playback.nMode)
        .arg(w.timeReadout()->text())
        .arg(w.timeTrack()->value())
        .arg(pos)
        .arg(w.toolbar()->isButtonChecked(res::IDM_PLAY))
        .arg(w.toolbar()->isButtonChecked(res::IDM_PAUSE));
}

void boxesSince(std::size_t& seen) {
    for (; seen < shown.size(); ++seen)
        say("  BOX [" + QString::fromStdString(shown[seen].caption) + "] " +
            QString::fromStdString(shown[seen].text).replace('\n', " / "));
}

void tour(MainWndProc& w, const QString& file, const QString& shots) {
    std::size_t seen = shown.size();
    say("== " + QFileInfo(file).fileName());
    setFileDialogs({[file] { return std::optional<std::string>(file.toStdString()); }, {}});
    QElapsedTimer t;
    t.start();
    w.command(res::IDM_OPEN);
    say(QStringLiteral("  open took %1 ms; caption \"%2\"").arg(t.elapsed()).arg(w.windowTitle()));
    boxesSince(seen);
    QStringList scale;
    for (const auto& l : w.timeCoord()->labels()) scale << l.text;
    say(QStringLiteral("  length %1 units; scale %2; rows %3")
            .arg(playback.dwFileSize)
            .arg(scale.join(' '))
            .arg(w.trackView()->items()));
    const TrackRows& rows = w.trackView()->rows();
    for (int r = 0; r < rows.count(); ++r) {
        const TrackRow& row = rows.row(r);
        say(QStringLiteral("    row %1: \"%2\" instr %3 vol %4 bal %5")
                .arg(r + 1)
                .arg(QString::fromStdString(row.name))
                .arg(row.instrSpecial ? QString::fromUtf8(row.instrEntry.data(),
                                                          qsizetype(row.instrEntry.size()))
                                      : QString::number(row.instrSel))
                .arg(row.vol)
                .arg(row.bal));
    }
    if (!playback.fFileLoaded) return;
    w.command(res::IDM_PLAY);
    QTest::qWait(1200);
    say("  playing 1.2 s: " + state(w));
    boxesSince(seen);
    w.command(res::IDM_PAUSE);
    const QString paused = state(w);
    QTest::qWait(300);
    say("  paused: " + paused + " | 0.3 s later: " + state(w));
    w.command(res::IDM_PAUSE);
    QTest::qWait(400);
    say("  resumed 0.4 s: " + state(w));
    if (rows.count() > 0) {
        t.restart();
        QTest::mouseClick(w.trackView()->controls().hwndOn[0], Qt::LeftButton);
        say(QStringLiteral("  muted row 1 in %1 ms: ").arg(t.elapsed()) + state(w));
        QTest::qWait(300);
        say("  0.3 s later: " + state(w));
    }
    t.restart();
    w.timeTrack()->setFocus();
    QTest::keyClick(w.timeTrack(), Qt::Key_PageUp);
    say(QStringLiteral("  PageUp on the slider in %1 ms: dwPlayPos %2 ")
            .arg(t.elapsed())
            .arg(playback.dwPlayPos) +
        state(w));
    QTest::qWait(400);
    say("  0.4 s later: " + state(w));
    boxesSince(seen);
    w.grab().save(shots + '/' + QFileInfo(file).completeBaseName() + ".png");
    w.command(res::IDM_STOP);
    say("  stopped: " + state(w));
    boxesSince(seen);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) return 2;
    initResources();
    setMessageBoxHandler([](const Message& m) { shown.push_back(m); });
    playback.sTmpName = gettmpname();
    const std::unique_ptr<device::Device> device = device::makeDevice();
    {
        MainWndProc w(device.get());
        shell.hWndMain = &w;
        w.show();
        QTest::qWait(200);
        for (int i = 2; i < argc; ++i)
            tour(w, QString::fromLocal8Bit(argv[i]), QString::fromLocal8Bit(argv[1]));
        w.close();
    }
    deltmp(playback.sTmpName);
    return 0;
}
