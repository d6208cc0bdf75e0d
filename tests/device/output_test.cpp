// The device behind outputs that fail to open, fail later or take samples
// faster than real time; which instruments it reads before a play; where it
// finds its SoundFont.
#include <gtest/gtest.h>

#include <fluidsynth.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "device/engine/fluid_device.h"
#include "device/engine/fluid_log.h"
#include "device/errors.h"
#include "device/song/song_file.h"
#include "device/soundfont/discovery.h"
#include "device/soundfont/presets_played.h"
#include "device_support.h"
#include "midi_writer.h"
#include "support/env_guard.h"
#include "support/fake_output.h"
#include "support/files.h"

namespace lirno::device {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using lirno::test::EnvGuard;
using lirno::test::FakeDrivers;
using test::Bytes;
using test::Notices;
using test::songOfSeconds;
using test::Track;

DeviceSettings withDrivers(FakeDrivers& drivers, std::string wanted = "") {
    DeviceSettings s;
    s.soundFont = LIRNO_TEST_SOUNDFONT;
    s.audioDriver = std::move(wanted);
    s.output = drivers.factory();
    s.outputLinger = 50ms;
    return s;
}

TEST(DeviceOutputFailure, NoOutputEndsThePlayWithOneFailureAndTheNextPlayTriesAgain) {
    FakeDrivers drivers;
    FluidDevice dev(withDrivers(drivers));
    Notices notices;
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(songOfSeconds(1), id, len), 0);
    // Accepted at once, even while start-up still tries the outputs.
    ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
    ASSERT_TRUE(notices.waitFor(1));
    std::this_thread::sleep_for(100ms);  // nothing else follows
    EXPECT_EQ(notices.codes(), std::vector<int>{kNotifyFailure});
    EXPECT_EQ(dev.failure(id), kErrAudioOutput);
    const auto text = dev.errorText(kErrAudioOutput);
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find("tried pulseaudio, alsa, jack, sdl2"), std::string::npos) << *text;
    std::uint32_t pos = 99;
    ASSERT_EQ(dev.position(id, pos), 0);
    EXPECT_EQ(pos, 0u);

    // Once an output works, the same device plays to the end.
    drivers.work({"jack"});
    ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
    ASSERT_TRUE(notices.waitFor(2));
    EXPECT_EQ(notices.codes().back(), kNotifySuccessful);
    EXPECT_EQ(dev.failure(id), 0);
    EXPECT_EQ(dev.outputName(), "jack");
}

TEST(DeviceOutputFailure, AnOutputLostMidSongEndsThePlayWithOneFailure) {
    FakeDrivers drivers;
    drivers.work({"alsa"});
    drivers.lossAfter = 200;  // about 0.3 s into a 3 s song
    FluidDevice dev(withDrivers(drivers));
    Notices notices;
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(songOfSeconds(3), id, len), 0);
    ASSERT_EQ(dev.waitReady(), 0);
    ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
    ASSERT_TRUE(notices.waitFor(1));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(notices.codes(), std::vector<int>{kNotifyFailure});
    EXPECT_EQ(dev.failure(id), kErrAudioLost);
    EXPECT_FALSE(dev.outputOpen());
}

TEST(DeviceOutputFailure, AMissingSoundFontFailsAPlayAskedForDuringStartUp) {
    FakeDrivers drivers;
    drivers.work({"alsa"});
    DeviceSettings s = withDrivers(drivers);
    s.soundFont = (std::filesystem::path(testing::TempDir()) / "not-a-font.sf2").string();
    std::ofstream(s.soundFont) << "not a SoundFont";
    FluidDevice dev(s);
    Notices notices;
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(songOfSeconds(1), id, len), 0);
    const int early = dev.play(id, 0, notices.notifier());
    EXPECT_EQ(dev.waitReady(), kErrSoundFontLoad);
    if (early == 0) {
        ASSERT_TRUE(notices.waitFor(1));
        EXPECT_EQ(notices.codes(), std::vector<int>{kNotifyFailure});
        EXPECT_EQ(dev.failure(id), kErrSoundFontLoad);
    } else {
        EXPECT_EQ(early, kErrSoundFontLoad);
    }
    EXPECT_EQ(dev.play(id, 0, notices.notifier()), kErrSoundFontLoad);
}

TEST(DeviceOutputClock, AnOutputFasterThanRealTimeDoesNotMakeTheSongRace) {
    FakeDrivers drivers;
    drivers.work({"alsa"});
    drivers.instant = true;
    FluidDevice dev(withDrivers(drivers));
    ASSERT_EQ(dev.waitReady(), 0);
    Notices notices;
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(songOfSeconds(1), id, len), 0);
    const auto start = Clock::now();
    ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
    ASSERT_TRUE(notices.waitFor(1));
    // The output may run a quarter of a second ahead, not more: a load on
    // the machine can only make this later.
    EXPECT_GE(Clock::now() - start, 700ms);
    EXPECT_EQ(notices.codes(), std::vector<int>{kNotifySuccessful});
}

TEST(DeviceOutputQuiet, FailedAttemptsPrintNothing) {
    testing::internal::CaptureStderr();
    {
        const QuietAttempts quiet;
        fluid_log(FLUID_ERR, "an attempt that failed");
    }
    fluid_log(FLUID_ERR, "a failure of its own");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("an attempt"), std::string::npos) << err;
    EXPECT_NE(err.find("a failure of its own"), std::string::npos) << err;
}

// ------------------------------------------------------------------ presets

// Bytes this thread has read through system calls so far.
long bytesReadByThisThread() {
    std::ifstream io("/proc/thread-self/io");
    std::string key;
    long value = -1;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return -1;
}

// An output that notes what its own thread read while it played.
class ReadWatchingOutput final : public AudioOutput {
  public:
    explicit ReadWatchingOutput(OutputSink& sink)
        : thread_([this, &sink] {
              std::vector<float> l(64), r(64);
              const long before = bytesReadByThisThread();
              while (!stop_.load()) {
                  sink.render(l.data(), r.data(), l.size());
                  for (float v : l) loudest.store(std::max(loudest.load(), std::abs(v)));
                  std::this_thread::sleep_for(1451us);
              }
              // What reading /proc/thread-self/io itself costs is far below this.
              read_ = bytesReadByThisThread() - before;
          }) {}
    ~ReadWatchingOutput() override {
        stop_.store(true);
        thread_.join();
        reads.push_back(read_);
    }
    static inline std::vector<long> reads;
    static inline std::atomic<float> loudest{0};

  private:
    std::atomic<bool> stop_{false};
    long read_ = 0;
    std::thread thread_;
};

TEST(Presets, ThePlayReadsNothingOfTheSoundFontOnTheOutputThread) {
    if (bytesReadByThisThread() < 0) GTEST_SKIP() << "no per-thread I/O counts here";
    // Instruments chosen at the start, in the middle, from another bank and
    // for the drums, plus the ones every reset chooses.
    Track t;
    t.program(0, 0, 40).cc(0, 1, 0, 8).program(0, 1, 5).program(0, 9, 25);
    for (int i = 0; i < 2; ++i)
        t.on(0, 0, 60).on(0, 1, 64).on(0, 9, 38).off(48, 0, 60).off(0, 1, 64).off(0, 9, 38);
    t.program(0, 0, 73).program(0, 2, 56);
    for (int i = 0; i < 2; ++i) t.on(0, 0, 72).on(0, 2, 55).off(48, 0, 72).off(0, 2, 55);
    t.eot();
    ReadWatchingOutput::reads.clear();
    {
        DeviceSettings s;
        s.soundFont = LIRNO_TEST_SOUNDFONT;
        s.output = [](const std::string&, const OutputOptions&, OutputSink& sink) {
            return std::make_unique<ReadWatchingOutput>(sink);
        };
        FluidDevice dev(s);
        Notices notices;
        DeviceId id = 0;
        std::uint32_t len = 0;
        ASSERT_EQ(dev.openBytes(test::smf(0, 96, {t}), id, len), 0);
        ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
        ASSERT_TRUE(notices.waitFor(1));
        EXPECT_EQ(notices.codes(), std::vector<int>{kNotifySuccessful});
        ReadWatchingOutput::loudest.store(0);
        ASSERT_EQ(dev.play(id, 3, notices.notifier()), 0);  // and from the middle
        for (int i = 0; i < 400 && ReadWatchingOutput::loudest.load() < 0.01f; ++i)
            std::this_thread::sleep_for(5ms);
        // While that sounds, an instrument chosen anew, as after an edit of a
        // row: the song now needs one the synthesizer has not read, and it
        // sounds.
        Track edited;
        edited.program(0, 0, 19);
        for (int i = 0; i < 2; ++i) edited.on(0, 0, 48 + 12 * i).off(48, 0, 48 + 12 * i);
        edited.eot();
        ASSERT_EQ(dev.openBytes(test::smf(0, 96, {edited}), id, len), 0);
        ReadWatchingOutput::loudest.store(0);
        ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
        ASSERT_TRUE(notices.waitFor(3));
        EXPECT_EQ(notices.codes(),
                  (std::vector<int>{kNotifySuccessful, kNotifyAborted, kNotifySuccessful}));
        EXPECT_GT(ReadWatchingOutput::loudest.load(), 0.01f);
    }
    ASSERT_EQ(ReadWatchingOutput::reads.size(), 1u);
    EXPECT_LT(ReadWatchingOutput::reads[0], 16 * 1024);
}

TEST(Presets, AskedForFollowTheBankSelectsAndTheDrumChannel) {
    Track t;
    t.program(0, 0, 40)
        .cc(0, 1, 0, 8)
        .program(0, 1, 5)
        .program(0, 9, 25)
        .cc(0, 1, 0, 0)
        .program(0, 1, 6);
    t.eot();
    std::shared_ptr<const Song> song;
    ASSERT_EQ(parseSong(test::smf(0, 96, {t}), song), 0);
    const std::set<PresetRef> want{{0, 0}, {0, 6}, {0, 40}, {8, 5}, {128, 0}, {128, 25}};
    EXPECT_EQ(presetsAskedFor(*song), want);
}

TEST(Presets, ProgramsNoNoteIsPlayedWithAreLeftOut) {
    // Channel 0: 40 then 41 before any note (40 unheard), a note, then 42
    // and 43 with only a note on channel 1 between them (42 unheard).
    Track t;
    t.program(0, 0, 40).program(0, 0, 41).on(0, 0, 60).off(10, 0, 60);
    t.program(0, 0, 42).on(0, 1, 60).program(0, 0, 43).on(0, 0, 62).off(10, 0, 62).eot();
    std::shared_ptr<const Song> song;
    ASSERT_EQ(parseSong(test::smf(0, 96, {t}), song), 0);
    const auto thin = withoutUnheardPrograms(song);
    std::vector<int> programs;
    for (const SongEvent& e : thin->events) {
        if ((e.status & 0xF0) == 0xC0) programs.push_back(e.data1);
    }
    EXPECT_EQ(programs, (std::vector<int>{41, 43}));
    EXPECT_EQ(thin->events.size(), song->events.size() - 2);
    EXPECT_EQ(thin->endNs, song->endNs);
    // Nothing to leave out: the very same song.
    EXPECT_EQ(withoutUnheardPrograms(thin), thin);
}

TEST(Presets, SelectedFallBackAsTheSynthDoes) {
    const std::set<PresetRef> font{{0, 0}, {0, 5}, {128, 0}};
    const auto exists = [&](PresetRef p) { return font.contains(p); };
    // A missing bank falls back to bank 0, a missing program to the piano,
    // a missing kit to the standard kit.
    const std::set<PresetRef> got = presetsSelected({{8, 5}, {0, 77}, {128, 25}}, exists);
    EXPECT_EQ(got, (std::set<PresetRef>{{0, 0}, {0, 5}, {128, 0}}));
}

// ------------------------------------------------------------------ SoundFont discovery

class SoundFontSearch : public testing::Test {
  protected:
    lirno::test::ScratchDir scratch;  // the search's whole world, gone after the test
    std::filesystem::path root = scratch.path();
    std::string file(const std::string& rel) {
        const auto p = root / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << "x";
        return p.string();
    }
};

TEST_F(SoundFontSearch, FollowsTheOrderOfPlaces) {
    SoundFontPlaces places;
    places.dataDirs = {root / "home", root / "usr"};
    EXPECT_EQ(findSoundFont(places), "");

    // Any font in the folders; one whose name says GM before the others,
    // wherever it is.
    file("home/soundfonts/Strings.sf2");
    EXPECT_EQ(findSoundFont(places), (root / "home/soundfonts/Strings.sf2").string());
    const std::string gm = file("usr/sounds/sf3/MuseScore_General_GM.sf3");
    file("usr/sounds/sf3/notes.txt");
    EXPECT_EQ(findSoundFont(places), gm);

    // The distribution's default links come before any of those.
    const std::string link = file("usr/sounds/sf3/default-GM.sf3");
    EXPECT_EQ(findSoundFont(places), link);

    // FluidSynth's default only when the file is there.
    places.synthDefault = (root / "missing.sf2").string();
    EXPECT_EQ(findSoundFont(places), link);
    places.synthDefault = file("fluid/default.sf2");
    EXPECT_EQ(findSoundFont(places), places.synthDefault);

    // The user's own choice always, even a wrong one: its play says so.
    places.chosen = "/nowhere/chosen.sf2";
    EXPECT_EQ(findSoundFont(places), places.chosen);
}

TEST_F(SoundFontSearch, DataFoldersComeFromTheEnvironment) {
    SoundFontPlaces places;
    {
        const EnvGuard home("XDG_DATA_HOME", root / "home");
        const EnvGuard dirs("XDG_DATA_DIRS", (root / "a:").string().append((root / "b").string()));
        places = soundFontPlacesFromEnvironment();
    }
    EXPECT_EQ(places.dataDirs,
              (std::vector<std::filesystem::path>{root / "home", root / "a", root / "b"}));
}

}  // namespace
}  // namespace lirno::device
