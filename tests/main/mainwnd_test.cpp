// The main window as start-up leaves it: state, toolbar, menu, tooltips,
// accessible names, layout, and the commands that need no song.
#include <QAccessible>
#include <QFile>
#include <QHelpEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include "ctrl/trackview.h"
#include "main/messagebox_qt.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "mmio/playfile.h"
#include "mmio/sequencer.h"
#include "res/resource.h"
#include "support/fake_device.h"
#include "support/shell_fixture.h"

using namespace lirno;
using namespace lirno::res;
using lirno::test::EnvGuard;
using lirno::test::FakeDevice;
using lirno::test::ShellFixture;

namespace {

struct ButtonState {
    int id;
    bool enabled;
    bool checked;
    const char* tip;
};

const ButtonState kInitialButtons[] = {
    {IDM_NEW, false, false, "New midi file"},
    {IDM_OPEN, true, false, "Open midi file"},
    {IDM_SAVEAS, false, false, "Save midi file as..."},
    {IDM_ABOUT, true, false, "About"},
    {IDM_VIEWTRACKS, false, true, "View Track List"},
    {IDM_VOLUME, true, false, "Volume Control"},
    {IDM_STOP, false, false, "Stop Playing Music (Go to begining)"},
    {IDM_PLAY, false, false, "Play Music"},
    {IDM_PAUSE, false, false, "Pause Music"},
    {IDM_RECORD, true, false, "Record Track"},
    {IDM_LOOP, false, false, "Loop Music"},
};

// The sizes are the window's own, without a window manager's frame.
bool hasSize(const QWidget* w, QSize size) {
    return w->size() == size;
}

QString accessibleText(QWidget* w, QAccessible::Text t) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(t) : QString();
}

}  // namespace

class MainWndTest : public QObject {
    Q_OBJECT
  private slots:
    void startsCompactWithNothingLoaded();
    void creationResetsThePlaybackState();
    void toolbarHasTwoRowsWithSeparators();
    void pushButtonsKeepTheirMarkCheckButtonsToggle();
    void tooltipsComeFromTheStringTable();
    void everyControlHasAnAccessibleName();
    void menuTextsAndGrayedItems();
    void resizingMovesOnlyToolbarWidthAndTrackView();
    void viewTrackListGrowsAndShrinksTheWindow();
    void volumeControlStartsTheFirstMixerFound();
    void volumeControlWithoutMixerReportsNothing();
    void exitDeletesThePlayFileOnce();
    void closeBoxDeletesThePlayFile();
    void shutDownStopsAPlayingDeviceBeforeDeletingThePlayFile();
    void shutDownLeavesAStoppedDeviceAlone();
    void messageBoxesHaveTheirOwnerAndCaption();
    void commandLineIsJoinedVerbatim();
};

void MainWndTest::startsCompactWithNothingLoaded() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    QCOMPARE(w->windowTitle(), QString("Lirno Player"));
    QCOMPARE(w->size(), QSize(445, 95));
    for (const auto& b : kInitialButtons) {
        QToolButton* button = w->toolbar()->button(b.id);
        QVERIFY2(button, b.tip);
        QCOMPARE(button->isEnabled(), b.enabled);
        QCOMPARE(button->isChecked(), b.checked);
    }
    QVERIFY(!w->toolbar()->button(IDM_HELP));
    TimeTrackWndProc* slider = w->timeTrack();
    QVERIFY(!slider->isEnabled());
    QCOMPARE(slider->value(), 0);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 200);
    QCOMPARE(slider->tickInterval(), 40);
    QCOMPARE(slider->numTicks(), 6);
    QCOMPARE(w->timeReadout()->text(), QString("0:00.0"));
    QVERIFY(w->timeCoord()->labels().empty());
    QVERIFY(!w->trackView()->isVisible());
    QVERIFY(w->trackView()->header());
    QVERIFY(w->tickTimer().isActive());
    QCOMPARE(w->tickTimer().interval(), 100);
}

void MainWndTest::creationResetsThePlaybackState() {
    ShellFixture f;
    playback.nMode = kModePaused;
    playback.fFileLoaded = true;
    playback.wOutDeviceID = 9;
    playback.dwPlayPos = 777;
    FakeDevice device;
    auto w = f.makeWindow(&device);
    QCOMPARE(playback.nMode, kModeStopped);
    QVERIFY(!playback.fFileLoaded);
    QCOMPARE(playback.wOutDeviceID, 0u);
    QCOMPARE(playback.dwPlayPos, 0u);
    QCOMPARE(sequencer.device, &device);
    QVERIFY(sequencer.hWndMain);
}

void MainWndTest::toolbarHasTwoRowsWithSeparators() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    auto g = [&](int id) { return w->toolbar()->button(id)->geometry(); };
    const int upper[] = {IDM_NEW, IDM_OPEN, IDM_SAVEAS, IDM_ABOUT, IDM_VIEWTRACKS, IDM_VOLUME};
    const int lower[] = {IDM_STOP, IDM_PLAY, IDM_PAUSE, IDM_RECORD, IDM_LOOP};
    for (int id : upper) QCOMPARE(g(id).y(), g(IDM_NEW).y());
    for (int id : lower) QCOMPARE(g(id).y(), g(IDM_STOP).y());
    QVERIFY(g(IDM_STOP).top() >= g(IDM_NEW).bottom());
    QCOMPARE(g(IDM_STOP).left(), g(IDM_NEW).left());
    // Buttons touch, except where a separator stands between them.
    auto gap = [&](int a, int b) { return g(b).left() - g(a).right() - 1; };
    QCOMPARE(gap(IDM_NEW, IDM_OPEN), 0);
    QCOMPARE(gap(IDM_OPEN, IDM_SAVEAS), 0);
    QVERIFY(gap(IDM_SAVEAS, IDM_ABOUT) > 0);
    QVERIFY(gap(IDM_ABOUT, IDM_VIEWTRACKS) > 0);
    QCOMPARE(gap(IDM_VIEWTRACKS, IDM_VOLUME), 0);
    QCOMPARE(gap(IDM_STOP, IDM_PLAY), 0);
    QCOMPARE(gap(IDM_PLAY, IDM_PAUSE), 0);
    QVERIFY(gap(IDM_PAUSE, IDM_RECORD) > 0);
    QVERIFY(gap(IDM_RECORD, IDM_LOOP) > 0);
    // No button hides under the position display or the logo.
    QVERIFY(g(IDM_LOOP).right() < w->timeReadout()->geometry().left());
    QVERIFY(g(IDM_VOLUME).right() < w->timeTrack()->geometry().left());
    QCOMPARE(w->timeTrack()->geometry(), QRect(185, 1, 200, 31));
    QCOMPARE(w->timeCoord()->geometry(), QRect(185, 32, 205, 15));
    QCOMPARE(w->timeReadout()->geometry(), QRect(137, 30, 47, 16));
    QCOMPARE(w->logo()->geometry(), QRect(395, 5, 40, 40));
    QCOMPARE(w->toolbar()->y(), w->menuBar()->geometry().bottom() + 1);
}

void MainWndTest::pushButtonsKeepTheirMarkCheckButtonsToggle() {
    ShellFixture f;
    auto w = f.makeWindow();
    Toolbar* tb = w->toolbar();
    for (int id : {IDM_PLAY, IDM_LOOP}) tb->enableButton(id, true);
    QTest::mouseClick(tb->button(IDM_PLAY), Qt::LeftButton);
    QVERIFY(!tb->isButtonChecked(IDM_PLAY));
    tb->checkButton(IDM_PLAY, true);
    QVERIFY(tb->isButtonChecked(IDM_PLAY));
    QTest::mouseClick(tb->button(IDM_PLAY), Qt::LeftButton);
    QVERIFY(tb->isButtonChecked(IDM_PLAY));
    QTest::mouseClick(tb->button(IDM_LOOP), Qt::LeftButton);
    QVERIFY(tb->isButtonChecked(IDM_LOOP));
    QTest::mouseClick(tb->button(IDM_LOOP), Qt::LeftButton);
    QVERIFY(!tb->isButtonChecked(IDM_LOOP));
    // A disabled button sends nothing.
    QSignalSpy clicks(tb, &Toolbar::commandTriggered);
    QTest::mouseClick(tb->button(IDM_PAUSE), Qt::LeftButton);
    QCOMPARE(clicks.count(), 0);
}

void MainWndTest::tooltipsComeFromTheStringTable() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    for (const auto& b : kInitialButtons)
        QCOMPARE(w->toolbar()->button(b.id)->toolTip(), QString(b.tip));
    QCOMPARE(w->timeTrack()->toolTip(), QString("Set Music Position"));
    // And the tooltip really shows over a button.
    QToolButton* stop = w->toolbar()->button(IDM_STOP);
    const QPoint at(stop->width() / 2, stop->height() / 2);
    QHelpEvent help(QEvent::ToolTip, at, stop->mapToGlobal(at));
    QApplication::sendEvent(stop, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QString("Stop Playing Music (Go to begining)"));
    QToolTip::hideText();
}

void MainWndTest::everyControlHasAnAccessibleName() {
    ShellFixture f;
    auto w = f.makeWindow();
    for (const auto& b : kInitialButtons)
        QCOMPARE(accessibleText(w->toolbar()->button(b.id), QAccessible::Name), QString(b.tip));
    QCOMPARE(accessibleText(w->logo(), QAccessible::Name), QString("About"));
    QCOMPARE(accessibleText(w->timeTrack(), QAccessible::Name), QString("Set Music Position"));
    QCOMPARE(accessibleText(w->timeCoord(), QAccessible::Name), QString("Time scale"));
    QCOMPARE(accessibleText(w->timeReadout(), QAccessible::Name), QString("Time"));
    QCOMPARE(accessibleText(w->timeReadout(), QAccessible::Description), QString("0:00.0"));
    w->setReadout("1:23.5");
    QCOMPARE(accessibleText(w->timeReadout(), QAccessible::Description), QString("1:23.5"));
}

void MainWndTest::menuTextsAndGrayedItems() {
    ShellFixture f;
    auto w = f.makeWindow();
    // "-" is a separator; a leading "!" marks an item grayed.
    const QStringList expected[] = {
        {"&File", "!&New", "&Open...", "Save &As...", "-", "!Recent &Songs", "-", "E&xit"},
        {"&Music",
         "&Play",
         "&Stop",
         "P&ause",
         "-",
         "&Record Track",
         "-",
         "!&Faster",
         "!S&lower",
         "!&Normal Speed",
         "!Key &Up",
         "!Key &Down",
         "!&Original Key",
         "!Passage S&tart Here",
         "!Passage &End Here",
         "!&Clear Passage",
         "-",
         "Sound...",
         "MIDI Output...",
         "-",
         "&Lyrics"},
        {"&Help", "!&Help", "-", "&About Lirno Player..."},
    };
    const QList<QAction*> menus = w->menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    for (int m = 0; m < 3; ++m) {
        QStringList seen{menus[m]->text()};
        for (QAction* a : menus[m]->menu()->actions())
            seen << (a->isSeparator() ? QString("-") : (a->isEnabled() ? "" : "!") + a->text());
        QCOMPARE(seen, expected[m]);
    }
    QCOMPARE(w->menuAction(IDM_PLAY)->text(), QString("&Play"));
}

void MainWndTest::resizingMovesOnlyToolbarWidthAndTrackView() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    const QRect slider = w->timeTrack()->geometry();
    const QRect logo = w->logo()->geometry();
    w->resize(600, 300);
    QCOMPARE(w->toolbar()->width(), 600);
    QCOMPARE(w->timeTrack()->geometry(), slider);
    QCOMPARE(w->logo()->geometry(), logo);
    const int toolbarBottom = w->toolbar()->geometry().bottom() + 1;
    QCOMPARE(w->trackView()->header()->y(), toolbarBottom);
    QVERIFY(w->trackView()->y() > toolbarBottom);
    QCOMPARE(w->trackView()->geometry().bottom(), 299);
}

void MainWndTest::viewTrackListGrowsAndShrinksTheWindow() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    QToolButton* view = w->toolbar()->button(IDM_VIEWTRACKS);
    view->setEnabled(true);
    QTest::mouseClick(view, Qt::LeftButton);  // unchecks: compact
    QVERIFY(!view->isChecked());
    QVERIFY(hasSize(w.get(), QSize(445, 95)));
    QTest::mouseClick(view, Qt::LeftButton);
    QVERIFY(view->isChecked());
    QVERIFY(hasSize(w.get(), QSize(585, 417)));
    QTest::mouseClick(view, Qt::LeftButton);
    QVERIFY(hasSize(w.get(), QSize(445, 95)));
}

namespace {

// A program on a private PATH that leaves a mark when it runs.
void fakeProgram(const QString& dir, const QString& name) {
    QFile script(dir + "/" + name);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QString("#!/bin/sh\ntouch '%1/%2.ran'\n").arg(dir, name).toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

void MainWndTest::volumeControlStartsTheFirstMixerFound() {
    ShellFixture f;
    EnvGuard path("PATH");
    const QString bin = f.folder();
    fakeProgram(bin, "pwvucontrol");
    fakeProgram(bin, "pavucontrol");
    path.set((bin + ":/usr/bin:/bin").toStdString());
    auto w = f.makeWindow();
    QTest::mouseClick(w->toolbar()->button(IDM_VOLUME), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(bin + "/pavucontrol.ran"), 10000);
    QVERIFY(!QFile::exists(bin + "/pwvucontrol.ran"));
    QVERIFY(f.boxes.messages.empty());
}

void MainWndTest::volumeControlWithoutMixerReportsNothing() {
    ShellFixture f;
    EnvGuard path("PATH", f.tmp.path());
    auto w = f.makeWindow();
    w->command(IDM_VOLUME);
    QVERIFY(f.boxes.messages.empty());
    QVERIFY(w->tickTimer().isActive());
}

void MainWndTest::exitDeletesThePlayFileOnce() {
    ShellFixture f;
    playback.sTmpName = gettmpname();
    const QString playFile = QString::fromStdString(playback.sTmpName);
    QVERIFY(playFile.startsWith(f.folder() + "/lq"));
    QVERIFY(QFile::exists(playFile));
    auto w = f.makeWindow();
    w->show();
    QSignalSpy ended(w.get(), &MainWndProc::windowDestroyed);
    w->menuAction(IDM_EXIT)->trigger();
    QVERIFY(!QFile::exists(playFile));
    QVERIFY(!w->isVisible());
    QVERIFY(!w->tickTimer().isActive());
    QCOMPARE(ended.count(), 1);
    w.reset();  // the destructor finds the shut-down done
    QCOMPARE(ended.count(), 1);
    QVERIFY(f.boxes.messages.empty());
}

void MainWndTest::closeBoxDeletesThePlayFile() {
    ShellFixture f;
    playback.sTmpName = gettmpname();
    const QString playFile = QString::fromStdString(playback.sTmpName);
    auto w = f.makeWindow();
    w->show();
    QVERIFY(w->close());
    QVERIFY(!QFile::exists(playFile));
    QVERIFY(QDir(f.folder()).isEmpty());
}

namespace {

// Notes whether the play file was still there when the device was stopped.
class WatchingDevice : public FakeDevice {
  public:
    QString playFile;
    bool fileThereAtStop = false;
    int stop(device::DeviceId id) override {
        fileThereAtStop = QFile::exists(playFile);
        return FakeDevice::stop(id);
    }
};

}  // namespace

void MainWndTest::shutDownStopsAPlayingDeviceBeforeDeletingThePlayFile() {
    for (int mode : {kModePlaying, kModePaused}) {
        ShellFixture f;
        WatchingDevice device;
        playback.sTmpName = gettmpname();
        device.playFile = QString::fromStdString(playback.sTmpName);
        auto w = f.makeWindow(&device);
        playback.fFileLoaded = true;
        playback.wOutDeviceID = 3;
        playback.nMode = mode;
        w->command(IDM_EXIT);
        QCOMPARE(device.stops, std::vector<device::DeviceId>{3});
        QCOMPARE(device.closes, std::vector<device::DeviceId>{3});
        QVERIFY(device.fileThereAtStop);
        QVERIFY(!QFile::exists(device.playFile));
        QCOMPARE(playback.nMode, kModeStopped);
        QVERIFY(f.boxes.messages.empty());
    }
}

void MainWndTest::shutDownLeavesAStoppedDeviceAlone() {
    ShellFixture f;
    FakeDevice device;
    auto w = f.makeWindow(&device);
    playback.fFileLoaded = true;
    playback.wOutDeviceID = 3;  // left open by Stop
    w->close();
    QVERIFY(device.stops.empty());
    QVERIFY(device.closes.empty());
}

void MainWndTest::messageBoxesHaveTheirOwnerAndCaption() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    setMessageBoxHandler(qtMessageBoxes());  // the fixture's recorder puts its own back
    struct Seen {
        QString title, text;
        QWidget* parent = nullptr;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    } seen;
    auto look = [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        seen = {box->windowTitle(), box->text(), box->parentWidget(), box->icon()};
        QTest::keyClick(box, Qt::Key_Return);
    };
    QTimer::singleShot(0, look);
    MessageBox(Owner::None, "Tool not created!");
    QCOMPARE(seen.title, QString("Error"));
    QCOMPARE(seen.text, QString("Tool not created!"));
    QCOMPARE(seen.parent, nullptr);
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QTimer::singleShot(0, look);
    MessageBox(Owner::Main, "File open failed.", "Attention", Icon::Exclamation);
    QCOMPARE(seen.title, QString("Attention"));
    QCOMPARE(seen.parent, w.get());
    QCOMPARE(seen.icon, QMessageBox::Warning);
    QVERIFY(!QApplication::activeModalWidget());
}

void MainWndTest::commandLineIsJoinedVerbatim() {
    const char* none[] = {"lirno-player"};
    QCOMPARE(commandLineFileName(1, none), std::string());
    const char* blanks[] = {"lirno-player", "/music/My", "Song.mid"};
    QCOMPARE(commandLineFileName(3, blanks), std::string("/music/My Song.mid"));
    const char* quoted[] = {"lirno-player", "\"a b.mid\" "};
    QCOMPARE(commandLineFileName(2, quoted), std::string("\"a b.mid\" "));
}

QTEST_MAIN(MainWndTest)
#include "mainwnd_test.moc"
