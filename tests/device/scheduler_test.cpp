// Chasing the state at a start point, and the scheduler's clock: when events
// go out, when a play ends, and where it starts.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/engine/scheduler.h"
#include "device/engine/synth.h"
#include "device/song/chase.h"
#include "device/song/smf_reader.h"
#include "midi_writer.h"

namespace lirno::device {
namespace {

using test::Bytes;
using test::Track;

std::shared_ptr<const Song> songOf(const Bytes& b) {
    SmfResult r = readSmf(b);
    EXPECT_EQ(r.error, SmfError::None);
    return std::make_shared<const Song>(std::move(r.song));
}

struct Msg {
    int status, d1, d2;
    bool operator==(const Msg&) const = default;
};

std::vector<Msg> chasedAt(const Song& s, std::uint32_t units) {
    const auto plan = makePlan(std::make_shared<const Song>(s), units);
    std::vector<Msg> out;
    for (const SongEvent& e : plan->preroll) out.push_back({e.status, e.data1, e.data2});
    return out;
}

bool has(const std::vector<Msg>& v, Msg m) {
    return std::find(v.begin(), v.end(), m) != v.end();
}

std::ptrdiff_t indexOf(const std::vector<Msg>& v, Msg m) {
    return std::find(v.begin(), v.end(), m) - v.begin();
}

// ------------------------------------------------------------------ chasing

TEST(Chase, ProgramWithTheBankInForceWhenItWasChosen) {
    Track t;
    t.cc(0, 1, 0, 8).cc(0, 1, 32, 1).program(0, 1, 24).cc(10, 1, 0, 0);  // later bank, no program
    t.on(192, 1, 60).eot(192);
    const auto s = songOf(test::smf(0, 96, {t}));
    const auto m = chasedAt(*s, 4);
    const auto bank = indexOf(m, {0xB1, 0, 8});
    const auto prog = indexOf(m, {0xC1, 24, 0});
    const auto laterBank = indexOf(m, {0xB1, 0, 0});
    ASSERT_LT(prog, static_cast<std::ptrdiff_t>(m.size()));
    EXPECT_LT(bank, prog);
    EXPECT_LT(indexOf(m, {0xB1, 32, 1}), prog);
    // The bank chosen after the program only waits for the next program change.
    EXPECT_GT(laterBank, prog);
    EXPECT_LT(laterBank, static_cast<std::ptrdiff_t>(m.size()));
}

TEST(Chase, ControllersPitchBendAndPressureKeepTheirLastValues) {
    Track t;
    t.cc(0, 0, 7, 50).cc(0, 0, 7, 90).cc(0, 0, 10, 20).cc(0, 0, 11, 70).cc(0, 0, 64, 127);
    t.ev(0, {0xE0, 0x00, 0x50}).ev(0, {0xD0, 33});
    t.on(192, 0, 60).eot(192);
    const auto m = chasedAt(*songOf(test::smf(0, 96, {t})), 4);
    EXPECT_TRUE(has(m, {0xB0, 7, 90}));
    EXPECT_FALSE(has(m, {0xB0, 7, 50}));
    EXPECT_TRUE(has(m, {0xB0, 10, 20}));
    EXPECT_TRUE(has(m, {0xB0, 11, 70}));
    EXPECT_TRUE(has(m, {0xB0, 64, 127}));
    EXPECT_TRUE(has(m, {0xE0, 0x00, 0x50}));
    EXPECT_TRUE(has(m, {0xD0, 33, 0}));
}

TEST(Chase, RegisteredParametersAreReplayedAndTheSelectionRestored) {
    Track t;
    // Pitch-bend range 12 semitones, then fine tuning selected and left selected.
    t.cc(0, 2, 101, 0).cc(0, 2, 100, 0).cc(0, 2, 6, 12).cc(0, 2, 38, 0);
    t.cc(0, 2, 101, 0).cc(0, 2, 100, 1).cc(0, 2, 6, 70);
    t.on(192, 2, 60).eot(192);
    const auto m = chasedAt(*songOf(test::smf(0, 96, {t})), 4);
    const auto range = indexOf(m, {0xB2, 6, 12});
    ASSERT_LT(range, static_cast<std::ptrdiff_t>(m.size()));
    EXPECT_EQ(m[static_cast<std::size_t>(range) - 1], (Msg{0xB2, 100, 0}));
    EXPECT_EQ(m[static_cast<std::size_t>(range) - 2], (Msg{0xB2, 101, 0}));
    EXPECT_TRUE(has(m, {0xB2, 6, 70}));
    EXPECT_EQ(m.back(), (Msg{0xB2, 100, 1}));
}

TEST(Chase, ResetAllControllersForgetsWhatItResets) {
    Track t;
    t.cc(0, 0, 7, 90).cc(0, 0, 64, 127).ev(0, {0xE0, 0, 0x60}).cc(0, 0, 121, 0);
    t.on(192, 0, 60).eot(192);
    const auto m = chasedAt(*songOf(test::smf(0, 96, {t})), 4);
    EXPECT_TRUE(has(m, {0xB0, 7, 90}));  // volume survives a controller reset
    EXPECT_FALSE(has(m, {0xB0, 64, 127}));
    EXPECT_FALSE(has(m, {0xE0, 0, 0x60}));
}

TEST(Chase, SystemResetStartsTheStateAfresh) {
    Track t;
    t.program(0, 0, 40).cc(0, 0, 7, 30);
    t.sysex(10, 0xF0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});  // GS reset
    t.sysex(0, 0xF0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x02, 0x19, 0xF7});   // drum part
    t.program(0, 0, 12).on(192, 0, 60).eot(192);
    const auto s = songOf(test::smf(0, 96, {t}));
    const auto plan = makePlan(s, 4);
    ASSERT_GE(plan->preroll.size(), 3u);
    EXPECT_EQ(plan->preroll[0].status, 0xF0);
    EXPECT_TRUE(isSystemReset(s->sysexBytes(plan->preroll[0])));
    EXPECT_EQ(plan->preroll[1].status, 0xF0);
    const auto m = chasedAt(*s, 4);
    EXPECT_FALSE(has(m, {0xC0, 40, 0}));
    EXPECT_FALSE(has(m, {0xB0, 7, 30}));
    EXPECT_TRUE(has(m, {0xC0, 12, 0}));
}

TEST(Chase, RecognisesTheCommonResets) {
    EXPECT_TRUE(isSystemReset(Bytes{0x7E, 0x7F, 0x09, 0x01}));
    EXPECT_TRUE(isSystemReset(Bytes{0x7E, 0x10, 0x09, 0x03}));
    EXPECT_TRUE(isSystemReset(Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41}));
    EXPECT_TRUE(isSystemReset(Bytes{0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00}));
    EXPECT_FALSE(isSystemReset(Bytes{0x43, 0x10, 0x4C, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_FALSE(isSystemReset(Bytes{0x7E, 0x7F, 0x09}));
    EXPECT_FALSE(isSystemReset(Bytes{}));
}

TEST(Chase, StartingAtZeroSendsNothingAndEventsAtTheStartArePlayed) {
    Track t;
    t.program(0, 0, 5).program(192, 0, 7).on(0, 0, 60).eot(192);
    const auto s = songOf(test::smf(0, 96, {t}));
    EXPECT_TRUE(makePlan(s, 0)->preroll.empty());
    const auto plan =
        makePlan(s, 8);  // exactly 1 s: the program change there is played, not chased
    EXPECT_EQ(plan->firstEvent, 1u);
    EXPECT_TRUE(has(chasedAt(*s, 8), {0xC0, 5, 0}));
}

// ------------------------------------------------------------------ clock

// Renders with no synthesizer until the play ends; returns frames rendered.
std::uint64_t runToEnd(Scheduler& sch, std::size_t chunk, std::uint64_t limit = 100'000'000) {
    std::uint64_t n = 0;
    while (sch.playing() && n < limit) {
        sch.render(nullptr, nullptr, chunk);
        n += chunk;
    }
    return n;
}

TEST(SchedulerClock, EventsGoOutWithinHalfABlockAcrossTempoChanges) {
    Track t;
    t.tempo(0, 500'000);
    for (int i = 0; i < 50; ++i) {
        t.on(static_cast<std::uint32_t>(7 + i * 3), 0, 60).off(11, 0, 60);
        if (i % 10 == 0) t.tempo(1, 300'000 + static_cast<std::uint32_t>(i) * 7919);
    }
    t.eot();
    const auto s = songOf(test::smf(1, 480, {t}));
    for (const std::size_t chunk :
         {std::size_t{1}, std::size_t{100}, std::size_t{441}, std::size_t{4096}}) {
        TimingProbe probe;
        Scheduler sch(nullptr);
        sch.setProbe(&probe);
        const auto plan = makePlan(s, 0);
        sch.start(*plan);
        runToEnd(sch, chunk);
        EXPECT_EQ(probe.events, s->events.size()) << "chunk " << chunk;
        EXPECT_LE(probe.worstFrames, static_cast<std::int64_t>(kBlockFrames / 2))
            << "chunk " << chunk;
    }
}

TEST(SchedulerClock, PlayEndsAtTheLastEventNotLater) {
    Track t;
    t.on(0, 0, 60).off(96, 0, 60).eot(96);  // ends at exactly 1 s = 44100 frames
    const auto s = songOf(test::smf(0, 96, {t}));
    const auto plan = makePlan(s, 0);
    Scheduler sch(nullptr);
    sch.start(*plan);
    const std::uint64_t n = runToEnd(sch, kBlockFrames);
    EXPECT_GE(n + kBlockFrames, 44100u);
    EXPECT_LE(n, 44100u + kBlockFrames);
    EXPECT_EQ(sch.songFrame(), 44100u);
}

TEST(SchedulerClock, StartsAtThePositionAndReportsProgress) {
    Track t;
    t.on(0, 0, 60).off(1920, 0, 60).eot();  // 10 s
    const auto s = songOf(test::smf(0, 96, {t}));
    const auto plan = makePlan(s, 40);  // 5 s
    Scheduler sch(nullptr);
    sch.start(*plan);
    EXPECT_EQ(sch.songFrame(), 5u * 44100u);
    sch.render(nullptr, nullptr, 44100);
    EXPECT_EQ(framesToUnits(sch.songFrame(), kSampleRate), 48u);
    const std::uint64_t rest = runToEnd(sch, 1000);
    EXPECT_NEAR(static_cast<double>(rest), 4.0 * 44100, 1000 + kBlockFrames);
}

TEST(SchedulerClock, ChasedStateIsSpreadOverBlocksAndTheSongWaitsForIt) {
    // Every channel with a program and a full set of controllers: a long chase.
    Track t;
    for (int ch = 0; ch < 16; ++ch) {
        t.program(0, ch, ch);
        for (int cc = 1; cc < 64; ++cc) {
            if (cc != 6 && cc != 32 && cc != 38) t.cc(0, ch, cc, 64);
        }
    }
    for (int i = 0; i < 20; ++i) t.on(48, i % 16, 60).off(48, i % 16, 60);
    t.eot();
    const auto s = songOf(test::smf(0, 96, {t}));
    const auto plan = makePlan(s, 2);  // from 0.25 s
    const std::size_t blocks = (plan->preroll.size() + kPrerollPerBlock - 1) / kPrerollPerBlock;
    ASSERT_GT(blocks, 3u);
    int err = 0;
    const auto synth = createSynth(LIRNO_TEST_SOUNDFONT, err);
    ASSERT_TRUE(synth);
    TimingProbe probe;
    Scheduler sch(synth->synth.get());
    sch.setProbe(&probe);
    sch.start(*plan);
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    std::size_t stood = 0;
    while (sch.songFrame() == plan->startFrame && stood < 100) {
        sch.render(l.data(), r.data(), kBlockFrames);
        ++stood;
    }
    // The song goes on in the block that sends the last of its chased state.
    EXPECT_EQ(stood, blocks);
    while (sch.playing()) sch.render(l.data(), r.data(), kBlockFrames);
    EXPECT_EQ(probe.events, s->events.size() - plan->firstEvent);
    EXPECT_LE(probe.worstFrames, static_cast<std::int64_t>(kBlockFrames / 2));
}

TEST(SchedulerClock, EmptySongEndsAtOnce) {
    const auto s = songOf(test::header(1, 0, 96));
    const auto plan = makePlan(s, 0);
    Scheduler sch(nullptr);
    sch.start(*plan);
    EXPECT_TRUE(sch.render(nullptr, nullptr, kBlockFrames));
    EXPECT_FALSE(sch.playing());
}

TEST(SchedulerClock, HaltStopsThePlay) {
    Track t;
    t.on(0, 0, 60).off(960, 0, 60).eot();
    const auto plan = makePlan(songOf(test::smf(0, 96, {t})), 0);
    Scheduler sch(nullptr);
    sch.start(*plan);
    sch.render(nullptr, nullptr, 1000);
    sch.halt();
    EXPECT_FALSE(sch.playing());
    EXPECT_FALSE(sch.render(nullptr, nullptr, 1000));
}

}  // namespace
}  // namespace lirno::device
