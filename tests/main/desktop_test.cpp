// The ways in besides the mouse: files dropped on the window, the keyboard
// (shortcuts, Space, Tab, first focus) and assistive tools' actions.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include "ctrl/trackview.h"
#include "main/filedrop.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "mmio/loadsave.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "res/resource.h"
#include "support/fake_device.h"
#include "support/shell_fixture.h"

using namespace lirno;
using namespace lirno::res;
using lirno::test::FakeDevice;
using lirno::test::ShellFixture;

namespace {

// Two tracks of notes on channels 0 and 1.
smf::Bytes twoTracks() {
    smf::Track a, b;
    a.name("Lead").ev(0, {0xC0, 0}).ev(0, {0x90, 60, 100}).ev(96, {0x80, 60, 64}).end();
    b.name("Bass").ev(0, {0xC1, 32}).ev(0, {0x91, 40, 100}).ev(96, {0x81, 40, 64}).end();
    return smf::file(1, 96, {a, b});
}

struct Window {
    ShellFixture f;
    FakeDevice device;
    std::unique_ptr<MainWndProc> w;

    Window() {
        playback.sTmpName = gettmpname();
        w = f.makeWindow(&device);
        w->show();
        QApplication::setActiveWindow(w.get());
    }
    std::string file(const char* name, const smf::Bytes& bytes) const {
        return f.file(name, bytes);
    }
    void open(const std::string& path) {
        shell.szFileName = path;
        w->command(IDM_OPEN, OPEN_AND_PLAY);
    }
    QToolButton* button(int id) const { return w->toolbar()->button(id); }
    // Sends a drag over `target` and, when it is taken, the drop; returns
    // whether the drag was taken.
    bool drop(QWidget* target, const QList<QUrl>& urls) const {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropped(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                           Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        // Never a move: the file manager must not delete the file.
        return dropped.isAccepted() && dropped.dropAction() == Qt::CopyAction;
    }
};

QUrl fileUrl(const std::string& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path));
}

void key(QWidget* to, int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(to, static_cast<Qt::Key>(k), mods);
}

QAccessibleInterface* accessible(QWidget* w) {
    return QAccessible::queryAccessibleInterface(w);
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT
  private slots:
    void droppedMidiFileOpensAndPlaysLikeTheCommandLine();
    void otherDropsAreRefusedWithoutABox();
    void firstFocusIsOpenThenPlayAndTabFollowsTheToolbar();
    void spacePlaysPausesAndResumesUnlessATextBoxOrButtonHasIt();
    void menuShortcutsRunTheirCommands();
    void accessibleRolesFollowWhatTheButtonsDo();
    void accessibleToggleOfOnAndSoloRunsTheClickHandler();
};

void DesktopTest::droppedMidiFileOpensAndPlaysLikeTheCommandLine() {
    Window s;
    const std::string song = s.file("song.mid", twoTracks());
    // Not a MIDI name, but MIDI bytes: the content decides.
    const std::string odd = s.file("song.bin", twoTracks());
    const std::string text = s.file("notes.txt", {'h', 'i'});

    // Several files: only the first counts.
    QVERIFY(s.drop(s.w.get(), {fileUrl(song), fileUrl(text)}));
    QCOMPARE(playback.nMode, kModeStopped);  // the file opens after the drop has ended
    QTRY_COMPARE(playback.nMode, kModePlaying);
    QVERIFY(s.w->windowTitle().endsWith(QString::fromStdString(song)));
    QCOMPARE(s.device.plays.size(), 1u);
    QCOMPARE(s.w->trackView()->rows().count(), 2);
    QVERIFY(s.button(IDM_PLAY)->isChecked());

    // Dropped on a track's name box: the song, not the box, takes it; the
    // playing song gives way as for a file on the command line.
    QLineEdit* name = s.w->trackView()->controls().hwndName[0];
    const QString before = name->text();
    QVERIFY(s.drop(name, {fileUrl(odd)}));
    QTRY_VERIFY(s.w->windowTitle().endsWith(QString::fromStdString(odd)));
    QCOMPARE(playback.nMode, kModePlaying);
    QCOMPARE(s.device.stops.size(), 1u);
    QCOMPARE(s.device.plays.size(), 2u);
    QCOMPARE(s.w->trackView()->controls().hwndName[0]->text(), before);
    QVERIFY(s.f.boxes.messages.empty());

    QVERIFY(isMidiFile(QString::fromStdString(song)));
    QVERIFY(!isMidiFile(QString::fromStdString(text)));
    QVERIFY(!isMidiFile(s.f.folder()));  // a folder
}

void DesktopTest::otherDropsAreRefusedWithoutABox() {
    Window s;
    const std::string text = s.file("notes.txt", {'h', 'i'});
    const std::string riff = s.file("wrapped", {'R', 'I', 'F', 'F', 0, 0, 0, 0});
    const std::string song = s.file("song.mid", twoTracks());

    QVERIFY(!s.drop(s.w.get(), {fileUrl(text), fileUrl(song)}));  // the first is not MIDI
    QVERIFY(!s.drop(s.w.get(), {QUrl(QStringLiteral("https://example.org/song.mid"))}));
    QVERIFY(!s.drop(s.w.get(), {fileUrl(s.f.tmp.file("missing.mid"))}));
    QTest::qWait(50);
    QCOMPARE(playback.fFileLoaded, false);
    QVERIFY(s.device.plays.empty());
    QVERIFY(s.f.boxes.messages.empty());

    // A file gone between the drag and the drop: refused, no open dialog.
    const std::string gone = s.file("gone.mid", twoTracks());
    QMimeData data;
    data.setUrls({fileUrl(gone)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s.w.get(), &enter);
    QVERIFY(enter.isAccepted());
    QFile::remove(QString::fromStdString(gone));
    QDropEvent dropped(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s.w.get(), &dropped);
    QVERIFY(!dropped.isAccepted());
    QTest::qWait(50);
    QCOMPARE(playback.fFileLoaded, false);

    // What begins with RIFF is taken, and the load says what it thinks of it.
    QVERIFY(s.drop(s.w.get(), {fileUrl(riff)}));
    QTRY_VERIFY(!s.f.boxes.messages.empty());
}

void DesktopTest::firstFocusIsOpenThenPlayAndTabFollowsTheToolbar() {
    Window s;
    QVERIFY(QTest::qWaitForWindowActive(s.w.get()));
    // No song yet: Open is the one useful step; never the logo.
    QCOMPARE(QApplication::focusWidget(), s.button(IDM_OPEN));
    s.open(s.file("song.mid", twoTracks()));
    QCOMPARE(QApplication::focusWidget(), s.button(IDM_PLAY));
    // Space on Play while playing pauses, and resumes: never a dead key.
    key(s.button(IDM_PLAY), Qt::Key_Space);
    QCOMPARE(playback.nMode, kModePaused);
    key(s.button(IDM_PLAY), Qt::Key_Space);
    QCOMPARE(playback.nMode, kModePlaying);

    const std::vector<QWidget*> expected = {
        s.button(IDM_SAVEAS), s.button(IDM_ABOUT),  s.button(IDM_VIEWTRACKS),
        s.button(IDM_VOLUME), s.button(IDM_STOP),   s.button(IDM_PLAY),
        s.button(IDM_PAUSE),  s.button(IDM_RECORD), s.button(IDM_LOOP),
        s.w->timeTrack(),     s.w->logo(),          s.w->trackView()->controls().hwndOn[0],
    };
    s.button(IDM_OPEN)->setFocus(Qt::TabFocusReason);
    for (QWidget* next : expected) {
        key(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    // Space presses the focused button.
    s.button(IDM_STOP)->setFocus(Qt::TabFocusReason);
    key(s.button(IDM_STOP), Qt::Key_Space);
    QCOMPARE(playback.nMode, kModeStopped);
    QVERIFY(!s.button(IDM_PLAY)->isChecked());
}

void DesktopTest::spacePlaysPausesAndResumesUnlessATextBoxOrButtonHasIt() {
    Window s;
    QVERIFY(QTest::qWaitForWindowActive(s.w.get()));
    s.open(s.file("song.mid", twoTracks()));
    s.w->command(IDM_STOP);
    s.w->timeTrack()->setFocus();

    key(s.w->timeTrack(), Qt::Key_Space);
    QCOMPARE(playback.nMode, kModePlaying);
    s.device.position_ = 40;
    key(s.w->timeTrack(), Qt::Key_Space);
    QCOMPARE(playback.nMode, kModePaused);
    QCOMPARE(playback.dwPlayPos, 40u);
    QCOMPARE(s.w->timeTrack()->pMode(), kModeStopped);  // no slider gesture began
    key(s.w->timeTrack(), Qt::Key_Space);
    QCOMPARE(playback.nMode, kModePlaying);
    QCOMPARE(s.device.plays.back().from, 40u);
    const auto plays = s.device.plays.size();

    // A name box takes Space as a blank.
    QLineEdit* name = s.w->trackView()->controls().hwndName[0];
    name->setFocus();
    name->setText(QStringLiteral("Lead"));
    key(name, Qt::Key_Space);
    QCOMPARE(name->text(), QStringLiteral("Lead "));
    QCOMPARE(playback.nMode, kModePlaying);
    // An On box takes it as its own click: the track goes off, the song plays on.
    QCheckBox* on = s.w->trackView()->controls().hwndOn[1];
    on->setFocus();
    key(on, Qt::Key_Space);
    QVERIFY(!on->isChecked());
    QVERIFY(!s.w->trackView()->rows().row(1).onChecked);
    QCOMPARE(playback.nMode, kModePlaying);
    QCOMPARE(s.device.plays.size(), plays + 1);  // the edit restarted the song
}

void DesktopTest::menuShortcutsRunTheirCommands() {
    Window s;
    QVERIFY(QTest::qWaitForWindowActive(s.w.get()));
    QCOMPARE(s.w->menuAction(IDM_OPEN)->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QCOMPARE(s.w->menuAction(IDM_SAVEAS)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    QCOMPARE(s.w->menuAction(IDM_EXIT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    QCOMPARE(s.w->menuAction(IDM_OPEN)->text(), QStringLiteral("&Open..."));

    int opens = 0, saves = 0;
    const std::string song = s.file("song.mid", twoTracks());
    const FileDialogs previous =
        setFileDialogs({[&]() -> std::optional<std::string> {
                            ++opens;
                            return song;
                        },
                        [&](const std::string&) -> std::optional<std::string> {
                            ++saves;
                            return std::nullopt;
                        }});
    key(s.w.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(opens, 1);
    QVERIFY(playback.fFileLoaded);
    QCOMPARE(playback.nMode, kModeStopped);  // opened from the dialog: nothing plays yet
    key(s.w.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(saves, 1);
    QSignalSpy ended(s.w.get(), &MainWndProc::windowDestroyed);
    key(s.w.get(), Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(ended.count(), 1);
    setFileDialogs(previous);
}

void DesktopTest::accessibleRolesFollowWhatTheButtonsDo() {
    Window s;
    s.open(s.file("song.mid", twoTracks()));
    QAccessibleInterface* play = accessible(s.button(IDM_PLAY));
    QCOMPARE(play->role(), QAccessible::PushButton);
    QVERIFY(!play->state().checkable);
    QVERIFY(play->state().pressed);  // playing: Play shows pressed
    QCOMPARE(play->actionInterface()->actionNames().value(0),
             QAccessibleActionInterface::pressAction());
    QAccessibleInterface* loop = accessible(s.button(IDM_LOOP));
    QVERIFY(loop->state().checkable);
    QCOMPARE(loop->actionInterface()->actionNames().value(0),
             QAccessibleActionInterface::toggleAction());
    QAccessibleInterface* on = accessible(s.w->trackView()->controls().hwndOn[0]);
    QCOMPARE(on->role(), QAccessible::CheckBox);
    QVERIFY(on->state().checked);
    QCOMPARE(on->text(QAccessible::Name), QStringLiteral("On 1"));
    QCOMPARE(accessible(s.w->trackView()->controls().hwndOnly[0])->role(),
             QAccessible::RadioButton);

    // Pressing Pause as a tool would runs the command; Toggle on Loop Music
    // sets the mark the end of the song reads.
    play = accessible(s.button(IDM_PAUSE));
    play->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(playback.nMode, kModePaused);
    loop->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(s.w->toolbar()->isButtonChecked(IDM_LOOP));
}

void DesktopTest::accessibleToggleOfOnAndSoloRunsTheClickHandler() {
    Window s;
    s.open(s.file("song.mid", twoTracks()));
    const auto unmuted = test::bytesOf(loaded.image);
    const auto plays = s.device.plays.size();
    QCheckBox* on = s.w->trackView()->controls().hwndOn[0];
    accessible(on)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(!on->isChecked());
    QVERIFY(!s.w->trackView()->rows().row(0).onChecked);
    QVERIFY(test::bytesOf(loaded.image) != unmuted);  // the track's notes flipped
    QCOMPARE(s.device.plays.size(), plays + 1);       // and the playing song follows
    accessible(on)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(on->isChecked());
    QVERIFY(test::bytesOf(loaded.image) == unmuted);

    // Solo through its own action: the other row's On box gives way.
    QRadioButton* solo = s.w->trackView()->controls().hwndOnly[0];
    accessible(solo)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(solo->isChecked());
    QVERIFY(s.w->trackView()->rows().row(0).soloChecked);
    QVERIFY(!s.w->trackView()->controls().hwndOn[1]->isEnabled());
}

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
