// The device as the player uses it, on the silent real-time clock: ids,
// errors, positions and above all the completion notices.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <atomic>

#include "device/engine/audio_thread.h"
#include "device/engine/fluid_device.h"
#include "device/errors.h"
#include "device_support.h"
#include "midi_writer.h"
#include "support/files.h"

namespace lirno::device {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Notices;
using test::songOfSeconds;
using test::Track;

std::string writeTemp(const std::string& name, const Bytes& b) {
    const std::string path = (std::filesystem::path(testing::TempDir()) / name).string();
    lirno::test::writeFile(path, b);
    return path;
}

DeviceSettings silent() {
    DeviceSettings s;
    s.audioDriver = kAudioNone;
    return s;
}

class SilentDevice : public testing::Test {
  protected:
    DeviceId openSeconds(int seconds, std::uint32_t* length = nullptr) {
        DeviceId id = 0;
        std::uint32_t len = 0;
        EXPECT_EQ(dev.openBytes(songOfSeconds(seconds), id, len), 0);
        if (length != nullptr) *length = len;
        return id;
    }
    Notices notices;  // outlives the device, whose last notices may still be on their way
    FluidDevice dev{silent()};
};

// ------------------------------------------------------------------ open and errors

TEST_F(SilentDevice, OpenGivesFreshIdsAndTheLength) {
    const auto path = writeTemp("open_len.mid", songOfSeconds(3));
    DeviceId a = 0, b = 0;
    std::uint32_t la = 0, lb = 0;
    ASSERT_EQ(dev.open(path, a, la), 0);
    ASSERT_EQ(dev.close(a), 0);
    ASSERT_EQ(dev.open(path, b, lb), 0);
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);  // never reused, even after a close
    EXPECT_EQ(la, 24u);
    EXPECT_EQ(lb, 24u);
    FluidDevice other(silent());
    DeviceId c = 0;
    ASSERT_EQ(other.open(path, c, lb), 0);
    EXPECT_GT(c, b);  // unique across devices in the process
}

TEST_F(SilentDevice, OpenReadsTheWholeFileAtOnce) {
    const auto path = writeTemp("rewrite.mid", songOfSeconds(2));
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.open(path, id, len), 0);
    writeTemp("rewrite.mid", songOfSeconds(9));          // an edit saved over it
    EXPECT_EQ(dev.play(id, 16, notices.notifier()), 0);  // still the 2 s song: 16 is its end
    ASSERT_TRUE(notices.waitFor(1));
    EXPECT_EQ(notices.codes(), std::vector<int>{kNotifySuccessful});
}

TEST_F(SilentDevice, OpenErrorsHaveTheirOwnCodesAndTexts) {
    DeviceId id = 0;
    std::uint32_t len = 0;
    EXPECT_EQ(dev.open("/nonexistent/dir/x.mid", id, len), kErrFileRead);
    EXPECT_EQ(dev.open(writeTemp("text.mid", Bytes{'h', 'e', 'l', 'l', 'o'}), id, len),
              kErrNotMidi);
    EXPECT_EQ(dev.open(writeTemp("short.mid", Bytes{'M', 'T', 'h', 'd', 0, 0}), id, len),
              kErrShortHeader);
    EXPECT_EQ(dev.open(writeTemp("div0.mid", test::header(0, 0, 0)), id, len), kErrBadDivision);
}

TEST_F(SilentDevice, UnknownIdsAreErrors) {
    std::uint32_t pos = 0;
    const DeviceId bogus = 987654;
    EXPECT_EQ(dev.play(bogus, 0, notices.notifier()), kErrUnknownId);
    EXPECT_EQ(dev.stop(bogus), kErrUnknownId);
    EXPECT_EQ(dev.pause(bogus), kErrUnknownId);
    EXPECT_EQ(dev.close(bogus), kErrUnknownId);
    EXPECT_EQ(dev.position(bogus, pos), kErrUnknownId);
    const DeviceId id = openSeconds(1);
    ASSERT_EQ(dev.close(id), 0);
    EXPECT_EQ(dev.close(id), kErrUnknownId);
    EXPECT_EQ(notices.size(), 0u);  // a refused play has no notice
}

TEST_F(SilentDevice, EveryErrorCodeHasADistinctText) {
    std::set<std::string> texts;
    for (int code : {kErrUnknownId, kErrFileRead, kErrNotMidi, kErrShortHeader, kErrBadDivision,
                     kErrOutOfRange, kErrNoSoundFont, kErrSoundFontLoad, kErrAudioOutput,
                     kErrFileTooLarge, kErrAudioWrite, kErrCancelled, kErrAudioLost}) {
        const auto t = dev.errorText(code);
        ASSERT_TRUE(t.has_value()) << code;
        EXPECT_FALSE(t->empty());
        texts.insert(*t);
    }
    EXPECT_EQ(texts.size(), 13u);
    EXPECT_FALSE(dev.errorText(0).has_value());
    EXPECT_FALSE(dev.errorText(4242).has_value());
}

TEST_F(SilentDevice, PlayBeyondTheEndIsOutOfRange) {
    std::uint32_t len = 0;
    const DeviceId id = openSeconds(1, &len);
    EXPECT_EQ(dev.play(id, len + 1, notices.notifier()), kErrOutOfRange);
    EXPECT_EQ(dev.play(id, len, notices.notifier()), 0);  // at the end: done at once
    ASSERT_TRUE(notices.waitFor(1, 1s));
    EXPECT_EQ(notices.codes(), std::vector<int>{kNotifySuccessful});
}

// ------------------------------------------------------------------ notices

TEST_F(SilentDevice, OneSuccessfulNoticeAtTheEndOfTheSong) {
    const DeviceId id = openSeconds(1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);  // play returns at once
    ASSERT_TRUE(notices.waitFor(1));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 950ms);
    EXPECT_LT(took, 1500ms);  // at the end of the last event, not seconds later
    EXPECT_NE(notices.thread(0), std::this_thread::get_id());
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(notices.codes(), std::vector<int>{kNotifySuccessful});
    std::uint32_t pos = 0;
    ASSERT_EQ(dev.position(id, pos), 0);
    EXPECT_EQ(pos, 8u);
}

TEST_F(SilentDevice, EachInterruptionAbortsThePlayItInterrupts) {
    const DeviceId a = openSeconds(5);
    const DeviceId b = openSeconds(5);
    ASSERT_EQ(dev.play(a, 0, notices.notifier()), 0);
    ASSERT_EQ(dev.stop(a), 0);
    ASSERT_EQ(dev.play(a, 3, notices.notifier()), 0);
    ASSERT_EQ(dev.pause(a), 0);
    ASSERT_EQ(dev.play(a, 3, notices.notifier()), 0);
    ASSERT_EQ(dev.play(b, 0, notices.notifier()), 0);  // another song takes over the output
    ASSERT_EQ(dev.close(b), 0);
    ASSERT_TRUE(notices.waitFor(4));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(notices.codes(), std::vector<int>(4, kNotifyAborted));
    EXPECT_EQ(dev.stop(a), 0);  // nothing playing: no notice
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(notices.size(), 4u);
}

TEST_F(SilentDevice, RapidRestartsLoseAndDoubleNothing) {
    const DeviceId id = openSeconds(1);
    constexpr int kPlays = 40;
    for (int i = 0; i < kPlays; ++i) {
        ASSERT_EQ(dev.play(id, static_cast<std::uint32_t>(i % 7), notices.notifier()), 0);
        if (i % 3 == 0) std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(notices.waitFor(kPlays));
    std::this_thread::sleep_for(300ms);
    std::vector<int> expected(kPlays - 1, kNotifyAborted);
    expected.push_back(kNotifySuccessful);
    EXPECT_EQ(notices.codes(), expected);
}

TEST_F(SilentDevice, StopRacingTheEndStillGivesExactlyOneNotice) {
    // A very short song stopped around its end, many times: whichever wins,
    // each play gets one notice.
    Track t;
    t.on(0, 0, 60).off(2, 0, 60).eot();
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(test::smf(0, 96, {t}), id, len), 0);
    constexpr int kPlays = 30;
    for (int i = 0; i < kPlays; ++i) {
        ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
        std::this_thread::sleep_for(std::chrono::microseconds(300 * (i % 10)));
        ASSERT_EQ(dev.stop(id), 0);
    }
    ASSERT_TRUE(notices.waitFor(kPlays));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(notices.size(), static_cast<std::size_t>(kPlays));
}

TEST_F(SilentDevice, NotifierMayCallBackIntoTheDevice) {
    const DeviceId id = openSeconds(1);
    std::mutex m;
    std::condition_variable cv;
    int ends = 0;
    Notifier again = [&](DeviceId which, int code) {
        std::lock_guard lk(m);
        if (code == kNotifySuccessful && ++ends == 1) {
            EXPECT_EQ(dev.play(which, 7,
                               [&](DeviceId, int) {
                                   std::lock_guard lk2(m);
                                   ++ends;
                                   cv.notify_all();
                               }),
                      0);
        }
        cv.notify_all();
    };
    ASSERT_EQ(dev.play(id, 6, again), 0);
    std::unique_lock lk(m);
    EXPECT_TRUE(cv.wait_for(lk, 5s, [&] { return ends == 2; }));
}

TEST(SilentDeviceLifetime, DestroyingWhilePlayingAbortsThePlay) {
    Notices notices;
    {
        FluidDevice dev(silent());
        DeviceId id = 0;
        std::uint32_t len = 0;
        ASSERT_EQ(dev.openBytes(songOfSeconds(10), id, len), 0);
        ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(notices.codes(), std::vector<int>{kNotifyAborted});
}

// ------------------------------------------------------------------ positions

TEST_F(SilentDevice, PositionAdvancesWhilePlayingAndHoldsWhenStopped) {
    const DeviceId id = openSeconds(10);
    std::uint32_t pos = 99;
    ASSERT_EQ(dev.position(id, pos), 0);
    EXPECT_EQ(pos, 0u);
    ASSERT_EQ(dev.play(id, 16, notices.notifier()), 0);
    std::this_thread::sleep_for(520ms);
    ASSERT_EQ(dev.position(id, pos), 0);
    EXPECT_GE(pos, 19u);
    EXPECT_LE(pos, 21u);
    ASSERT_EQ(dev.pause(id), 0);
    std::uint32_t paused = 0;
    ASSERT_EQ(dev.position(id, paused), 0);
    EXPECT_GE(paused, pos);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(dev.position(id, pos), 0);
    EXPECT_EQ(pos, paused);
    ASSERT_EQ(dev.play(id, paused, notices.notifier()), 0);
    std::this_thread::sleep_for(260ms);
    ASSERT_EQ(dev.stop(id), 0);
    ASSERT_EQ(dev.position(id, pos), 0);
    EXPECT_GE(pos, paused + 1);
    EXPECT_LE(pos, paused + 3);
}

// ------------------------------------------------------------------ start-up failures

TEST(DeviceStartUp, MissingSoundFontIsReportedByPlay) {
    DeviceSettings s;
    s.audioDriver = kAudioManual;
    s.soundFont = "/nonexistent/none.sf2";
    FluidDevice dev(s);
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(songOfSeconds(1), id, len), 0);
    EXPECT_EQ(dev.play(id, 0, {}), kErrNoSoundFont);
    EXPECT_EQ(dev.waitReady(), kErrNoSoundFont);
}

TEST(DeviceStartUp, AnOutputThatCannotOpenFailsEachPlay) {
    DeviceSettings s;
    s.audioDriver = "no-such-driver";
    s.soundFont = LIRNO_TEST_SOUNDFONT;
    FluidDevice dev(s);
    Notices notices;
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(songOfSeconds(1), id, len), 0);
    // Accepted, then failed: the output is tried again for each play.
    for (std::size_t round = 1; round <= 2; ++round) {
        ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
        ASSERT_TRUE(notices.waitFor(round));
        EXPECT_EQ(notices.codes().back(), kNotifyFailure);
        EXPECT_EQ(dev.failure(id), kErrAudioOutput);
    }
    EXPECT_EQ(dev.waitReady(), kErrAudioOutput);
    EXPECT_NE(dev.errorText(kErrAudioOutput)->find("tried no-such-driver"), std::string::npos);
}

// The audio side takes no lock and waits for nothing: it renders (here on
// the manual clock, the very path a sound card's thread runs) while another
// thread plays, stops and asks for the position as fast as it can. Builds
// with assertions abort if rendering ever takes the device's lock; every
// build checks that each play still gets exactly one notice.
TEST(DeviceAudioSide, RendersWithoutWaitingWhileCommandsRace) {
    DeviceSettings s;
    s.audioDriver = kAudioManual;
    s.soundFont = LIRNO_TEST_SOUNDFONT;
    FluidDevice dev(s);
    ASSERT_EQ(dev.waitReady(), 0);
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(songOfSeconds(4), id, len), 0);
    Notices notices;
    constexpr int kPlays = 200;
    std::atomic<bool> done{false};
    std::thread commander([&] {
        for (int i = 0; i < kPlays; ++i) {
            dev.play(id, static_cast<std::uint32_t>(i) % len, notices.notifier());
            std::uint32_t pos = 0;
            for (int k = 0; k < 20; ++k) dev.position(id, pos);
            if (i % 3 == 0) dev.stop(id);
        }
        done = true;
    });
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    while (!done) dev.renderManual(l.data(), r.data(), kBlockFrames);
    commander.join();
    dev.stop(id);
    ASSERT_TRUE(notices.waitFor(kPlays));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(notices.size(), static_cast<std::size_t>(kPlays));
}

#ifndef NDEBUG
TEST(DeviceAudioSideDeathTest, TakingTheDeviceLockThereIsCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ControlMutex m;
            const AudioScope audio;
            m.lock();
        },
        "audio side took the device lock");
}
#endif

TEST(DeviceOutput, PlaysThroughADriverAndClosesItWhenIdle) {
    Notices notices;
    DeviceSettings s;
    s.audioDriver = "alsa";
    s.outputDevice = "null";  // ALSA's null sink takes audio as fast as it is made,
    s.outputPriority = 0;     // so its thread must not spin at real-time priority
    s.soundFont = LIRNO_TEST_SOUNDFONT;
    s.outputLinger = 100ms;
    FluidDevice dev(s);
    if (dev.waitReady() != 0) GTEST_SKIP() << "no ALSA null sink on this machine";
    EXPECT_EQ(dev.outputName(), "alsa");
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(songOfSeconds(2), id, len), 0);
    for (std::size_t round = 1; round <= 2; ++round) {
        ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
        ASSERT_TRUE(notices.waitFor(round));
        EXPECT_EQ(notices.codes().back(), kNotifySuccessful);
        // Idle past the linger: the output closes, and the next play reopens it.
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (dev.outputOpen() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_FALSE(dev.outputOpen());
    }
}

}  // namespace
}  // namespace lirno::device
