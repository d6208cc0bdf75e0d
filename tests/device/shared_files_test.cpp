// Every real file we have must open and play through, or be refused cleanly.
#include <gtest/gtest.h>

#include <filesystem>

#include "device/engine/fluid_device.h"
#include "device/engine/scheduler.h"
#include "device/errors.h"
#include "device/song/song_file.h"

namespace lirno::device {
namespace {

std::vector<std::filesystem::path> sharedMidiFiles() {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const char* sub : {"real", "edge"}) {
        const auto dir = std::filesystem::path(LIRNO_SHARED_MIDI) / sub;
        for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (it->is_regular_file()) files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(SharedMidiFiles, EveryFileOpensAndPlaysThroughOrFailsCleanly) {
    const auto files = sharedMidiFiles();
    if (files.empty()) GTEST_SKIP() << "no shared MIDI files at " << LIRNO_SHARED_MIDI;
    int opened = 0;
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        std::shared_ptr<const Song> song;
        const int err = loadSongFile(path.string(), song);
        if (err != 0) {
            EXPECT_TRUE(errorTextFor(err).has_value());
            continue;
        }
        ++opened;
        // Play it all through on the scheduler's clock (no synthesizer): it
        // must end, at its length, having sent every event.
        TimingProbe probe;
        Scheduler sch(nullptr);
        sch.setProbe(&probe);
        const auto plan = makePlan(song, 0);
        sch.start(*plan);
        const std::uint64_t limit = plan->endFrame + 2 * kBlockFrames;
        std::uint64_t frames = 0;
        while (sch.playing() && frames <= limit) {
            sch.render(nullptr, nullptr, 1 << 16);
            frames += 1 << 16;
        }
        EXPECT_FALSE(sch.playing());
        EXPECT_EQ(probe.events, song->events.size());
        EXPECT_LE(probe.worstFrames, static_cast<std::int64_t>(kBlockFrames / 2));
        EXPECT_NEAR(static_cast<double>(sch.songFrame()), static_cast<double>(plan->endFrame),
                    kBlockFrames / 2);
        // And a start from the middle chases without trouble.
        const auto mid = makePlan(song, song->lengthUnits() / 2);
        EXPECT_LE(mid->firstEvent, song->events.size());
    }
    EXPECT_GE(opened, 57);  // at least every musical file
}

TEST(SharedMidiFiles, TheDeviceOpensThemAll) {
    const auto files = sharedMidiFiles();
    if (files.empty()) GTEST_SKIP() << "no shared MIDI files at " << LIRNO_SHARED_MIDI;
    DeviceSettings s;
    s.audioDriver = kAudioNone;
    FluidDevice dev(s);
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        DeviceId id = 0;
        std::uint32_t len = 0;
        const int err = dev.open(path.string(), id, len);
        if (err != 0) {
            EXPECT_TRUE(dev.errorText(err).has_value());
            continue;
        }
        EXPECT_NE(id, 0u);
        EXPECT_EQ(dev.play(id, len / 2, {}), 0);
        EXPECT_EQ(dev.close(id), 0);
    }
}

}  // namespace
}  // namespace lirno::device
