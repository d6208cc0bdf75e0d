// The recorded track: added empty, filled with what was played, or taken
// away again; saved like any other track.
#include <gtest/gtest.h>

#include "../support/recorder.h"
#include "mmio/bytes.h"
#include "mmio/loadsave.h"
#include "mmio/recordtrack.h"
#include "mmio/trackedit.h"

namespace lirno {
namespace {

using smf::Bytes;
using smf::Track;
using test::Recorder;

// File track i's chunk, header included.
Bytes chunkOf(const FileImage& image, int i) {
    const Bytes file = test::bytesOf(image);
    std::size_t pos = 14;
    for (int k = 0; k < i; ++k) pos += 8 + getdword(file.data() + pos + 4);
    const std::size_t end = pos + 8 + getdword(file.data() + pos + 4);
    return Bytes(file.begin() + long(pos), file.begin() + long(end));
}

Track piano(int channel, const char* name) {
    Track t;
    t.name(name).cc(0, channel, 7, 100).cc(0, channel, 10, 64).program(0, channel, 0);
    t.on(0, channel, 60).off(96, channel, 60).end();
    return t;
}

struct Song {
    FileImage image;
    MidiInfo info;
    explicit Song(const Bytes& bytes) : image(FileImage::fromBytes(bytes)) {
        EXPECT_EQ(readmidiinfo(image, info), 1);
    }
};

// The chunk an empty "Recorded 1" track on channel 1 is.
const Bytes kEmptyRecorded = {'M',  'T',  'r',  'k',  0,    0,    0,    29,   0x00, 0xFF,
                              0x03, 10,   'R',  'e',  'c',  'o',  'r',  'd',  'e',  'd',
                              ' ',  '1',  0x00, 0xC1, 0x00, 0x00, 0xB1, 0x07, 0x7F, 0x00,
                              0xB1, 0x0A, 0x40, 0x00, 0xFF, 0x2F, 0x00};

TEST(RecordTrack, AddsAnEmptyNamedPianoTrackThatTheAnalysisLeavesAsItIs) {
    Recorder rec;
    Song s(smf::file(0, 96, {piano(0, "Lead")}));
    EXPECT_EQ(recordChannel(s.info), 1);
    EXPECT_EQ(nextRecordedName(s.info), "Recorded 1");
    const Bytes before = test::bytesOf(s.image);

    ASSERT_EQ(addrecordtrack(s.image, s.info, "Recorded 1", 1), 1);
    const Bytes after = test::bytesOf(s.image);
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 14), smf::header(1, 2, 96));  // format 0 -> 1
    EXPECT_EQ(Bytes(after.begin() + 14, after.begin() + long(before.size())),
              Bytes(before.begin() + 14, before.end()));
    EXPECT_EQ(chunkOf(s.image, 1), kEmptyRecorded);
    EXPECT_EQ(after.size(), before.size() + kEmptyRecorded.size());
    ASSERT_EQ(s.info.nViewTracks, 2);
    EXPECT_EQ(s.info.trackIndex[1], 1);
    EXPECT_STREQ(gettrackname(s.info, 1), "Recorded 1");
    EXPECT_EQ(getinstr(s.info, 1), 0);
    EXPECT_EQ(getvol(s.info, 1), 127);
    EXPECT_EQ(getbal(s.info, 1), 64);
    EXPECT_EQ(nextRecordedName(s.info), "Recorded 2");

    // Format 1 stays 1; the drum channel is passed over; the names count on.
    Song m(smf::file(1, 96, {piano(0, "A"), piano(1, "Recorded 7"), piano(2, "Recorded x")}));
    EXPECT_EQ(addrecordtrack(m.image, m.info, nextRecordedName(m.info), recordChannel(m.info)), 3);
    EXPECT_EQ(Bytes(m.image.data(), m.image.data() + 14), smf::header(1, 4, 96));
    EXPECT_STREQ(gettrackname(m.info, 3), "Recorded 8");
    std::vector<Track> nine;
    for (int c = 0; c < 9; ++c) nine.push_back(piano(c, "T"));
    Song d(smf::file(1, 96, nine));
    EXPECT_EQ(recordChannel(d.info), 10);
    // A track on several channels may use any of them: the last one then.
    Track mixed;
    mixed.on(0, 0, 60).on(0, 1, 60).end();
    Song x(smf::file(0, 96, {mixed}));
    EXPECT_EQ(recordChannel(x.info), 15);
    EXPECT_TRUE(rec.messages.empty());
    // What the analysis said of a damaged song when it was read is not said again.
    Track damaged = piano(0, "Lead");
    damaged.raw({0x00, 0x90});  // bytes after the End of Track
    Song y(smf::file(1, 96, {damaged}));
    ASSERT_FALSE(rec.messages.empty());
    rec.messages.clear();
    EXPECT_EQ(addrecordtrack(y.image, y.info, "Recorded 1", 1), 1);
    EXPECT_TRUE(rec.messages.empty());
}

TEST(RecordTrack, NoTrackIsAddedToAFullSongOneOfFormat2OrOneNotAnalysed) {
    Recorder rec;
    std::vector<Track> tracks(kMaxTracks, piano(0, "T"));
    Song full(smf::file(1, 96, tracks));
    ASSERT_EQ(full.info.nTracks, kMaxTracks);
    const Bytes before = test::bytesOf(full.image);
    EXPECT_EQ(addrecordtrack(full.image, full.info, "Recorded 1", 15), -1);
    EXPECT_EQ(test::bytesOf(full.image), before);
    EXPECT_EQ(full.info.nTracks, kMaxTracks);

    // Its tracks play one after another: a recording would follow the song.
    Song two(smf::file(2, 96, {piano(0, "A"), piano(1, "B")}));
    const Bytes twoBefore = test::bytesOf(two.image);
    EXPECT_EQ(addrecordtrack(two.image, two.info, "Recorded 1", 2), -1);
    EXPECT_EQ(test::bytesOf(two.image), twoBefore);

    FileImage raw = FileImage::fromBytes(smf::file(0, 96, {piano(0, "Lead")}));
    MidiInfo none;
    EXPECT_EQ(addrecordtrack(raw, none, "Recorded 1", 1), -1);
    EXPECT_EQ(none.nTracks, 0);
}

TEST(RecordTrack, FillKeepsTheEditedLeadAndOtherTracksMuteAndDropRestoresTheImage) {
    Recorder rec;
    Song s(smf::file(0, 96, {piano(0, "Lead")}));
    const Bytes original = test::bytesOf(s.image);
    ASSERT_EQ(addrecordtrack(s.image, s.info, "Recorded 1", 1), 1);
    // The row: another instrument, volume and balance; the first track muted.
    ASSERT_EQ(settrack(s.image, 1, kEditProgram, 40), 1);
    ASSERT_EQ(settrack(s.image, 1, kEditVolume, 90), 1);
    ASSERT_EQ(settrack(s.image, 1, kEditBalance, 20), 1);
    ASSERT_EQ(settrack(s.image, 0, kEditNotes, 0), 1);
    const Bytes lead0 = chunkOf(s.image, 0);

    const device::RecordedEvent played[] = {
        {10, 0x91, 64, 100}, {200, 0x81, 64, 50}, {200, 0xD1, 30, 0}, {300, 0xB1, 64, 0}};
    ASSERT_EQ(fillrecordtrack(s.image, s.info, 1, played), 1);
    Bytes expected = kEmptyRecorded;
    expected[24] = 40, expected[28] = 90, expected[32] = 20;
    expected.resize(expected.size() - 4);
    // Deltas from the ticks; the Note-Off's velocity zeroed by the analysis.
    expected.insert(expected.end(), {10,   0x91, 64,  100,  0x81, 0x3E, 0x81, 64,   0,    0,
                                     0xD1, 30,   100, 0xB1, 64,   0,    0x00, 0xFF, 0x2F, 0x00});
    expected[7] = static_cast<std::uint8_t>(expected.size() - 8);
    EXPECT_EQ(chunkOf(s.image, 1), expected);
    EXPECT_EQ(chunkOf(s.image, 0), lead0);  // the muted Note-On keeps its velocity
    EXPECT_EQ(s.info.track[1].program, 40);
    EXPECT_EQ(s.info.nViewTracks, 2);
    EXPECT_EQ(fillrecordtrack(s.image, s.info, 0, played), 0);  // not the last track

    // Nothing played: the image as it was, byte for byte.
    Song e(smf::file(0, 96, {piano(0, "Lead")}));
    ASSERT_EQ(addrecordtrack(e.image, e.info, "Recorded 1", 1), 1);
    EXPECT_EQ(droprecordtrack(e.image, e.info, 0, 0), 0);
    ASSERT_EQ(droprecordtrack(e.image, e.info, 1, 0), 1);
    EXPECT_EQ(test::bytesOf(e.image), original);
    EXPECT_EQ(e.info.nTracks, 1);
    EXPECT_EQ(e.info.nViewTracks, 1);
    EXPECT_EQ(e.info.format, 0);
    EXPECT_TRUE(rec.messages.empty());
}

struct Names : RowSource {
    bool isOnEnabled(int) const override { return true; }
    bool isOnChecked(int) const override { return true; }
    std::string nameText(int n) const override { return n == 1 ? "Melody" : "Lead"; }
};

TEST(RecordTrack, SaveAsWritesTheFilledTrackAndItReadsBack) {
    Recorder rec;
    test::ScratchDir dir;
    Song s(smf::file(0, 96, {piano(0, "Lead")}));
    ASSERT_EQ(addrecordtrack(s.image, s.info, "Recorded 1", 1), 1);
    const device::RecordedEvent played[] = {{96, 0x91, 67, 90}, {192, 0x81, 67, 0}};
    ASSERT_EQ(fillrecordtrack(s.image, s.info, 1, played), 1);
    const std::string path = dir.file("saved.mid");
    ASSERT_EQ(writemidiinfo(path, s.image, s.info, Names{}), 1);

    ASSERT_EQ(readmidifile(path), 1);
    const MidiInfo& back = loaded.MidiInfo;
    EXPECT_EQ(back.format, 1);
    ASSERT_EQ(back.nViewTracks, 2);
    EXPECT_STREQ(gettrackname(back, 1), "Melody");
    EXPECT_EQ(back.track[1].channel, 1);
    const Bytes chunk = chunkOf(loaded.image, 1);
    const Bytes notes = {0x60, 0x91, 67, 90, 0x60, 0x81, 67, 0, 0x00, 0xFF, 0x2F, 0x00};
    EXPECT_TRUE(std::equal(notes.rbegin(), notes.rend(), chunk.rbegin()));
    EXPECT_TRUE(rec.messages.empty());
}

}  // namespace
}  // namespace lirno
