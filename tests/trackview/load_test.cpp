// Loading files into the track view: a new load starts clean, files without
// rows, and the rows of real files from outside the project.
#include <QDir>
#include <QDirIterator>

#include "mmio/loadsave.h"
#include "support.h"

namespace lirno::test {

class LoadTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Fixture> fx;

    // The rows show what the file model knows of each listed track.
    void expectRowsShowTheFile(const QString& file) {
        const RowControls& c = fx->controls();
        const int n = std::min(getnumtracks(loaded.MidiInfo), kMaxTracks);
        QVERIFY2(fx->view()->items() == n, qPrintable(file));
        for (int r = 0; r < n; ++r) {
            const auto i = std::size_t(r);
            const QString where = QString("%1 row %2").arg(file).arg(r);
            const QByteArray stored(gettrackname(loaded.MidiInfo, r));
            const QString shown = c.hwndName[i]->text();
            QVERIFY2(shown.toUtf8() == stored || shown.toLatin1() == stored, qPrintable(where));
            const int code = getinstr(loaded.MidiInfo, r);
            QComboBox* list = c.hwndInstr[i];
            if (code <= 127) {
                QVERIFY2(list->count() == 128 && list->currentIndex() == code && list->isEnabled(),
                         qPrintable(where));
            } else {
                const QString entry = code == 242 ? "Standard Midi Drums" : "Mixed Music";
                QVERIFY2(list->count() == 1 && list->currentText() == entry && !list->isEnabled(),
                         qPrintable(where));
            }
            QVERIFY2(c.hwndVol[i]->value() == getvol(loaded.MidiInfo, r), qPrintable(where));
            QVERIFY2(c.hwndBal[i]->value() == getbal(loaded.MidiInfo, r), qPrintable(where));
            QVERIFY2(c.hwndOn[i]->isChecked() && !c.hwndOnly[i]->isChecked(), qPrintable(where));
        }
        const int fit = fx->view()->client()->height() / 21;
        QVERIFY2(fx->view()->scroll().nRange == (n < fit ? 0 : std::max(0, n - 1)),
                 qPrintable(file));
    }

    // A solo on the first row silences every other row in the image, and
    // ending it gives back the file as loaded.
    void expectSoloRoundTrip(const QString& file) {
        if (fx->view()->items() < 2) return;
        const Bytes audible = bytesOf(loaded.image);
        const MuteReader mutes;
        click(fx->controls().hwndOnly[0]);
        for (int r = 0; r < fx->view()->items(); ++r) {
            if (!mutes.hasNotes(r)) continue;
            QVERIFY2(mutes.muted(r) == int(r > 0),
                     qPrintable(QString("%1 row %2").arg(file).arg(r)));
        }
        click(fx->controls().hwndOnly[0]);
        QVERIFY2(bytesOf(loaded.image) == audible, qPrintable(file));
    }

  private slots:
    void init() { fx = std::make_unique<Fixture>(); }
    void cleanup() { fx.reset(); }

    void aSecondLoadWhileScrolledAndSoloedStartsClean() {
        load(fx->view(), songWithRows(30));
        const RowControls& c = fx->controls();
        std::vector<QPointer<QWidget>> old;
        for (int r = 0; r < 30; ++r)
            for (int col = 0; col < 6; ++col) old.emplace_back(c.byId(100 * col + r));
        click(c.hwndOn[3]);
        click(c.hwndOnly[5]);
        c.hwndName[4]->setFocus();
        QTest::keyClicks(c.hwndName[4], "typed");
        for (int k = 0; k < 4; ++k) QTest::keyClick(fx->view()->scrollBar(), Qt::Key_Down);
        QCOMPARE(fx->view()->scroll().nScrollPos, 4);

        load(fx->view(), fiveRowSong());
        for (const auto& widget : old) QVERIFY(widget.isNull());
        QCOMPARE(fx->view()->items(), 5);
        QCOMPARE(fx->view()->scroll().nScrollPos, 0);
        QCOMPARE(fx->view()->scrollBar()->value(), 0);
        QCOMPARE(fx->view()->rows().soloRow(), -1);
        for (int r = 0; r < 5; ++r) {
            const auto i = std::size_t(r);
            QCOMPARE(c.hwndOn[i]->y(), 21 * r + 2);
            QVERIFY(c.hwndOn[i]->isChecked() && c.hwndOn[i]->isEnabled());
            QVERIFY(!c.hwndOnly[i]->isChecked());
            QVERIFY(c.hwndName[i]->isEnabled() && c.hwndVol[i]->isEnabled());
        }
        QCOMPARE(c.hwndName[4]->text(), QString("Piano"));
        for (std::size_t i = 5; i < 30; ++i) QVERIFY(!c.hwndOn[i] && !c.hwndBal[i]);
        const MuteReader mutes;
        for (int r = 0; r < 5; ++r) QCOMPARE(mutes.muted(r), 0);
        expectRowsShowTheFile("five rows");
    }

    void fileWithoutRowsShowsAnEmptyView() {
        load(fx->view(), songWithRows(3));
        load(fx->view(), songWithRows(0));
        QCOMPARE(fx->view()->items(), 0);
        QVERIFY(fx->view()->isVisible() && fx->view()->header()->isVisible());
        QCOMPARE(fx->view()->scroll().nRange, 0);
        QVERIFY(fx->view()->client()->findChildren<QWidget*>().isEmpty());
    }

    void aRejectedFileBuildsNoRows() {
        load(fx->view(), songWithRows(3));
        ScratchDir dir;
        playback.sTmpName = dir.file("play.tmp");
        Bytes bad = songWithRows(2);
        bad[9] = 7;  // format 7
        writeFile(dir.file("bad.mid"), bad);
        std::string name = dir.file("bad.mid");
        QCOMPARE(mcimidiSelectFile(name), 1);
        QCOMPARE(InsertTrackViewItems(fx->view()), 1);
        QCOMPARE(fx->view()->items(), 0);
        QVERIFY(fx->view()->isVisible());
        QCOMPARE(fx->recorder.texts(),
                 std::vector<std::string>{"This format is not supported! (Try Play only)"});
    }

    void realFilesFromOutsideTheProject() {
        const QDir shared(QStringLiteral(LIRNO_SHARED_MIDI));
        if (!shared.exists()) QSKIP("no shared MIDI folder here");
        ScratchDir dir;
        playback.sTmpName = dir.file("play.tmp");
        int files = 0, rows = 0;
        QDirIterator it(shared.path(), {"*.mid"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            std::string name = file.toStdString();
            if (!mcimidiSelectFile(name)) continue;
            QCOMPARE(InsertTrackViewItems(fx->view()), 1);
            expectRowsShowTheFile(file);
            expectSoloRoundTrip(file);
            ++files;
            rows += fx->view()->items();
        }
        QVERIFY(files > 0);
        QVERIFY(rows > 0);
        qInfo("%d files, %d rows", files, rows);
    }
};

}  // namespace lirno::test

QTEST_MAIN(lirno::test::LoadTest)
#include "load_test.moc"
