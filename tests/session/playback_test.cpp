// A whole session through the real window and the real (silent) device:
// open, play, pause, resume, stop, replay, the end of a song with and
// without Loop Music, a second file while the first plays, and the end-of-
// play notices that must change nothing; the sound changed while a song
// plays.
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QThread>

#include "main/soundchoice.h"
#include "main/sounddialog.h"

#include "mmio/timeconv.h"
#include "session.h"

using namespace lirno;
using namespace lirno::res;
using namespace lirno::test;

class PlaybackTest : public QObject {
    Q_OBJECT
  private slots:
    void openMeasuresListsAndEnables();
    void playPauseResumeStopReplay();
    void endOfSongRewindsAndLoopRestartsOnANewDevice();
    void secondFileWhileTheFirstPlays();
    void noticesThatAreNotAnEndChangeNothing();
    void playAndPauseDoNothingInTheWrongState();
    void stopWhileTheSliderIsHeldStopsTheDevice();
    void trackListFollowsViewTrackListAcrossLoads();
    void sliderMovedWhilePausedIsWhereResumeStarts();
    void emptySongEndsAtOnce();
    void anEarlierPlaysEndDoesNotEndTheNextPlay();
    void soundChangedWhilePlayingGoesOnFromWhereItIs();
};

void PlaybackTest::openMeasuresListsAndEnables() {
    Session s;
    const std::string path = s.file("two parts.mid", song(2, {0, 1}));
    s.open(path);
    QCOMPARE(s.seam.opens, 1);
    QCOMPARE(s.window->windowTitle(), QString::fromStdString("Lirno Player - " + path));
    QCOMPARE(shell.szFileName, path);
    // The length probe: opened once, measured, closed at once.
    const std::vector<std::string> probe = s.device.since();
    QCOMPARE(probe.size(), std::size_t(2));
    QVERIFY(probe[0].starts_with("open ") && probe[0].ends_with(" 16"));
    QCOMPARE(probe[1], "close" + probe[0].substr(4, probe[0].rfind(' ') - 4));
    QCOMPARE(playback.dwFileSize, 16u);
    QCOMPARE(playback.wOutDeviceID, 0u);
    QVERIFY(playback.fFileLoaded);
    QCOMPARE(playback.nMode, kModeStopped);
    QCOMPARE(s.view()->items(), 2);
    for (int id : {IDM_SAVEAS, IDM_STOP, IDM_PLAY, IDM_PAUSE, IDM_LOOP, IDM_VIEWTRACKS})
        QVERIFY2(s.enabled(id), qPrintable(QString::number(id)));
    QVERIFY(!s.enabled(IDM_NEW));
    QVERIFY(s.window->timeTrack()->isEnabled());
    QCOMPARE(s.window->timeTrack()->value(), 0);
    QCOMPARE(s.readout(), QString("0:00.0"));
    QCOMPARE(s.window->size(), kExpandedSize);
    QCOMPARE(s.window->timeCoord()->labels().back().text, QString("0:02"));
    // The play file holds the normalised image; nothing plays until Play.
    QCOMPARE(readFile(playback.sTmpName), bytesOf(loaded.image));
    QVERIFY(s.boxes.messages.empty());
}

void PlaybackTest::playPauseResumeStopReplay() {
    Session s;
    s.open(s.file("song.mid", song(8, {0})));
    s.device.since();

    s.clickButton(IDM_PLAY);
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(s.checked(IDM_PLAY));
    const std::uint32_t id = playback.wOutDeviceID;
    QVERIFY(id != 0);
    QCOMPARE(s.device.since(),
             (std::vector<std::string>{call("open", id, 64), call("play", id, 0)}));
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(4), kWaitMs);
    // The timer follows the device: the readout leaves 0:00.0, the thumb moves.
    QTRY_VERIFY_WITH_TIMEOUT(s.readout() != "0:00.0" && s.window->timeTrack()->value() > 1,
                             kWaitMs);

    s.clickButton(IDM_PAUSE);
    QCOMPARE(playback.nMode, kModePaused);
    QVERIFY(s.checked(IDM_PAUSE));
    const std::uint32_t pausedAt = playback.dwPlayPos;
    QVERIFY(pausedAt >= 4 && pausedAt < 64);
    QCOMPARE(s.device.since(), std::vector<std::string>{call("pause", id)});
    QCOMPARE(*s.position(), pausedAt);  // the device holds still

    s.clickButton(IDM_PLAY);  // Play does not resume a paused song
    QCOMPARE(playback.nMode, kModePaused);
    QVERIFY(s.device.since().empty());

    s.clickButton(IDM_PAUSE);
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(!s.checked(IDM_PAUSE));
    QCOMPARE(s.device.since(), std::vector<std::string>{call("play", id, pausedAt)});
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(pausedAt + 2), kWaitMs);

    s.clickButton(IDM_STOP);
    QCOMPARE(playback.nMode, kModeStopped);
    QCOMPARE(playback.dwPlayPos, 0u);
    QCOMPARE(s.readout(), QString("0:00.0"));
    QCOMPARE(s.window->timeTrack()->value(), 0);
    QVERIFY(!s.checked(IDM_PLAY) && !s.checked(IDM_PAUSE));
    QCOMPARE(playback.wOutDeviceID, id);  // left open
    QCOMPARE(s.device.since(), std::vector<std::string>{call("stop", id)});

    s.clickButton(IDM_PLAY);  // from the start, on the same device
    QCOMPARE(s.device.since(), std::vector<std::string>{call("play", id, 0)});
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(s.boxes.messages.empty());
    QVERIFY(s.device.failed.empty());
}

void PlaybackTest::endOfSongRewindsAndLoopRestartsOnANewDevice() {
    Session s;
    s.open(s.file("short.mid", song(1, {0})));
    s.clickButton(IDM_LOOP);
    QVERIFY(s.checked(IDM_LOOP));
    s.device.since();
    s.clickButton(IDM_PLAY);
    const std::uint32_t first = playback.wOutDeviceID;
    // The end: the device is stopped and closed, the song starts again
    // from 0 on a device opened anew.
    QTRY_VERIFY_WITH_TIMEOUT(playback.wOutDeviceID != first && playback.wOutDeviceID != 0, kWaitMs);
    const std::uint32_t second = playback.wOutDeviceID;
    QCOMPARE(s.device.since(),
             (std::vector<std::string>{call("open", first, 8), call("play", first, 0),
                                       call("stop", first), call("close", first),
                                       call("open", second, 8), call("play", second, 0)}));
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(s.checked(IDM_PLAY));

    // Without Loop Music the next end leaves it stopped at 0.
    s.clickButton(IDM_LOOP);
    QTRY_VERIFY_WITH_TIMEOUT(playback.nMode == kModeStopped, kWaitMs);
    QCOMPARE(s.device.since(),
             (std::vector<std::string>{call("stop", second), call("close", second)}));
    QCOMPARE(playback.wOutDeviceID, 0u);
    QCOMPARE(playback.dwPlayPos, 0u);
    QCOMPARE(s.readout(), QString("0:00.0"));
    QCOMPARE(s.window->timeTrack()->value(), 0);
    QVERIFY(!s.checked(IDM_PLAY));
    // Play again opens a device of its own.
    s.clickButton(IDM_PLAY);
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(playback.wOutDeviceID != 0 && playback.wOutDeviceID != second);
    QVERIFY(s.boxes.messages.empty());
}

void PlaybackTest::secondFileWhileTheFirstPlays() {
    Session s;
    s.open(s.file("first.mid", song(8, {0, 1, 2})));
    s.clickButton(IDM_PLAY);
    const std::uint32_t first = playback.wOutDeviceID;
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(3), kWaitMs);
    s.device.since();

    const std::string second = s.file("second.mid", song(3, {5}, "Solo"));
    s.open(second);
    const std::vector<std::string> calls = s.device.since();
    QCOMPARE(calls.size(), std::size_t(4));
    QCOMPARE(calls[0], call("stop", first));
    QCOMPARE(calls[1], call("close", first));
    QVERIFY(calls[2].starts_with("open ") && calls[2].ends_with(" 24"));
    QCOMPARE(playback.nMode, kModeStopped);
    QCOMPARE(playback.wOutDeviceID, 0u);
    QCOMPARE(playback.dwFileSize, 24u);
    QCOMPARE(s.readout(), QString("0:00.0"));
    QVERIFY(!s.checked(IDM_PLAY));
    QCOMPARE(s.view()->items(), 1);
    QCOMPARE(s.view()->rows().row(0).name, std::string("Solo 1"));
    QCOMPARE(s.window->windowTitle(), QString::fromStdString("Lirno Player - " + second));
    // The play file now holds the second song, and Play plays it.
    QCOMPARE(readFile(playback.sTmpName), bytesOf(loaded.image));
    s.clickButton(IDM_PLAY);
    QVERIFY(s.device.since().front().ends_with(" 24"));
    QVERIFY(s.boxes.messages.empty());
}

void PlaybackTest::noticesThatAreNotAnEndChangeNothing() {
    Session s;
    s.open(s.file("song.mid", song(8, {0})));
    s.command(IDM_PLAY);
    const std::uint32_t id = playback.wOutDeviceID;
    s.device.since();
    // Aborted while playing: the play that a stop, pause or new play ended.
    s.window->notice(device::kNotifyAborted);
    QCOMPARE(playback.nMode, kModePlaying);
    QCOMPARE(playback.wOutDeviceID, id);
    // Any notice while paused.
    s.command(IDM_PAUSE);
    s.device.since();
    s.window->notice(device::kNotifySuccessful);
    QCOMPARE(playback.nMode, kModePaused);
    QVERIFY(s.checked(IDM_PAUSE));
    QVERIFY(s.device.since().empty());
    // A failure notice while playing counts as the end, and says so (this
    // device gave no reason for it).
    s.command(IDM_PAUSE);
    s.window->notice(device::kNotifyFailure);
    QCOMPARE(playback.nMode, kModeStopped);
    QCOMPARE(playback.wOutDeviceID, 0u);
    // And the aborted notices the real device sent meanwhile, once they
    // arrive, change nothing either.
    QTest::qWait(50);
    QCOMPARE(playback.nMode, kModeStopped);
    QCOMPARE(s.boxes.messages.size(), std::size_t(1));
    QCOMPARE(s.boxes.messages[0].text, std::string("Unrecognaized error"));
}

void PlaybackTest::playAndPauseDoNothingInTheWrongState() {
    Session s;
    // Before any load: Play and Pause do nothing, Stop only rewinds the display.
    s.command(IDM_PLAY);
    s.command(IDM_PAUSE);
    QCOMPARE(playback.nMode, kModeStopped);
    QVERIFY(!s.checked(IDM_PLAY));
    s.window->setReadout("9:99.9");
    s.window->timeTrack()->setValue(50);
    s.command(IDM_STOP);
    QCOMPARE(s.readout(), QString("0:00.0"));
    QCOMPARE(s.window->timeTrack()->value(), 0);
    s.window->notice(device::kNotifySuccessful);
    QVERIFY(s.device.calls.empty() && s.device.failed.empty());
    // Save As is there all the same: it asks for a name.
    s.window->menuAction(IDM_SAVEAS)->trigger();
    QCOMPARE(s.seam.savePreloads, std::vector<std::string>{""});
    QVERIFY(s.boxes.messages.empty());

    // Loaded: Pause while stopped, Play while playing.
    s.open(s.file("song.mid", song(4, {0})));
    s.device.since();
    s.command(IDM_PAUSE);
    QCOMPARE(playback.nMode, kModeStopped);
    QVERIFY(!s.checked(IDM_PAUSE));
    s.command(IDM_PLAY);
    s.device.since();
    s.command(IDM_PLAY);
    QVERIFY(s.device.since().empty());
    QCOMPARE(playback.nMode, kModePlaying);
}

void PlaybackTest::stopWhileTheSliderIsHeldStopsTheDevice() {
    Session s;
    s.open(s.file("song.mid", song(8, {0})));
    s.command(IDM_PLAY);
    const std::uint32_t id = playback.wOutDeviceID;
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(2), kWaitMs);
    // A key held on the slider (the song plays on meanwhile), Stop clicked.
    TimeTrackWndProc* slider = s.window->timeTrack();
    slider->setFocus();
    QTest::keyPress(slider, Qt::Key_Right);
    QCOMPARE(playback.nMode, kModeSeeking);
    s.device.since();
    s.clickButton(IDM_STOP);
    QCOMPARE(s.device.since(), std::vector<std::string>{call("stop", id)});
    QCOMPARE(playback.nMode, kModeStopped);
    // Letting go of the key then starts nothing.
    QTest::keyRelease(slider, Qt::Key_Right);
    QCOMPARE(playback.nMode, kModeStopped);
    QVERIFY(s.device.since().empty());
    QCOMPARE(s.readout(), QString("0:00.0"));
}

void PlaybackTest::trackListFollowsViewTrackListAcrossLoads() {
    Session s;
    s.open(s.file("a.mid", song(1, {0})));
    QCOMPARE(s.window->size(), kExpandedSize);
    s.clickButton(IDM_VIEWTRACKS);
    QCOMPARE(s.window->size(), kCompactSize);
    QVERIFY(!s.view()->header()->isVisible());
    s.open(s.file("b.mid", song(1, {0, 1})));
    // Compact is the toolbar alone, also after a load builds new rows.
    QCOMPARE(s.window->size(), kCompactSize);
    QCOMPARE(s.view()->items(), 2);
    QVERIFY(!s.view()->isVisible());
    QVERIFY(!s.view()->header()->isVisible());
    s.clickButton(IDM_VIEWTRACKS);
    QCOMPARE(s.window->size(), kExpandedSize);
    QVERIFY(s.view()->isVisible());
    QVERIFY(s.view()->header()->isVisible());
}

void PlaybackTest::sliderMovedWhilePausedIsWhereResumeStarts() {
    Session s;
    s.open(s.file("song.mid", song(10, {0})));
    s.command(IDM_PLAY);
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(2), kWaitMs);
    s.command(IDM_PAUSE);
    const std::uint32_t id = playback.wOutDeviceID;
    TimeTrackWndProc* slider = s.window->timeTrack();
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_PageUp);  // a fifth further on
    QCOMPARE(playback.nMode, kModePaused);
    const std::uint32_t chosen = playback.dwPlayPos;
    QCOMPARE(chosen, std::uint32_t(slider->value()) * 80 / 200);
    QCOMPARE(s.readout(), QString::fromStdString(formatReadout(chosen)));
    s.device.since();
    s.command(IDM_PAUSE);
    QCOMPARE(s.device.since(), std::vector<std::string>{call("play", id, chosen)});
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(chosen + 1), kWaitMs);
}

void PlaybackTest::emptySongEndsAtOnce() {
    Session s;
    s.open(s.file("empty.mid", song(0, {})));
    QCOMPARE(playback.dwFileSize, 0u);
    s.command(IDM_PLAY);
    s.window->timer();  // a length of 0 is never divided by
    QTRY_VERIFY_WITH_TIMEOUT(playback.nMode == kModeStopped, kWaitMs);
    QCOMPARE(playback.wOutDeviceID, 0u);
    QCOMPARE(s.readout(), QString("0:00.0"));
    QVERIFY(s.boxes.messages.empty());
}

namespace {

// Waits for the device to play to the end without handling events, so that
// its end-of-play notice stays in the queue.
bool playedToTheEnd(const Session& s) {
    QDeadlineTimer deadline(kWaitMs);
    while (!s.reached(playback.dwFileSize)) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(10);
    }
    return true;
}

}  // namespace

void PlaybackTest::anEarlierPlaysEndDoesNotEndTheNextPlay() {
    Session s;
    s.open(s.file("short.mid", song(1, {0})));
    // The song ends just as the user presses Stop and Play.
    s.command(IDM_PLAY);
    QVERIFY(playedToTheEnd(s));
    s.command(IDM_STOP);
    s.command(IDM_PLAY);
    const std::uint32_t id = playback.wOutDeviceID;
    QTest::qWait(50);  // the old end arrives now
    QCOMPARE(playback.nMode, kModePlaying);
    QCOMPARE(playback.wOutDeviceID, id);
    // Or a new song is opened and played before the old end arrives.
    QVERIFY(playedToTheEnd(s));
    s.open(s.file("next.mid", song(2, {1})));
    s.command(IDM_PLAY);
    QTest::qWait(50);
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(s.checked(IDM_PLAY));
    // Its own end still ends it.
    QTRY_VERIFY_WITH_TIMEOUT(playback.nMode == kModeStopped, kWaitMs);
    QVERIFY(s.boxes.messages.empty());
}

void PlaybackTest::soundChangedWhilePlayingGoesOnFromWhereItIs() {
    Session s;
    s.open(s.file("song.mid", song(20, {0})));
    s.clickButton(IDM_PLAY);
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(4), kWaitMs);
    const std::string tim = "/usr/share/sounds/sf2/TimGM6mb.sf2";  // LIRNO_SOUNDFONT
    const QString second = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    const QString missing = s.folder() + "/missing.sf2";
    {
        SoundDialog d(s.window->sound(), s.window.get());
        QCOMPARE(d.fontList()->count(), 1);
        d.chooseFonts = [second] { return QStringList{second}; };
        d.addButton()->click();
        d.upButton()->click();  // the second font first
        d.reverbLevelSlider()->setValue(20);
        d.chorusBox()->setChecked(false);
        QCOMPARE(s.device.sound.soundFonts, (std::vector<std::string>{second.toStdString(), tim}));
        QCOMPARE(s.device.sound.reverb.level, 0.2);
        QVERIFY(!s.device.sound.chorus.on);
        QVERIFY(s.boxes.messages.empty());
        d.chooseFonts = [missing] { return QStringList{missing}; };
        d.addButton()->click();
        QCOMPARE(s.boxes.messages.size(), std::size_t(1));
        QVERIFY(QString::fromStdString(s.boxes.messages[0].text).contains(missing));
        QCOMPARE(d.fontList()->count(), 2);
        QCOMPARE(s.device.sound.soundFonts.size(), std::size_t(2));
    }
    // One play all along, going on.
    const std::uint32_t at = *s.position();
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(at + 4), kWaitMs);
    QCOMPARE(s.device.plays.size(), std::size_t(1));
    QCOMPARE(playback.nMode, kModePlaying);
    QCOMPARE(s.device.failure(playback.wOutDeviceID), 0);
}

QTEST_MAIN(PlaybackTest)
#include "playback_test.moc"
