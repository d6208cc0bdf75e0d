// The rows' On and Solo logic and their edits, checked against the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "../support/recorder.h"
#include "ctrl/instruments.h"
#include "ctrl/trackrows.h"
#include "mmio/bytes.h"

namespace lirno {
namespace {

using smf::Bytes;
using smf::Track;

Track melodic(int channel, int program) {
    const auto c = static_cast<std::uint8_t>(channel);
    Track t;
    t.name("Track " + std::to_string(channel));
    t.ev(0, {static_cast<std::uint8_t>(0xC0 | c), static_cast<std::uint8_t>(program)});
    t.ev(0, {static_cast<std::uint8_t>(0x90 | c), 60, 100}).raw({0x10, 64, 90});
    t.ev(10, {static_cast<std::uint8_t>(0x80 | c), 60, 50})
        .ev(0, {static_cast<std::uint8_t>(0x80 | c), 64, 50});
    t.ev(0, {static_cast<std::uint8_t>(0xC0 | c), static_cast<std::uint8_t>(program + 1)});
    return std::move(t.end());
}

class Rows : public ::testing::Test {
  protected:
    void SetUp() override {
        Track drums;
        drums.name("Drums").ev(0, {0xC9, 0}).ev(0, {0x99, 36, 100}).ev(10, {0x89, 36, 0}).end();
        Track mixed;
        mixed.ev(0, {0x93, 60, 100}).ev(10, {0x84, 60, 0}).end();
        Track tempo;
        tempo.tempo(0, 500000).end();
        image = FileImage::fromBytes(
            smf::file(1, 96, {tempo, melodic(0, 10), drums, melodic(1, 20), mixed, melodic(2, 0)}));
        ASSERT_EQ(readmidiinfo(image, info), 1);
        audible = test::bytesOf(image);
        rows.fill();
        ASSERT_EQ(rows.count(), 5);
    }

    // Whether listed track r's notes are flipped in the image, found by
    // comparing its chunk with the audible and the flipped version.
    bool mutedInImage(int r) {
        FileImage flipped = FileImage::fromBytes(audible);
        settrack(flipped, info.trackIndex[std::size_t(r)], kEditNotes, 0);
        const Bytes now = test::bytesOf(image);
        const Bytes muted = test::bytesOf(flipped);
        const auto [start, end] = chunkRange(r);
        const bool isAudible =
            std::equal(now.begin() + start, now.begin() + end, audible.begin() + start);
        const bool isMuted =
            std::equal(now.begin() + start, now.begin() + end, muted.begin() + start);
        EXPECT_NE(isAudible, isMuted) << "row " << r << " is neither audible nor muted";
        return isMuted;
    }

    std::pair<long, long> chunkRange(int r) {
        long pos = 14;
        for (int k = 0; k < info.trackIndex[std::size_t(r)]; ++k)
            pos += 8 + getdword(audible.data() + pos + 4);
        return {pos, pos + 8 + long(getdword(audible.data() + pos + 4))};
    }

    void expectInvariant(const std::string& when) {
        for (int r = 0; r < rows.count(); ++r)
            EXPECT_EQ(mutedInImage(r), rows.row(r).muted()) << "row " << r << " after " << when;
    }

    test::Recorder rec;
    FileImage image;
    MidiInfo info;
    Bytes audible;
    int changes = 0;
    TrackRows rows{image, info, [this] { ++changes; }};
};

TEST_F(Rows, FreshRowsShowTheFile) {
    EXPECT_EQ(rows.row(0).name, "Track 0");
    EXPECT_EQ(rows.row(0).instrSel, 10);
    EXPECT_TRUE(rows.row(0).instrEnabled);
    EXPECT_TRUE(rows.row(1).instrSpecial);
    EXPECT_EQ(rows.row(1).instrEntry, "Standard Midi Drums");
    EXPECT_FALSE(rows.row(1).instrEnabled);
    EXPECT_EQ(rows.row(3).instrEntry, "Mixed Music");
    EXPECT_FALSE(rows.row(3).instrEnabled);
    EXPECT_EQ(rows.row(4).instrSel, 0);
    for (int r = 0; r < rows.count(); ++r) {
        EXPECT_TRUE(rows.row(r).onChecked);
        EXPECT_FALSE(rows.row(r).soloChecked);
        EXPECT_EQ(rows.row(r).vol, 127);
        EXPECT_EQ(rows.row(r).bal, 64);
    }
    expectInvariant("fill");
}

TEST_F(Rows, TwoClicksOnAnOnBoxRestoreTheImage) {
    rows.clickOn(2);
    EXPECT_FALSE(rows.row(2).onChecked);
    EXPECT_TRUE(mutedInImage(2));
    rows.clickOn(2);
    EXPECT_EQ(test::bytesOf(image), audible);
    EXPECT_EQ(changes, 2);
}

TEST_F(Rows, SoloStartsMovesAndEnds) {
    rows.clickOn(0);  // row 0 off before the solo
    rows.clickSolo(2);
    EXPECT_EQ(rows.soloRow(), 2);
    for (int r : {0, 1, 3, 4}) {
        EXPECT_FALSE(rows.row(r).onEnabled);
        EXPECT_FALSE(rows.row(r).nameEnabled);
        EXPECT_FALSE(rows.row(r).volEnabled);
        EXPECT_FALSE(rows.row(r).balEnabled);
        EXPECT_FALSE(rows.row(r).instrEnabled);
    }
    expectInvariant("solo on 2");

    rows.clickSolo(4);  // moves
    EXPECT_FALSE(rows.row(2).soloChecked);
    EXPECT_TRUE(rows.row(4).soloChecked);
    EXPECT_FALSE(rows.row(2).onEnabled);
    EXPECT_TRUE(rows.row(4).onEnabled);
    EXPECT_TRUE(rows.row(4).instrEnabled);
    expectInvariant("solo moved to 4");

    rows.clickSolo(4);  // ends
    EXPECT_EQ(rows.soloRow(), -1);
    for (int r = 0; r < rows.count(); ++r) EXPECT_TRUE(rows.row(r).onEnabled);
    EXPECT_FALSE(rows.row(1).instrEnabled);  // drums stay disabled
    EXPECT_FALSE(rows.row(3).instrEnabled);  // mixed stays disabled
    EXPECT_TRUE(mutedInImage(0));            // still off
    expectInvariant("solo ended");
    EXPECT_EQ(changes, 4);
}

TEST_F(Rows, SoloOnARowThatIsOffSilencesEverything) {
    rows.clickOn(1);
    rows.clickSolo(1);
    for (int r = 0; r < rows.count(); ++r) EXPECT_TRUE(mutedInImage(r)) << r;
}

TEST_F(Rows, TheMuteInvariantHoldsThroughAnyClicks) {
    std::mt19937 random(12345);
    for (int step = 0; step < 400; ++step) {
        const int r = static_cast<int>(random() % 5);
        if (random() % 2) {
            rows.clickSolo(r);
        } else if (rows.row(r).onEnabled) {
            rows.clickOn(r);
        }
        for (int k = 0; k < rows.count(); ++k) {
            ASSERT_EQ(mutedInImage(k), rows.row(k).muted()) << "step " << step << " row " << k;
            if (rows.row(k).instrSpecial) {
                ASSERT_FALSE(rows.row(k).instrEnabled);
            }
        }
        int solos = 0;
        for (int k = 0; k < rows.count(); ++k) solos += rows.row(k).soloChecked;
        ASSERT_LE(solos, 1);
    }
}

TEST_F(Rows, ChoosingAProgramRewritesEveryProgramChange) {
    rows.selectInstrument(0, 42);
    EXPECT_EQ(info.track[1].program, 42);
    EXPECT_EQ(rows.row(0).instrSel, 42);
    // Both program changes of the track now select 42.
    const auto [start, end] = chunkRange(0);
    const Bytes now = test::bytesOf(image);
    int found = 0;
    for (long i = start + 8; i + 1 < end; ++i) {
        if (now[std::size_t(i)] == 0xC0) {
            EXPECT_EQ(now[std::size_t(i + 1)], 42);
            ++found;
        }
    }
    EXPECT_EQ(found, 2);

    const Bytes before = test::bytesOf(image);
    rows.selectInstrument(0, 128);
    rows.selectInstrument(0, -1);
    EXPECT_EQ(test::bytesOf(image), before);
    EXPECT_EQ(changes, 1);
}

TEST_F(Rows, SlidersSetControllersAndTheRecord) {
    rows.endVolume(2, 33);
    rows.endBalance(2, 0);
    rows.endVolume(2, 200);  // ignored
    EXPECT_EQ(info.track[3].volume, 33);
    EXPECT_EQ(info.track[3].balance, 0);
    EXPECT_EQ(getvol(info, 2), 33);
    EXPECT_EQ(rows.row(2).vol, 33);
    EXPECT_EQ(changes, 2);
    // The inserted controllers at the track's start carry the values.
    const auto [start, end] = chunkRange(2);
    const Bytes now = test::bytesOf(image);
    EXPECT_EQ(Bytes(now.begin() + start + 8, now.begin() + start + 16),
              (Bytes{0x00, 0xB1, 0x0A, 0, 0x00, 0xB1, 0x07, 33}));
}

TEST_F(Rows, TypedNamesAreCutAndChangeNothingElse) {
    rows.typeName(0, std::string(300, 'q'));
    EXPECT_EQ(rows.row(0).name.size(), 255u);
    EXPECT_EQ(rows.nameText(0), std::string(255, 'q'));
    EXPECT_EQ(test::bytesOf(image), audible);
    EXPECT_EQ(changes, 0);
}

TEST_F(Rows, SavingReadsTheRowsAndTracksWithoutRowsKeepTheirNames) {
    rows.clickOn(0);
    rows.typeName(0, "Renamed");
    test::ScratchDir dir;
    ASSERT_EQ(writemidiinfo(dir.file("a.mid"), image, info, rows), 1);
    MidiInfo saved;
    FileImage savedImage = FileImage::fromBytes(test::readFile(dir.file("a.mid")));
    ASSERT_EQ(readmidiinfo(savedImage, saved), 1);
    EXPECT_STREQ(gettrackname(saved, 0), "Renamed");
    EXPECT_STREQ(gettrackname(saved, 4), "Track 2");

    TrackRows unbuilt(image, info, [] {});
    ASSERT_EQ(writemidiinfo(dir.file("b.mid"), image, info, unbuilt), 1);
    savedImage = FileImage::fromBytes(test::readFile(dir.file("b.mid")));
    ASSERT_EQ(readmidiinfo(savedImage, saved), 1);
    EXPECT_STREQ(gettrackname(saved, 0), "Track 0");
}

TEST(Instruments, NamesAndSpecialEntries) {
    EXPECT_STREQ(gmprogname[0], "Acoustic Grand Piano");
    EXPECT_STREQ(gmprogname[44], "Tremelo Strings");
    EXPECT_STREQ(gmprogname[111], "Shanai");
    EXPECT_STREQ(gmprogname[127], "Gunshot");
    for (int p = 0; p < 128; ++p) EXPECT_NE(gmprogname[std::size_t(p)], nullptr);
    EXPECT_EQ(gmprogname[128], nullptr);
    EXPECT_EQ(gmprogname[130], nullptr);

    EXPECT_FALSE(instrumentList(127).special);
    EXPECT_EQ(instrumentList(127).selection, 127);
    EXPECT_EQ(instrumentList(242).entry, "Standard Midi Drums");
    for (int code : {240, 241, 255}) EXPECT_EQ(instrumentList(code).entry, "Mixed Music");
}

}  // namespace
}  // namespace lirno
