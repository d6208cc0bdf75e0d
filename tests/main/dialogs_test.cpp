// The about box and the record notice: where they open from, what they
// show, and every way of closing them.
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "ctrl/trackview.h"
#include "main/aboutdlg.h"
#include "main/toolbar.h"
#include "mmio/loadsave.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "res/resource.h"
#include "support/fake_device.h"
#include "support/shell_fixture.h"

using namespace lirno;
using namespace lirno::res;
using lirno::test::ShellFixture;

namespace {

struct Seen {
    bool opened = false;
    QString title;
    QWidget* parent = nullptr;
    QStringList texts;
    bool okIsDefault = false;
    bool okHasFocus = false;
    QSize iconSize;
};

// While `open` runs (it blocks in the modal dialog), looks at the dialog and
// then ends it with `finish`. Returns what it saw.
Seen runDialog(const std::function<void()>& open, const std::function<void(QDialog*)>& finish) {
    Seen seen;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        seen.opened = true;
        seen.title = dialog->windowTitle();
        seen.parent = dialog->parentWidget();
        for (auto* label : dialog->findChildren<QLabel*>()) {
            if (!label->pixmap().isNull())
                seen.iconSize = label->pixmap().size();
            else
                seen.texts << label->text();
        }
        auto* ok = dialog->findChild<QPushButton*>();
        seen.okIsDefault = ok && ok->isDefault() && ok->text() == "OK";
        seen.okHasFocus = ok && dialog->focusWidget() == ok;
        finish(dialog);
    });
    open();
    return seen;
}

void pressOk(QDialog* d) {
    QTest::mouseClick(d->findChild<QPushButton*>(), Qt::LeftButton);
}
void pressEnter(QDialog* d) {
    QTest::keyClick(d, Qt::Key_Return);
}
void pressEscape(QDialog* d) {
    QTest::keyClick(d, Qt::Key_Escape);
}
void closeBox(QDialog* d) {
    d->close();
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void aboutBoxShowsItsTexts();
    void recordNoticeShowsItsTexts();
    void bothEndWithOkEnterEscapeAndTheCloseBox();
    void aboutOpensFromMenuToolbarAndLogo();
    void recordTrackOpensFromMenuAndToolbarAndChangesNothing();
    void recordNoticeSaysWhyRecordingCannotStart();
    void escapeEndsTheDialogWithTheResultOfOk();
};

void DialogsTest::aboutBoxShowsItsTexts() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    const Seen seen = runDialog([&] { w->command(IDM_ABOUT); }, pressOk);
    QVERIFY(seen.opened);
    QCOMPARE(seen.title, QString("About Lirno Player"));
    QCOMPARE(seen.parent, w.get());
    QVERIFY(seen.okIsDefault);
    QVERIFY(seen.okHasFocus);
    QCOMPARE(seen.iconSize, QSize(32, 32));
    QCOMPARE(seen.texts.size(), 3);
    QVERIFY(seen.texts[0].startsWith("Lirno MIDI Player. Version: 1.00 (98.6)\n"));
    for (const QString& t : seen.texts) QCOMPARE(t.count('\n'), 1);  // two lines each
}

void DialogsTest::recordNoticeShowsItsTexts() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    const Seen seen = runDialog([&] { w->command(IDM_RECORD); }, pressOk);
    QVERIFY(seen.opened);
    QCOMPARE(seen.title, QString("About Lirno Melvanto"));
    QCOMPARE(seen.parent, w.get());
    QVERIFY(seen.okIsDefault);
    QCOMPARE(seen.iconSize, QSize(32, 32));
    QCOMPARE(seen.texts.size(), 4);
    QVERIFY(seen.texts[0].contains("not available"));
}

void DialogsTest::bothEndWithOkEnterEscapeAndTheCloseBox() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    for (int id : {IDM_ABOUT, IDM_RECORD}) {
        for (auto finish : {pressOk, pressEnter, pressEscape, closeBox}) {
            const Seen seen = runDialog([&] { w->command(id); }, finish);
            QVERIFY(seen.opened);
            QVERIFY(!QApplication::activeModalWidget());
        }
    }
    QVERIFY(w->findChildren<QDialog*>().isEmpty());
}

void DialogsTest::aboutOpensFromMenuToolbarAndLogo() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    const std::function<void()> ways[] = {
        [&] { w->menuAction(IDM_ABOUT)->trigger(); },
        [&] { QTest::mouseClick(w->toolbar()->button(IDM_ABOUT), Qt::LeftButton); },
        [&] { QTest::mouseClick(w->logo(), Qt::LeftButton); },
    };
    for (const auto& open : ways) {
        const Seen seen = runDialog(open, pressEscape);
        QVERIFY(seen.opened);
        QCOMPARE(seen.title, QString("About Lirno Player"));
    }
}

void DialogsTest::recordTrackOpensFromMenuAndToolbarAndChangesNothing() {
    ShellFixture f;
    auto w = f.makeWindow();
    w->show();
    playback.fFileLoaded = true;
    playback.nMode = kModePaused;
    playback.dwPlayPos = 321;
    const std::function<void()> ways[] = {
        [&] { w->menuAction(IDM_RECORD)->trigger(); },
        [&] { QTest::mouseClick(w->toolbar()->button(IDM_RECORD), Qt::LeftButton); },
    };
    for (const auto& open : ways) {
        const Seen seen = runDialog(open, pressEnter);
        QCOMPARE(seen.title, QString("About Lirno Melvanto"));
    }
    QCOMPARE(playback.nMode, kModePaused);
    QCOMPARE(playback.dwPlayPos, 321u);
    QVERIFY(playback.fFileLoaded);
    QVERIFY(f.boxes.messages.empty());
}

void DialogsTest::recordNoticeSaysWhyRecordingCannotStart() {
    ShellFixture f;
    test::FakeDevice device;
    device.keyboard = true;
    playback.sTmpName = gettmpname();
    auto w = f.makeWindow(&device);
    w->show();
    const auto record = [&] { return runDialog([&] { w->command(IDM_RECORD); }, pressOk); };
    Seen seen = record();
    QCOMPARE(seen.texts[0], QString("Recording is not available now:\nno song is open."));
    QVERIFY(seen.texts[2].startsWith("Open a song first"));

    // No keyboard: how to connect one, and nothing changes.
    std::vector<smf::Track> tracks(kMaxTracks);
    for (auto& t : tracks) t.on(0, 0, 60).off(96, 0, 60).end();
    const std::string full = f.file("full.mid", smf::file(1, 96, tracks));
    setFileDialogs({[full] { return std::optional(full); }, {}});
    w->command(IDM_OPEN);
    QCOMPARE(w->trackView()->items(), kMaxTracks);
    const std::vector<std::uint8_t> image = test::bytesOf(loaded.image);
    device.keyboard = false;
    seen = record();
    QCOMPARE(seen.title, QString("About Lirno Melvanto"));
    QCOMPARE(seen.texts.size(), 4);
    QCOMPARE(seen.texts[0],
             QString("Recording is not available now:\nno MIDI keyboard is connected."));
    QVERIFY(seen.texts[1].startsWith("Recording takes the notes you play"));
    QVERIFY(seen.texts[2].contains("connect its output to \"Lirno Player\"'s input"));
    QVERIFY(seen.texts[2].contains("\"lirno-midi ports\" lists the ports"));

    // A keyboard, but the song holds 100 tracks already.
    device.keyboard = true;
    seen = record();
    QCOMPARE(seen.texts[0],
             QString("Recording is not available now:\nthe song is full (100 tracks)."));
    QCOMPARE(w->trackView()->items(), kMaxTracks);
    QCOMPARE(test::bytesOf(loaded.image), image);
    QCOMPARE(playback.nMode, kModeStopped);
    QVERIFY(!device.recordingNow);
    QVERIFY(!w->toolbar()->isButtonChecked(IDM_RECORD));
    QVERIFY(f.boxes.messages.empty());
    w.reset();
}

void DialogsTest::escapeEndsTheDialogWithTheResultOfOk() {
    ShellFixture f;
    AboutDlgProc dialog(IDD_ABOUT, nullptr);
    QTimer::singleShot(0, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    QCOMPARE(dialog.exec(), 1);
    QTimer::singleShot(0, [&] { dialog.close(); });
    QCOMPARE(dialog.exec(), 1);
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
