// Sequencer control over a device that records what it is asked.
#include <gtest/gtest.h>

#include "../support/recorder.h"
#include "device/errors.h"
#include "mmio/playfile.h"
#include "mmio/sequencer.h"

namespace lirno {
namespace {

using test::Recorder;

class FakeDevice : public device::Device {
  public:
    int open(const std::string& path, device::DeviceId& id, std::uint32_t& length) override {
        const auto bytes = test::readFile(path);
        log.push_back("open " + std::to_string(bytes.size()));
        if (openResult) return openResult;
        id = nextId++;
        length = nextLength;
        return 0;
    }
    int play(device::DeviceId id, std::uint32_t from, device::Notifier) override {
        log.push_back("play " + std::to_string(id) + " from " + std::to_string(from));
        return from > nextLength ? device::kErrOutOfRange : 0;
    }
    int stop(device::DeviceId id) override { return record("stop", id); }
    int pause(device::DeviceId id) override { return record("pause", id); }
    int close(device::DeviceId id) override { return record("close", id); }
    int position(device::DeviceId id, std::uint32_t& pos) override {
        log.push_back("position " + std::to_string(id));
        pos = currentPos;
        return 0;
    }
    std::optional<std::string> errorText(int code) const override {
        return device::errorTextFor(code);
    }
    int setPlayback(const device::PlaybackSettings&) override { return 0; }
    int setSound(const device::SoundSettings&) override { return 0; }

    int record(const char* what, device::DeviceId id) {
        log.push_back(std::string(what) + " " + std::to_string(id));
        return id == 0 ? device::kErrUnknownId : 0;
    }

    std::vector<std::string> log;
    int openResult = 0;
    device::DeviceId nextId = 7;
    std::uint32_t nextLength = 100;
    std::uint32_t currentPos = 0;
};

class Control : public ::testing::Test {
  protected:
    void SetUp() override {
        sequencer.device = &fake;
        playback.sTmpName = dir.file("lqplay.tmp");
        loaded.image = FileImage::fromBytes(std::vector<std::uint8_t>(40, 1));
    }

    Recorder rec;
    test::ScratchDir dir;
    FakeDevice fake;
};

TEST_F(Control, OpenMeasuresTheSong) {
    test::writeFile(playback.sTmpName, {1, 2, 3});
    EXPECT_EQ(mcimidiOpen(playback.sTmpName), 7u);
    EXPECT_EQ(playback.dwFileSize, 100u);

    fake.openResult = device::kErrNotMidi;
    EXPECT_EQ(mcimidiOpen(playback.sTmpName), 0u);
    EXPECT_EQ(playback.dwFileSize, 100u);  // keeps the old length
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_EQ(rec.messages[0].caption, "Lirno Error");
}

TEST_F(Control, AChangedImageIsRewrittenAndReopenedBeforeThePlay) {
    playback.wOutDeviceID = 3;
    playback.dwPlayPos = 42;
    playback.fMidiChange = true;
    fake.nextLength = 120;
    int notices = 0;
    mcimidiPlay([&](device::DeviceId, int) { ++notices; }, 3);
    EXPECT_EQ(fake.log,
              (std::vector<std::string>{"stop 3", "close 3", "open 40", "play 7 from 42"}));
    EXPECT_FALSE(playback.fMidiChange);
    EXPECT_EQ(playback.wOutDeviceID, 7u);
    EXPECT_EQ(playback.dwFileSize, 120u);
    EXPECT_TRUE(rec.messages.empty());

    fake.log.clear();
    mcimidiPlay({}, 7);  // unchanged: just the play
    EXPECT_EQ(fake.log, (std::vector<std::string>{"play 7 from 42"}));
}

TEST_F(Control, ChangesWhileNotPlayingOnlySetTheFlag) {
    playback.fFileLoaded = true;
    playback.wOutDeviceID = 3;
    for (int mode : {kModeStopped, kModePaused, kModeSeeking}) {
        playback.nMode = mode;
        playback.fMidiChange = false;
        EXPECT_EQ(mcimidiChange(), 1);
        EXPECT_TRUE(playback.fMidiChange);
    }
    playback.nMode = kModePlaying;
    playback.fFileLoaded = false;  // before any load
    mcimidiChange();
    EXPECT_TRUE(fake.log.empty());
}

TEST_F(Control, AChangeWhilePlayingRestartsWhereTheSongHadGot) {
    playback.fFileLoaded = true;
    playback.nMode = kModePlaying;
    playback.wOutDeviceID = 3;
    playback.dwFileSize = 100;
    fake.currentPos = 55;
    mcimidiChange();
    EXPECT_EQ(fake.log, (std::vector<std::string>{"position 3", "stop 3", "close 3", "open 40",
                                                  "play 7 from 55"}));
    EXPECT_EQ(playback.dwPlayPos, 55u);
    EXPECT_EQ(test::readFile(playback.sTmpName), test::bytesOf(loaded.image));
}

TEST_F(Control, ReportsCarryTheDevicesTextAndTheNumbers) {
    playback.dwFileSize = 1234;
    playback.dwPlayPos = 0;
    playback.wOutDeviceID = 1;
    mcimidiError(device::kErrNotMidi);
    mcimidiError(999);
    ASSERT_EQ(rec.messages.size(), 2u);
    EXPECT_EQ(rec.messages[0].text,
              *device::errorTextFor(device::kErrNotMidi) + "\nsize 1234 pos 0 dev 1");
    EXPECT_EQ(rec.messages[0].owner, Owner::None);
    EXPECT_EQ(rec.messages[0].icon, Icon::Exclamation);
    EXPECT_EQ(rec.messages[1].text, "Unrecognaized error");
    EXPECT_EQ(rec.messages[1].caption, "Lirno Error");
}

TEST_F(Control, APlayBeyondTheEndReportsTheOutOfRangeCode) {
    playback.wOutDeviceID = 7;
    playback.dwFileSize = 100;
    playback.dwPlayPos = 101;
    EXPECT_EQ(mcimidiPlay({}, 7), device::kErrOutOfRange);
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_EQ(rec.messages[0].text,
              *device::errorTextFor(device::kErrOutOfRange) + "\nsize 100 pos 101 dev 7");
}

TEST_F(Control, CommandsToNoDeviceAreReported) {
    mcimidiStop(0);
    mcimidiClose(0);
    EXPECT_EQ(rec.messages.size(), 2u);
    sequencer.device = nullptr;
    EXPECT_EQ(mcimidiOpen("x"), 0u);
    EXPECT_EQ(rec.messages.back().text, "Unrecognaized error");
}

}  // namespace
}  // namespace lirno
