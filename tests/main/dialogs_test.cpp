// The about box and the record notice: where they open from, what they
// show, and every way of closing them.
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "main/aboutdlg.h"
#include "main/toolbar.h"
#include "mmio/playback.h"
#include "res/resource.h"
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
