// The song's own time: bars and beats along its meters, ticks and times
// along its tempo map; and which channels are drum parts.
#include <gtest/gtest.h>

#include "device/midi_writer.h"
#include "device/song/drum_parts.h"
#include "device/song/smf_reader.h"
#include "device/song/timing.h"

namespace lirno::device {
namespace {

using namespace test;

Track meter(Track t, std::uint32_t delta, int num, int denomPower) {
    return t.ev(delta, {midi::kMeta, midi::meta::kTimeSignature, 0x04, std::uint8_t(num),
                        std::uint8_t(denomPower), 24, 8});
}

// 96 ticks a quarter: two bars of 3/4 (288 ticks each), then 6/8 (beats of
// an eighth, 48 ticks) from tick 576, coming in from a second track; the
// tempo halves at tick 288.
Song meteredSong() {
    Track conductor = meter(Track{}, 0, 3, 2);
    conductor.tempo(288, 1'000'000).end(1000);
    Track notes = meter(Track{}, 576, 6, 3);
    notes.on(0, 0, 60).off(48, 0, 60).end();
    SmfResult r = readSmf(test::smf(1, 96, {conductor, notes}));
    EXPECT_EQ(r.error, SmfError::None);
    return r.song;
}

TEST(SongTiming, BarsAndBeatsFollowTheMetersOfEveryTrack) {
    const Song song = meteredSong();
    ASSERT_TRUE(song.timing);
    const SongTiming& t = *song.timing;
    EXPECT_EQ(t.barBeatOf(0), (BarBeat{1, 1}));
    EXPECT_EQ(t.barBeatOf(96 * 2), (BarBeat{1, 3}));
    EXPECT_EQ(t.barBeatOf(288), (BarBeat{2, 1}));
    EXPECT_EQ(t.barBeatOf(576 + 48 * 7), (BarBeat{4, 2}));  // 6/8 from bar 3
    for (std::uint64_t tick : {0, 96, 288, 480, 576, 624, 912}) {
        EXPECT_EQ(t.tickOf(t.barBeatOf(tick)), tick) << tick;
    }
    EXPECT_EQ(t.tickOf({3, 6}), 576u + 5 * 48);
    EXPECT_FALSE(t.tickOf({3, 7}));  // 6/8 has six beats
    EXPECT_FALSE(t.tickOf({0, 1}));
    // The nearest beat, a tie going to the later one; never across a meter.
    EXPECT_EQ(t.nearestBeat(47), 0u);
    EXPECT_EQ(t.nearestBeat(48), 96u);
    EXPECT_EQ(t.nearestBeat(600), 624u);
    EXPECT_EQ(t.nearestBeat(599), 576u);
}

TEST(SongTiming, TicksMeetTheReadersTimesBothWays) {
    const Song song = meteredSong();
    const SongTiming& t = *song.timing;
    // The note at tick 576 and its end at 624, timed by the reader: 288 ticks
    // at 500 ms a quarter, then 288 and 336 at 1 s.
    ASSERT_EQ(song.events.size(), 2u);
    EXPECT_EQ(song.events[0].timeNs, t.tickToNs(576));
    EXPECT_EQ(song.events[1].timeNs, t.tickToNs(624));
    EXPECT_EQ(t.tickToNs(576), 1'500'000'000 + 3'000'000'000LL);
    for (std::uint64_t tick : {0, 1, 287, 288, 289, 577, 100'000}) {
        EXPECT_EQ(t.nsToTick(t.tickToNs(tick)), tick) << tick;
        EXPECT_EQ(t.nsToTick(t.tickToNs(tick) - 1), tick == 0 ? 0 : tick - 1) << tick;
    }
}

TEST(SongTiming, BarBeatTexts) {
    EXPECT_EQ(parseBarBeat("9:3"), (BarBeat{9, 3}));
    EXPECT_EQ(parseBarBeat("12"), (BarBeat{12, 1}));
    for (const char* bad : {"", "0", "9:0", "9:", ":2", "x", "9:2:1", "-1", "9.5"}) {
        EXPECT_FALSE(parseBarBeat(bad)) << bad;
    }
    EXPECT_EQ(formatBarBeat({9, 3}), "9:3");
}

TEST(DrumParts, ChannelTenAlwaysOthersByGsAndXgMessagesUntilAReset) {
    DrumParts d;
    EXPECT_EQ(d.mask(), 1u << 9);
    // GS: part 3 (channel 3, counted from 1) as a rhythm part, then back.
    d.seeSysex(Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x13, 0x15, 0x01, 0x17});
    EXPECT_TRUE(d.isDrum(2));
    d.seeSysex(Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x13, 0x15, 0x00, 0x18});
    EXPECT_FALSE(d.isDrum(2));
    // Channel 10 cannot be made melodic.
    d.seeSysex(Bytes{0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x00, 0x1B});
    EXPECT_TRUE(d.isDrum(9));
    // A drum bank only counts in XG mode; XG's part mode too; GM On resets.
    d.seeControl(4, midi::cc::kBankMsb, 127);
    EXPECT_FALSE(d.isDrum(4));
    d.seeSysex(Bytes{0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00});
    d.seeControl(4, midi::cc::kBankMsb, 127);
    d.seeSysex(Bytes{0x43, 0x10, 0x4C, 0x08, 0x0B, 0x07, 0x02});
    EXPECT_TRUE(d.isDrum(4));
    EXPECT_TRUE(d.isDrum(11));
    d.seeControl(4, midi::cc::kBankMsb, 0);
    EXPECT_FALSE(d.isDrum(4));
    d.seeSysex(Bytes{0x7E, 0x7F, 0x09, 0x01});
    EXPECT_EQ(d.mask(), 1u << 9);
    d.seeControl(4, midi::cc::kBankMsb, 127);  // out of XG mode again
    EXPECT_FALSE(d.isDrum(4));
}

}  // namespace
}  // namespace lirno::device
