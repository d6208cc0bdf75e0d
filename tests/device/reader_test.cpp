// The playback reader: timing along tempo maps and divisions, and how it
// copes with damaged files.
#include <gtest/gtest.h>

#include "device/song/smf_reader.h"
#include "midi_writer.h"

namespace lirno::device {
namespace {

using test::Bytes;
using test::Track;
using test::operator+;

constexpr std::int64_t kMs = 1'000'000;

Song read(const Bytes& b) {
    SmfResult r = readSmf(b);
    EXPECT_EQ(r.error, SmfError::None);
    return std::move(r.song);
}

std::vector<std::int64_t> noteOnTimes(const Song& s) {
    std::vector<std::int64_t> t;
    for (const SongEvent& e : s.events) {
        if ((e.status & 0xF0) == 0x90 && e.data2 > 0) t.push_back(e.timeNs);
    }
    return t;
}

// ------------------------------------------------------------------ timing

TEST(ReaderTiming, DefaultTempoAndMultiByteDeltas) {
    // 96 ticks per quarter at 120 bpm: one tick is 5208333 ns; 200 ticks needs a two-byte VLQ.
    Track t;
    t.on(96, 0, 60).off(200, 0, 60).eot();
    const Song s = read(test::smf(0, 96, {t}));
    ASSERT_EQ(s.events.size(), 2u);
    EXPECT_EQ(s.events[0].timeNs, 500 * kMs);
    EXPECT_NEAR(static_cast<double>(s.events[1].timeNs), 296.0 / 96 * 0.5e9, 1.0);
}

TEST(ReaderTiming, TempoChangesOnAnyTrackShapeEveryTrack) {
    // The tempo lives on track 2 (not the usual first track): 120 bpm, then 60 bpm from beat 1.
    Track conductor, notes, tempoTrack;
    conductor.eot();
    notes.on(96, 0, 60).on(96, 0, 62).on(96, 0, 64).eot();
    tempoTrack.tempo(96, 1'000'000).eot();
    const Song s = read(test::smf(1, 96, {conductor, notes, tempoTrack}));
    EXPECT_EQ(noteOnTimes(s), (std::vector<std::int64_t>{500 * kMs, 1500 * kMs, 2500 * kMs}));
    EXPECT_EQ(s.endNs, 2500 * kMs);
    EXPECT_EQ(s.lengthUnits(), 20u);
}

TEST(ReaderTiming, EqualTimesKeepTrackOrder) {
    Track a, b;
    a.program(10, 0, 5).eot();
    b.on(10, 0, 60).eot();
    const Song s = read(test::smf(1, 96, {a, b}));
    ASSERT_EQ(s.events.size(), 2u);
    EXPECT_EQ(s.events[0].status, 0xC0);
    EXPECT_EQ(s.events[1].status, 0x90);
}

TEST(ReaderTiming, ManyTracksMergeInTimeThenTrackOrder) {
    // Few tracks and very many tracks are merged by different means.
    for (const int count : {12, 150}) {
        std::vector<Track> tracks(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            Track& t = tracks[static_cast<std::size_t>(i)];
            for (int k = 0; k < 6; ++k) {
                t.cc(static_cast<std::uint32_t>((i * 7 + k * 13) % 5), i % 16, 20, i % 128);
            }
            if (i == count / 2) t.tempo(0, 250'000);
            t.eot(static_cast<std::uint32_t>(i % 3));
        }
        const Song s = read(test::smf(1, 96, tracks));
        ASSERT_EQ(s.events.size(), static_cast<std::size_t>(count) * 6) << count;
        for (std::size_t i = 1; i < s.events.size(); ++i) {
            const SongEvent& a = s.events[i - 1];
            const SongEvent& b = s.events[i];
            ASSERT_TRUE(a.timeNs < b.timeNs || (a.timeNs == b.timeNs && a.track <= b.track))
                << count << " tracks, event " << i;
        }
    }
}

TEST(ReaderTiming, SmpteDivisionIgnoresTempo) {
    // 25 fps x 40 ticks per frame = 1000 ticks per second.
    Track t;
    t.tempo(0, 1'000'000).on(500, 0, 60).eot(1500);
    const auto div = static_cast<std::uint16_t>((static_cast<std::uint8_t>(-25) << 8) | 40);
    const Song s = read(test::smf(0, div, {t}));
    EXPECT_EQ(noteOnTimes(s), std::vector<std::int64_t>{500 * kMs});
    EXPECT_EQ(s.endNs, 2000 * kMs);
    EXPECT_EQ(s.lengthUnits(), 16u);
}

TEST(ReaderTiming, Smpte29MeansDropFrame2997) {
    // 30000/1001 frames per second: 30000 frames last 1001 s, not 1000.
    Track t;
    t.on(30000, 0, 60).eot();
    const auto div = static_cast<std::uint16_t>((static_cast<std::uint8_t>(-29) << 8) | 1);
    const Song s = read(test::smf(0, div, {t}));
    EXPECT_NEAR(static_cast<double>(s.endNs), 1001.0 * 1e9, 1e3);
}

TEST(ReaderTiming, Format2PlaysSequencesOneAfterAnother) {
    Track first, second;
    first.on(0, 0, 60).off(192, 0, 60).eot();  // 1 s
    second.on(0, 0, 64).off(96, 0, 64).eot();  // 0.5 s
    const Song s = read(test::smf(2, 96, {first, second}));
    EXPECT_EQ(noteOnTimes(s), (std::vector<std::int64_t>{0, 1000 * kMs}));
    EXPECT_EQ(s.endNs, 1500 * kMs);
}

TEST(ReaderTiming, Format2SequenceKeepsTheTempoLeftBefore) {
    Track first, second;
    first.tempo(0, 250'000).eot(96);  // 0.25 s
    second.on(96, 0, 60).eot();       // one beat at the tempo left in force
    const Song s = read(test::smf(2, 96, {first, second}));
    EXPECT_EQ(noteOnTimes(s), std::vector<std::int64_t>{500 * kMs});
}

TEST(ReaderTiming, TimesNeverGoBackwardsFarIntoASong) {
    // Months into a song, rounding across a tempo change once put an event a
    // few ns before one at the same tick (found by fuzzing). Both the
    // side-by-side and the one-after-another readings are checked.
    for (const int format : {1, 2}) {
        Track first, t;
        for (int i = 0; i < 12; ++i) first.ev(0x0FFFFFFF, {0xA0, 1, 1});
        for (std::uint32_t i = 0; i < 2000; ++i) {
            t.ev(0x1FFFFF + i * 7, {0xA0, 2, 2}).tempo(0, 100'003 + i * 7'919 % 900'000);
            t.ev(0, {0xA0, 3, 3});
        }
        const Song s = read(test::smf(format, 95, {first, t}));
        for (std::size_t i = 1; i < s.events.size(); ++i) {
            ASSERT_LE(s.events[i - 1].timeNs, s.events[i].timeNs)
                << "format " << format << " event " << i;
        }
    }
}

TEST(ReaderTiming, LengthIsTheLongestTrackRoundedUp) {
    Track shortT, longT;
    shortT.on(0, 0, 60).eot(96);
    // Ends one tick past 1 s: 1.0052 s is 8.04 units, reported as 9.
    longT.eot(193);
    EXPECT_EQ(read(test::smf(1, 96, {shortT, longT})).lengthUnits(), 9u);
    Track exact;
    exact.eot(192);
    EXPECT_EQ(read(test::smf(1, 96, {exact})).lengthUnits(), 8u);
}

TEST(ReaderTiming, EndOfTrackLaterThanTheLastNoteCounts) {
    Track t;
    t.on(0, 0, 60).off(96, 0, 60).eot(384);
    EXPECT_EQ(read(test::smf(0, 96, {t})).endNs, 2500 * kMs);
}

// ------------------------------------------------------------------ messages

TEST(ReaderMessages, RunningStatusCarriesAcrossMetaAndSysex) {
    Track t;
    t.on(0, 3, 60).text(10, "lyric").ev(10, {62, 90});  // running note-on after a meta
    t.sysex(10, 0xF0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).ev(10, {64, 80}).eot();
    const Song s = read(test::smf(0, 96, {t}));
    std::vector<int> keys;
    for (const SongEvent& e : s.events) {
        if (e.status == 0x93) keys.push_back(e.data1);
    }
    EXPECT_EQ(keys, (std::vector<int>{60, 62, 64}));
}

TEST(ReaderMessages, SysexPayloadsWithoutFramingBytes) {
    Track t;
    t.sysex(0, 0xF0, {0x41, 0x10, 0x42, 0xF7});
    t.sysex(0, 0xF7, {0xF0, 0x43, 0x10, 0xF7});  // a whole message sent as an escape
    t.sysex(0, 0xF7, {0x01, 0x02});              // a continuation alone: nothing to play
    t.eot();
    const Song s = read(test::smf(0, 96, {t}));
    ASSERT_EQ(s.events.size(), 2u);
    const auto a = s.sysexBytes(s.events[0]);
    const auto b = s.sysexBytes(s.events[1]);
    EXPECT_EQ(Bytes(a.begin(), a.end()), (Bytes{0x41, 0x10, 0x42}));
    EXPECT_EQ(Bytes(b.begin(), b.end()), (Bytes{0x43, 0x10}));
}

TEST(ReaderMessages, IllegalSystemBytesAreSkippedWithTheirData) {
    Track t;
    t.ev(0, {0xF1, 0x12}).ev(0, {0xF4}).ev(0, {0xFE}).ev(0, {0xF2, 0x01, 0x02});
    t.on(96, 0, 60).off(96, 0, 60).eot();
    const Song s = read(test::smf(0, 96, {t}));
    EXPECT_EQ(noteOnTimes(s), std::vector<std::int64_t>{500 * kMs});
    EXPECT_EQ(s.events.size(), 2u);
}

TEST(ReaderMessages, DataBytesAreMaskedToSevenBits) {
    // A stray high bit in a data byte must not reach the synthesizer.
    Track t;
    t.ev(0, {0x9F, 60, 100}).ev(0, {0xBF, 7, 100}).eot();
    const Song s = read(test::smf(0, 96, {t}));
    ASSERT_EQ(s.events.size(), 2u);
    EXPECT_EQ(s.events[0].status & 0x0F, 15);
    // Velocity byte 0xE4 where a data byte belongs.
    const Bytes raw = test::header(0, 1, 96) +
                      test::chunk("MTrk", Bytes{0x00, 0x90, 0x3C, 0xE4, 0x00, 0xFF, 0x2F, 0x00});
    const Song s2 = read(raw);
    ASSERT_EQ(s2.events.size(), 1u);
    EXPECT_EQ(s2.events[0].data2, 0x64);
}

// ------------------------------------------------------------------ damage

TEST(ReaderDamage, RefusesFilesWithoutUsableHeader) {
    EXPECT_EQ(readSmf(Bytes{}).error, SmfError::NoHeader);
    const std::string text = "not a midi file";
    EXPECT_EQ(readSmf(Bytes(text.begin(), text.end())).error, SmfError::NoHeader);
    EXPECT_EQ(readSmf(Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}).error, SmfError::ShortHeader);
    EXPECT_EQ(readSmf(test::chunk("MThd", Bytes{0, 0, 0, 1})).error, SmfError::ShortHeader);
    EXPECT_EQ(readSmf(test::header(0, 1, 0)).error, SmfError::BadDivision);
}

TEST(ReaderDamage, ZeroTracksIsAnEmptySong) {
    const SmfResult r = readSmf(test::header(1, 0, 96));
    EXPECT_EQ(r.error, SmfError::None);
    EXPECT_EQ(r.song.tracks, 0);
    EXPECT_EQ(r.song.lengthUnits(), 0u);
}

TEST(ReaderDamage, MissingEndOfTrackEndsAtTheLastEvent) {
    Track t;
    t.on(0, 0, 60).off(192, 0, 60);
    const Song s = read(test::smf(0, 96, {t}));
    EXPECT_EQ(s.events.size(), 2u);
    EXPECT_EQ(s.endNs, 1000 * kMs);
}

TEST(ReaderDamage, TruncatedLastTrackPlaysUpToTheCut) {
    Track a, b;
    a.on(0, 0, 60).off(96, 0, 60).eot();
    b.on(96, 1, 60).on(96, 1, 62).off(96, 1, 62).eot();
    Bytes file = test::smf(1, 96, {a, b});
    file.resize(file.size() - 6);  // cuts into the last note-off
    const Song s = read(file);
    EXPECT_EQ(noteOnTimes(s), (std::vector<std::int64_t>{0, 500 * kMs, 1000 * kMs}));
    EXPECT_EQ(s.endNs, 1000 * kMs);
}

TEST(ReaderDamage, ChunkLengthPastTheEndIsClamped) {
    Track t;
    t.on(0, 0, 60).off(96, 0, 60).eot();
    Bytes body = t.bytes();
    Bytes file = test::header(0, 1, 96) + Bytes{'M', 'T', 'r', 'k', 0x7F, 0xFF, 0xFF, 0xFF} + body;
    const Song s = read(file);
    EXPECT_EQ(s.events.size(), 2u);
    EXPECT_EQ(s.endNs, 500 * kMs);
}

TEST(ReaderDamage, OverlongTrackLengthDoesNotHideTheNextTrack) {
    Track a, b;
    a.on(0, 0, 60).eot(96);
    b.on(0, 1, 60).eot(192);
    const Bytes second = test::chunk("MTrk", b.bytes());
    Bytes file =
        test::header(1, 2, 96) + Bytes{'M', 'T', 'r', 'k', 0x01, 0, 0, 0} + a.bytes() + second;
    const Song s = read(file);
    EXPECT_EQ(s.tracks, 2);
    EXPECT_EQ(s.endNs, 1000 * kMs);
}

TEST(ReaderDamage, UnknownChunksAreSkipped) {
    Track a;
    a.on(0, 0, 60).eot(96);
    const Bytes file = test::header(1, 1, 96) + test::chunk("Junk", Bytes(37, 0x90)) +
                       test::chunk("MTrk", a.bytes()) + test::chunk("XFIH", Bytes{1, 2, 3});
    const Song s = read(file);
    EXPECT_EQ(s.tracks, 1);
    EXPECT_EQ(s.events.size(), 1u);
}

TEST(ReaderDamage, ShortTrackLengthResynchronisesOnTheNextTrack) {
    Track a, b;
    a.on(0, 0, 60).off(96, 0, 60).eot();
    b.on(0, 1, 72).eot(288);
    Bytes file =
        test::header(1, 2, 96) + test::chunk("MTrk", a.bytes()) + test::chunk("MTrk", b.bytes());
    file[14 + 7] -= 2;  // the first track claims two bytes fewer than it has
    const Song s = read(file);
    EXPECT_EQ(s.tracks, 2);
    EXPECT_EQ(s.endNs, 1500 * kMs);
}

TEST(ReaderDamage, WrongHeaderLengthWithTrackRightBehind) {
    Track a;
    a.on(0, 0, 60).eot(96);
    Bytes file = test::smf(0, 96, {a});
    file[7] = 0x16;
    EXPECT_EQ(read(file).events.size(), 1u);
}

TEST(ReaderDamage, RmidWrapperIsOpened) {
    Track a;
    a.on(0, 0, 60).eot(96);
    const Bytes inner = test::smf(0, 96, {a});
    Bytes riff{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'};
    const auto n = static_cast<std::uint32_t>(inner.size());
    for (int s = 0; s < 32; s += 8) riff.push_back(static_cast<std::uint8_t>(n >> s));
    EXPECT_EQ(read(riff + inner).events.size(), 1u);
}

TEST(ReaderDamage, EveryPrefixOfAFileReadsWithoutOverrun) {
    // Under the sanitizer build this also proves no byte outside the buffer is read.
    Track a, b;
    a.tempo(0, 400'000).sysex(10, 0xF0, {0x43, 0x10, 0x4C, 0, 0, 0x7E, 0, 0xF7}).text(5, "x").eot();
    b.program(0, 2, 5).on(3, 2, 60).ev(200, {61, 0}).cc(5, 2, 7, 90).eot(300);
    const Bytes full = test::smf(1, 96, {a, b});
    std::size_t lastEvents = 0;
    for (std::size_t n = 0; n <= full.size(); ++n) {
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        const SmfResult r = readSmf(cut);
        if (r.error != SmfError::None) continue;
        EXPECT_GE(r.song.events.size(), lastEvents) << "prefix " << n;
        lastEvents = r.song.events.size();
    }
    EXPECT_EQ(lastEvents, 5u);  // sysex, program, two notes, controller
}

TEST(ReaderDamage, HugeDeltaTimesAreClamped) {
    Track t;
    for (int i = 0; i < 40; ++i) t.ev(0x0FFFFFFF, {0x90, 60, 1});
    t.tempo(0, 0xFFFFFF).eot(0x0FFFFFFF);
    const auto div = static_cast<std::uint16_t>(1);
    const Song s = read(test::smf(0, div, {t}));
    EXPECT_LE(s.endNs, kMaxSongNs);
    EXPECT_EQ(s.lengthUnits(), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace lirno::device
