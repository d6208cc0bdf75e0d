// The rows of the track view under real clicks and keys: what they show
// after a load, and what every edit does to the image.
#include <QAccessible>

#include <cmath>
#include <random>

#include "ctrl/instruments.h"
#include "support.h"

namespace lirno::test {

class RowsTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Fixture> fx;
    const RowControls& c() const { return fx->controls(); }

    // Every row's widgets show what its record holds.
    void expectMirrored(const QString& when) {
        const TrackRows& rows = fx->view()->rows();
        for (int r = 0; r < rows.count(); ++r) {
            const auto i = std::size_t(r);
            const TrackRow& row = rows.row(r);
            QVERIFY2(c().hwndOn[i]->isChecked() == row.onChecked, qPrintable(when));
            QVERIFY2(c().hwndOn[i]->isEnabled() == row.onEnabled, qPrintable(when));
            QVERIFY2(c().hwndOnly[i]->isChecked() == row.soloChecked, qPrintable(when));
            QVERIFY2(c().hwndName[i]->isEnabled() == row.nameEnabled, qPrintable(when));
            QVERIFY2(c().hwndInstr[i]->isEnabled() == row.instrEnabled, qPrintable(when));
            QVERIFY2(c().hwndVol[i]->isEnabled() == row.volEnabled, qPrintable(when));
            QVERIFY2(c().hwndBal[i]->isEnabled() == row.balEnabled, qPrintable(when));
        }
    }

    // A listed track is muted in the image exactly when its On box is
    // unchecked or disabled.
    void expectInvariant(const MuteReader& mutes, const QString& when) {
        for (int r = 0; r < fx->view()->items(); ++r) {
            const auto i = std::size_t(r);
            const bool silent = !c().hwndOn[i]->isChecked() || !c().hwndOn[i]->isEnabled();
            QVERIFY2(mutes.muted(r) == int(silent),
                     qPrintable(QString("row %1 after %2").arg(r).arg(when)));
        }
    }

  private slots:
    void init() {
        fx = std::make_unique<Fixture>();
        load(fx->view(), fiveRowSong());
    }
    void cleanup() { fx.reset(); }

    void rowsShowTheLoadedFile() {
        QCOMPARE(fx->view()->items(), 5);
        for (int r = 0; r < 5; ++r) {
            const auto i = std::size_t(r);
            QVERIFY(c().hwndOn[i]->isChecked());
            QVERIFY(!c().hwndOnly[i]->isChecked());
            QVERIFY(!c().hwndOnly[i]->autoExclusive());
            QCOMPARE(c().hwndName[i]->maxLength(), 255);
            QCOMPARE(c().hwndVol[i]->maximum(), 127);
            QCOMPARE(c().hwndBal[i]->tickInterval(), 64);
            QCOMPARE(c().hwndVol[i]->value(), getvol(loaded.MidiInfo, r));
            QCOMPARE(c().hwndBal[i]->value(), getbal(loaded.MidiInfo, r));
        }
        QCOMPARE(c().hwndName[0]->text(), QString("Lead"));
        QCOMPARE(c().hwndVol[2]->value(), 90);
        QCOMPARE(c().hwndBal[2]->value(), 30);
        QCOMPARE(c().hwndBal[0]->value(), 64);

        QComboBox* lead = c().hwndInstr[0];
        QCOMPARE(lead->count(), 128);
        QCOMPARE(lead->currentIndex(), 10);  // the first of its two programs
        QCOMPARE(lead->itemText(44), QString("Tremelo Strings"));
        QCOMPARE(lead->itemText(127), QString("Gunshot"));
        QVERIFY(lead->isEnabled());
        QCOMPARE(c().hwndInstr[4]->currentText(), QString("Acoustic Grand Piano"));
        for (auto [r, entry] : {std::pair{1, "Standard Midi Drums"}, std::pair{3, "Mixed Music"}}) {
            QComboBox* special = c().hwndInstr[std::size_t(r)];
            QCOMPARE(special->count(), 1);
            QCOMPARE(special->currentText(), QString(entry));
            QVERIFY(!special->isEnabled());
        }
    }

    void controlsSitAtTheirColumnsWithIdsAndNames() {
        const int xs[6] = {3, 20, 39, 171, 302, 430};
        const int dys[6] = {2, 3, 1, 1, 0, 0};
        const int widths[6] = {17, 17, 130, 130, 127, 127};
        const char* names[6] = {"On", "Solo", "Track name", "Instrument", "Volume", "Balance"};
        for (int r = 0; r < 5; ++r) {
            for (int col = 0; col < 6; ++col) {
                QWidget* w = c().byId(100 * col + r);
                QVERIFY(w);
                QCOMPARE(w->parentWidget(), fx->view()->client());
                QCOMPARE(w->pos(), QPoint(xs[col], 21 * r + dys[col]));
                QCOMPARE(w->width(), widths[col]);
                QCOMPARE(w->objectName(), QString::number(100 * col + r));
                QCOMPARE(w->property("controlId").toInt(), 100 * col + r);
                QCOMPARE(w->accessibleName(), QString("%1 %2").arg(names[col]).arg(r + 1));
                QVERIFY(w->isVisible());
            }
        }
        // Assistive technology reads the states from the widgets themselves.
        QAccessibleInterface* on = QAccessible::queryAccessibleInterface(c().hwndOn[0]);
        QVERIFY(on && on->state().checked);
        QCOMPARE(on->text(QAccessible::Name), QString("On 1"));
        click(c().hwndOn[0]);
        QVERIFY(!on->state().checked);
    }

    void headerHoldsTheColumnTitlesAboveTheView() {
        QLabel* header = fx->view()->header();
        const QString text = header->text();
        QCOMPARE(text.size(), 138);
        QCOMPARE(text, QString("On") + QString(2, ' ') + "Solo" + QString(10, ' ') + "Track Name" +
                           QString(25, ' ') + "Instrument" + QString(32, ' ') + "Volume" +
                           QString(30, ' ') + "Balance");
        QCOMPARE(header->accessibleName(), QString("Track list header"));
        QCOMPARE(header->parentWidget(), fx->main.get());
        QVERIFY(header->isVisible());
        QCOMPARE(header->geometry(), QRect(0, kToolbarHeight, fx->main->width(), 20));
        QCOMPARE(fx->view()->y(), kToolbarHeight + 20);
        QCOMPARE(fx->view()->height(), fx->main->height() - kToolbarHeight - 20);
    }

    void onAndSoloKeepTheMuteInvariantThroughAnyClicks() {
        const MuteReader mutes;
        std::mt19937 random(2024);
        for (int step = 0; step < 160; ++step) {
            const auto r = std::size_t(random() % 5);
            // Clicks on disabled On boxes are part of the sequence: they must do nothing.
            click(random() % 2 ? static_cast<QWidget*>(c().hwndOnly[r]) : c().hwndOn[r]);
            const QString when = QString("step %1").arg(step);
            expectInvariant(mutes, when);
            expectMirrored(when);
            int solos = 0;
            for (std::size_t k = 0; k < 5; ++k) solos += c().hwndOnly[k]->isChecked();
            QVERIFY(solos <= 1);
            QVERIFY2(!c().hwndInstr[1]->isEnabled() && !c().hwndInstr[3]->isEnabled(),
                     qPrintable(when));
        }
        QVERIFY(playback.fMidiChange);
    }

    void soloStartsMovesAndEnds() {
        const MuteReader mutes;
        click(c().hwndOn[0]);  // row 0 off before any solo
        click(c().hwndOnly[2]);
        QVERIFY(c().hwndOnly[2]->isChecked());
        for (std::size_t r : {0u, 1u, 3u, 4u}) {
            QVERIFY(!c().hwndOn[r]->isEnabled());
            QVERIFY(!c().hwndName[r]->isEnabled());
            QVERIFY(!c().hwndVol[r]->isEnabled());
            QVERIFY(!c().hwndBal[r]->isEnabled());
            QVERIFY(c().hwndOnly[r]->isEnabled());
        }
        expectInvariant(mutes, "solo on 2");

        click(c().hwndOnly[4]);  // the solo moves
        QVERIFY(!c().hwndOnly[2]->isChecked());
        QVERIFY(c().hwndOnly[4]->isChecked());
        QVERIFY(!c().hwndOn[2]->isEnabled());
        QVERIFY(c().hwndOn[4]->isEnabled() && c().hwndInstr[4]->isEnabled());
        expectInvariant(mutes, "solo moved to 4");

        click(c().hwndOnly[4]);  // and ends
        for (std::size_t r = 0; r < 5; ++r)
            QVERIFY(!c().hwndOnly[r]->isChecked() && c().hwndOn[r]->isEnabled());
        QVERIFY(!c().hwndInstr[1]->isEnabled());
        QVERIFY(!c().hwndInstr[3]->isEnabled());
        QCOMPARE(mutes.muted(0), 1);  // still off
        expectInvariant(mutes, "solo ended");
    }

    void soloOnARowThatIsOffSilencesEverything() {
        const MuteReader mutes;
        click(c().hwndOn[1]);
        click(c().hwndOnly[1]);
        for (int r = 0; r < 5; ++r) QCOMPARE(mutes.muted(r), 1);
        click(c().hwndOnly[1]);
        for (int r : {0, 2, 3, 4}) QCOMPARE(mutes.muted(r), 0);
        QCOMPARE(mutes.muted(1), 1);
    }

    // The lights: a muted row and a row a solo silences stay dark, a sounding
    // one glows with its notes' velocity and fades; the lights sit in the
    // rows' free margin and move nothing.
    void activityLightsFollowTheNotesMuteAndSolo() {
        const std::vector<int> tops = controlTops(fx->view());
        const auto levels = [this](std::int64_t ns) {
            fx->view()->showActivity(ns);
            return fx->view()->activityLevels();
        };
        // Muted before the song's notes are first read: its notes still count
        // once it is back on.
        click(c().hwndOn[1]);
        std::vector<float> now = levels(0);
        QCOMPARE(now.size(), std::size_t(5));
        QCOMPARE(now[1], 0.0F);
        for (std::size_t r : {0u, 2u, 3u, 4u}) QVERIFY(now[r] > 0.7F);
        QVERIFY(qFuzzyCompare(now[0], 100.0F / 127.0F));
        // Half the fading time after the last note (tick 10, 52 ms), half as bright.
        const std::int64_t tick10 = 52'083'333;
        now = levels(tick10 + TrackActivity::kDecayNs / 2);
        QVERIFY(std::abs(now[0] - 0.5F * 90.0F / 127.0F) < 0.01F);
        QCOMPARE(levels(tick10 + TrackActivity::kDecayNs)[0], 0.0F);
        click(c().hwndOn[1]);
        QVERIFY(qFuzzyCompare(levels(0)[1], 100.0F / 127.0F));

        click(c().hwndOnly[3]);
        now = levels(0);
        for (std::size_t r : {0u, 1u, 2u, 4u}) QCOMPARE(now[r], 0.0F);
        QVERIFY(now[3] > 0.7F);
        const QImage lit = c().hwndOn[0]->parentWidget()->grab().toImage();
        const QColor sounding = lit.pixelColor(fx->view()->lightRect(3).center());
        QVERIFY2(sounding.green() > 200 && sounding.red() < 100, qPrintable(sounding.name()));
        QCOMPARE(lit.pixelColor(fx->view()->lightRect(2).center()), QColor(192, 192, 192));
        for (int r = 0; r < 5; ++r) {
            const QRect light = fx->view()->lightRect(r);
            QVERIFY(fx->view()->client()->rect().contains(light));
            for (int col = 0; col < 6; ++col)
                QVERIFY(!c().byId(100 * col + r)->geometry().intersects(light));
        }
        QCOMPARE(controlTops(fx->view()), tops);

        fx->view()->darkenActivity();
        QVERIFY(fx->view()->activityLevels().empty());
        const QImage dark = fx->view()->client()->grab().toImage();
        QCOMPARE(dark.pixelColor(fx->view()->lightRect(3).center()), QColor(192, 192, 192));
    }

    void choosingAProgramRewritesEveryProgramChangeOfTheTrack() {
        const int lead = loaded.MidiInfo.trackIndex[0];
        QCOMPARE(eventValues(lead, 0xC0, -1), (std::vector<int>{10, 11}));

        // A selection made by the program itself is not the user's choice.
        c().hwndInstr[0]->setCurrentIndex(50);
        QCOMPARE(eventValues(lead, 0xC0, -1), (std::vector<int>{10, 11}));
        QVERIFY(!playback.fMidiChange);

        QTest::keyClick(c().hwndInstr[0], Qt::Key_Down);
        QCOMPARE(c().hwndInstr[0]->currentIndex(), 51);
        QCOMPARE(eventValues(lead, 0xC0, -1), (std::vector<int>{51, 51}));
        QCOMPARE(int(loaded.MidiInfo.track[std::size_t(lead)].program), 51);
        QVERIFY(playback.fMidiChange);

        // The drum list cannot be chosen from; its program changes stay.
        const int drum = loaded.MidiInfo.trackIndex[1];
        QTest::keyClick(c().hwndInstr[1], Qt::Key_Up);
        QCOMPARE(eventValues(drum, 0xC0, -1), (std::vector<int>{0}));
    }

    void slidersChangeOnlyAtTheEndOfAMouseGesture() {
        QSlider* vol = c().hwndVol[0];
        const int track = loaded.MidiInfo.trackIndex[0];
        QCOMPARE(eventValues(track, 0xB0, 7), (std::vector<int>{127}));

        const QPoint from = handleCentre(vol);
        QTest::mousePress(vol, Qt::LeftButton, {}, from);
        QTest::mouseMove(vol, from - QPoint(60, 0));
        QTest::mouseMove(vol, from - QPoint(70, 0));
        const int dragged = vol->value();
        QVERIFY(dragged < 127);
        QCOMPARE(eventValues(track, 0xB0, 7), (std::vector<int>{127}));
        QVERIFY(!playback.fMidiChange);

        QTest::mouseRelease(vol, Qt::LeftButton, {}, from - QPoint(70, 0));
        QCOMPARE(eventValues(track, 0xB0, 7), (std::vector<int>{dragged}));
        QCOMPARE(getvol(loaded.MidiInfo, 0), dragged);
        QVERIFY(playback.fMidiChange);

        // A click in the groove pages the slider, and counts when let go.
        QSlider* bal = c().hwndBal[2];
        const int strings = loaded.MidiInfo.trackIndex[2];
        playback.fMidiChange = false;
        const QPoint groove(bal->width() - 3, handleCentre(bal).y());
        QTest::mousePress(bal, Qt::LeftButton, {}, groove);
        QVERIFY(bal->value() > 30);
        QCOMPARE(eventValues(strings, 0xB0, 10), (std::vector<int>{30}));
        QTest::mouseRelease(bal, Qt::LeftButton, {}, groove);
        QCOMPARE(eventValues(strings, 0xB0, 10), (std::vector<int>{bal->value()}));
        QCOMPARE(eventValues(strings, 0xB0, 7), (std::vector<int>{90}));
        QVERIFY(playback.fMidiChange);
    }

    void slidersChangeOnlyWhenTheKeyIsLetGo() {
        QSlider* bal = c().hwndBal[4];
        const int track = loaded.MidiInfo.trackIndex[4];
        for (int k = 0; k < 5; ++k) QTest::keyPress(bal, Qt::Key_Left);
        QCOMPARE(bal->value(), 59);
        QCOMPARE(eventValues(track, 0xB0, 10), (std::vector<int>{64}));
        QVERIFY(!playback.fMidiChange);
        QTest::keyRelease(bal, Qt::Key_Left);
        QCOMPARE(eventValues(track, 0xB0, 10), (std::vector<int>{59}));
        QCOMPARE(getbal(loaded.MidiInfo, 4), 59);

        // Letting go of a key that does not move the slider is no gesture.
        playback.fMidiChange = false;
        QTest::keyClick(bal, Qt::Key_A);
        QVERIFY(!playback.fMidiChange);
    }

    void typedNamesChangeNothingUntilSaved() {
        const Bytes before = bytesOf(loaded.image);
        QLineEdit* name = c().hwndName[0];
        name->setFocus();
        name->selectAll();
        QTest::keyClicks(name, "Fl");
        QTest::sendKeyEvent(QTest::Click, name, Qt::Key_unknown, QString("ö"), Qt::NoModifier);
        QTest::keyClicks(name, "te");
        QCOMPARE(name->text(), QString("Flöte"));
        QCOMPARE(bytesOf(loaded.image), before);
        QVERIFY(!playback.fMidiChange);
        QCOMPARE(fx->view()->rows().nameText(0), std::string("Fl\xc3\xb6te"));

        ScratchDir dir;
        QCOMPARE(
            writemidiinfo(dir.file("named.mid"), loaded.image, loaded.MidiInfo, fx->view()->rows()),
            1);
        FileImage saved = FileImage::fromBytes(readFile(dir.file("named.mid")));
        MidiInfo info;
        QCOMPARE(readmidiinfo(saved, info), 1);
        QCOMPARE(QString::fromUtf8(gettrackname(info, 0)), QString("Flöte"));
        QCOMPARE(QString(gettrackname(info, 1)), QString("Drums"));
    }

    void typingStopsAt255ButALongerStoredNameShowsWhole() {
        Track longName = melodic(0, 1, std::string(259, 'n'));
        Track shortName = melodic(1, 2, "x");
        load(fx->view(), smf::file(1, 96, {longName, shortName}));

        QLineEdit* big = c().hwndName[0];
        QCOMPARE(big->text(), QString(259, 'n'));
        big->setFocus();
        big->end(false);
        QTest::keyClick(big, Qt::Key_Z);
        QCOMPARE(big->text().size(), 259);  // full: nothing more goes in
        for (int k = 0; k < 10; ++k) QTest::keyClick(big, Qt::Key_Backspace);
        QTest::keyClicks(big, "zzzzzzzzzz");
        QCOMPARE(big->text(), QString(249, 'n') + QString(6, 'z'));

        QLineEdit* small = c().hwndName[1];
        small->setFocus();
        QTest::keyClicks(small, QString(300, 'k'));
        QCOMPARE(small->text().size(), 255);
        QCOMPARE(fx->view()->rows().nameText(1).size(), 255u);
    }
};

}  // namespace lirno::test

QTEST_MAIN(lirno::test::RowsTest)
#include "rows_test.moc"
