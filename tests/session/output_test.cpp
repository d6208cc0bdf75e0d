// The window on a device whose audio output cannot open or goes away, or
// that cannot open the play file again: on every way a play starts, the user
// is told once and the window stands as after an end of play, ready to play
// again once the output works.
#include "session.h"
#include "support/fake_output.h"

using namespace lirno;
using namespace lirno::res;
using namespace lirno::test;

class OutputTest : public QObject {
    Q_OBJECT
  private slots:
    void noOutputAtStartUpIsToldOnceAndLoopDoesNotRetry();
    void anOutputLostOnEachWayOfPlayingEndsThePlay();
};

namespace {

const std::string kNoOutput =
    "No audio output could be opened (tried pulseaudio, alsa, jack, sdl2)";
const std::string kLost = "The audio output stopped working while the song played.";

device::DeviceSettings settingsWith(FakeDrivers& drivers) {
    device::DeviceSettings settings = silentSettings();
    settings.audioDriver.clear();  // the desktop's drivers, all fakes here
    settings.output = drivers.factory();
    return settings;
}

// The state an end of play leaves, with the boxes so far.
void expectStopped(Session& s, std::size_t boxes) {
    QTRY_COMPARE_WITH_TIMEOUT(s.boxes.messages.size(), boxes, kWaitMs);
    QCOMPARE(playback.nMode, kModeStopped);
    QCOMPARE(playback.wOutDeviceID, 0u);
    QCOMPARE(playback.dwPlayPos, 0u);
    QCOMPARE(s.readout(), QString("0:00.0"));
    QCOMPARE(s.window->timeTrack()->value(), 0);
    QVERIFY(!s.checked(IDM_PLAY) && !s.checked(IDM_PAUSE));
    QCOMPARE(s.boxes.messages.back().caption, std::string("Lirno Error"));
}

}  // namespace

void OutputTest::noOutputAtStartUpIsToldOnceAndLoopDoesNotRetry() {
    FakeDrivers drivers;
    Session s(settingsWith(drivers));
    s.clickButton(IDM_LOOP);
    shell.szFileName = s.file("song.mid", song(2, {0}));
    s.window->command(IDM_OPEN, OPEN_AND_PLAY);
    expectStopped(s, 1);
    QVERIFY(s.boxes.messages[0].text.starts_with(kNoOutput));
    // Loop Music is on, yet nothing starts again.
    QTest::qWait(300);
    QCOMPARE(s.boxes.messages.size(), std::size_t(1));
    QCOMPARE(playback.nMode, kModeStopped);

    // Play tries again, and says so again.
    s.clickButton(IDM_PLAY);
    expectStopped(s, 2);
    // Once an output works, the same window plays.
    drivers.work({"alsa"});
    s.clickButton(IDM_PLAY);
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(2), kWaitMs);
    QCOMPARE(playback.nMode, kModePlaying);
    QCOMPARE(s.boxes.messages.size(), std::size_t(2));
}

void OutputTest::anOutputLostOnEachWayOfPlayingEndsThePlay() {
    FakeDrivers drivers;
    drivers.work({"pulseaudio"});
    Session s(settingsWith(drivers));
    s.open(s.file("song.mid", song(2, {0, 1})));
    std::size_t boxes = 0;

    // Pause, then Pause again to play on, into an output that has gone.
    s.clickButton(IDM_PLAY);
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(1), kWaitMs);
    s.clickButton(IDM_PAUSE);
    drivers.die();
    s.clickButton(IDM_PAUSE);
    expectStopped(s, ++boxes);
    QCOMPARE(s.boxes.messages.back().text.substr(0, kLost.size()), kLost);

    // A restart after an edit.
    drivers.revive({"pulseaudio"});
    s.clickButton(IDM_PLAY);
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(1), kWaitMs);
    drivers.die();
    click(s.view()->controls().hwndOn[1]);
    expectStopped(s, ++boxes);

    // The restart of Loop Music.
    drivers.revive({"pulseaudio"});
    s.clickButton(IDM_LOOP);
    s.clickButton(IDM_PLAY);
    const std::uint32_t first = playback.wOutDeviceID;
    QTRY_VERIFY_WITH_TIMEOUT(playback.wOutDeviceID != first && playback.wOutDeviceID != 0, kWaitMs);
    drivers.die();
    expectStopped(s, ++boxes);
    QTest::qWait(300);
    QCOMPARE(s.boxes.messages.size(), boxes);

    // A restart after an edit whose play file cannot be opened again: no
    // device behind the window, and Stop has nothing to add.
    drivers.revive({"pulseaudio"});
    s.clickButton(IDM_LOOP);
    s.clickButton(IDM_PLAY);
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(1), kWaitMs);
    s.device.refuseOpens = true;
    click(s.view()->controls().hwndOn[0]);
    QTRY_COMPARE_WITH_TIMEOUT(playback.nMode, kModeStopped, kWaitMs);
    expectStopped(s, ++boxes);
    s.clickButton(IDM_STOP);
    QCOMPARE(s.boxes.messages.size(), boxes);
}

QTEST_MAIN(OutputTest)
#include "output_test.moc"
