// The analysis of a loaded file: what it records, lists and normalises.
#include <gtest/gtest.h>

#include <cstring>
#include "../support/recorder.h"

#include "mmio/bytes.h"
#include "mmio/midiinfo.h"

namespace lirno {
namespace {

using smf::Bytes;
using smf::Track;
using test::Recorder;

struct Analysed {
    FileImage image;
    MidiInfo info;
    int result = 0;
    Bytes bytes() const { return test::bytesOf(image); }
};

Analysed analyse(const Bytes& file) {
    Analysed a;
    a.image = FileImage::fromBytes(file);
    a.result = readmidiinfo(a.image, a.info);
    return a;
}

// A track's data in the analysed image (file track i).
Bytes trackData(const Analysed& a, int i) {
    std::size_t pos = 14;
    for (int k = 0; k < i; ++k) pos += 8 + getdword(a.image.data() + pos + 4);
    const std::uint32_t len = getdword(a.image.data() + pos + 4);
    return Bytes(a.image.data() + pos + 8, a.image.data() + pos + 8 + len);
}

Track notes(int channel) {
    const auto on = static_cast<std::uint8_t>(0x90 | channel);
    const auto off = static_cast<std::uint8_t>(0x80 | channel);
    return std::move(Track().ev(0, {on, 60, 100}).ev(96, {off, 60, 64}).end());
}

TEST(Analysis, HeaderChecks) {
    Recorder rec;
    Bytes f = smf::file(2, 96, {notes(0)});
    Analysed a = analyse(f);
    EXPECT_EQ(a.result, 1);
    EXPECT_STREQ(getmidiformat(a.info), "Multitrack asynch-midi");
    EXPECT_EQ(getticks(a.info), 96);

    f[9] = 3;  // format 3
    EXPECT_EQ(analyse(f).result, 0);
    f[9] = 0;
    f[7] = 7;  // header length
    EXPECT_EQ(analyse(f).result, 0);
    f[7] = 6;
    f[0] = 'X';
    EXPECT_EQ(analyse(f).result, 0);
    EXPECT_EQ(analyse(Bytes(f.begin(), f.begin() + 13)).result, 0);  // shorter than a header
    EXPECT_TRUE(rec.messages.empty());
}

TEST(Analysis, AtMostAHundredTracks) {
    Recorder rec;
    std::vector<Track> tracks(100, notes(0));
    Analysed a = analyse(smf::file(1, 96, tracks));
    EXPECT_EQ(a.result, 1);
    EXPECT_EQ(getnumtracks(a.info), 100);
    EXPECT_TRUE(rec.messages.empty());

    tracks.push_back(notes(0));
    a = analyse(smf::file(1, 96, tracks));
    EXPECT_EQ(a.result, 0);
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_EQ(rec.messages[0].text, "Sorry: 101 tracks > 100 (Maximum in this version)");
    EXPECT_EQ(rec.messages[0].caption, "");
    EXPECT_EQ(rec.messages[0].owner, Owner::Main);
    EXPECT_EQ(rec.messages[0].icon, Icon::Exclamation);
    EXPECT_EQ(a.info.nTracks, 101);
    EXPECT_EQ(a.info.nViewTracks, 0);
    EXPECT_EQ(a.info.track[0].size, 0u);  // nothing recorded
}

TEST(Analysis, ZeroTracksSucceedWithNothingListed) {
    Recorder rec;
    Analysed a = analyse(smf::file(1, 96, {}));
    EXPECT_EQ(a.result, 1);
    EXPECT_EQ(getnumtracks(a.info), 0);
    EXPECT_EQ(a.image.dwFileBufSize, 14u);
}

TEST(Analysis, MissingPanAndVolumeAreInsertedForOneChannelTracks) {
    Recorder rec;
    const Bytes f = smf::file(1, 96, {notes(2)});
    Analysed a = analyse(f);
    ASSERT_EQ(a.result, 1);
    const Bytes data = trackData(a, 0);
    const Bytes head(data.begin(), data.begin() + 8);
    EXPECT_EQ(head, (Bytes{0x00, 0xB2, 0x0A, 0x40, 0x00, 0xB2, 0x07, 0x7F}));
    EXPECT_EQ(a.info.track[0].size, notes(2).data.size() + 8);
    EXPECT_EQ(a.image.dwFileBufSize, f.size() + 8);
    EXPECT_EQ(getvol(a.info, 0), 127);
    EXPECT_EQ(getbal(a.info, 0), 64);
    EXPECT_EQ(a.info.track[0].volume, NOT_SEEN);  // the record keeps what the file held

    Track withPan;
    withPan.ev(0, {0xB3, 0x0A, 0x20}).raw(notes(3).data);
    a = analyse(smf::file(1, 96, {withPan}));
    const Bytes d2 = trackData(a, 0);
    EXPECT_EQ(Bytes(d2.begin(), d2.begin() + 4), (Bytes{0x00, 0xB3, 0x07, 0x7F}));
    EXPECT_EQ(Bytes(d2.begin() + 4, d2.begin() + 8), (Bytes{0x00, 0xB3, 0x0A, 0x20}));
    EXPECT_EQ(getbal(a.info, 0), 0x20);
}

TEST(Analysis, ChannelsDecideListingAndInstrument) {
    Recorder rec;
    Track mixed;
    mixed.ev(0, {0xC0, 5}).ev(0, {0x91, 60, 100}).ev(10, {0x81, 60, 0}).end();
    Track drums;
    drums.ev(0, {0xC9, 16}).raw(notes(9).data);
    Track noProgram = notes(4);
    Track controllersOnly;
    controllersOnly.tempo(0, 500000).ev(0, {0xB5, 7, 100}).ev(0, {0xE5, 0, 64}).end();
    Track program0;
    program0.ev(0, {0xC6, 0}).ev(0, {0x96, 60, 1}).ev(0, {0xC6, 9}).end();
    Track program127;
    program127.ev(0, {0xC7, 127}).end();
    Track badProgram;
    badProgram.ev(0, {0xC8, 0x85}).ev(0, {0xB8, 7, 1}).end();  // a data byte with bit 7 set

    const Bytes f = smf::file(
        1, 96, {mixed, drums, noProgram, controllersOnly, program0, program127, badProgram});
    Analysed a = analyse(f);
    ASSERT_EQ(a.result, 1);
    ASSERT_EQ(getnumtracks(a.info), 6);
    EXPECT_EQ(a.info.trackIndex[3], 4);  // the controller-only track is not listed
    EXPECT_EQ(a.info.track[0].channel, MIXED);
    EXPECT_EQ(getinstr(a.info, 0), 255);
    EXPECT_EQ(a.info.track[0].size, mixed.data.size());  // several channels gain nothing
    EXPECT_EQ(getinstr(a.info, 1), 242);
    EXPECT_EQ(getinstr(a.info, 2), 241);
    EXPECT_EQ(a.info.track[3].channel, NOT_SEEN);
    EXPECT_EQ(a.info.track[3].size, controllersOnly.data.size());
    EXPECT_EQ(getinstr(a.info, 3), 0);  // the first program counts
    EXPECT_EQ(getinstr(a.info, 4), 127);
    EXPECT_EQ(getinstr(a.info, 5), 240);
}

TEST(Analysis, ControllerValuesAndNames) {
    Recorder rec;
    Track same;
    same.name("First")
        .ev(0, {0xB0, 7, 100})
        .ev(0, {0xB1, 7, 100})
        .name("Second")
        .raw(notes(0).data);
    Track differ;
    differ.ev(0, {0xB0, 7, 100}).ev(0, {0xB0, 7, 90}).ev(0, {0xB0, 10, 3}).ev(0, {0xB0, 10, 4});
    differ.raw(notes(0).data);
    Analysed a = analyse(smf::file(1, 96, {same, differ}));
    ASSERT_EQ(a.result, 1);
    EXPECT_EQ(a.info.track[0].volume, 100);  // controllers count whatever their channel
    EXPECT_EQ(getvol(a.info, 0), 100);
    EXPECT_STREQ(gettrackname(a.info, 0), "Second");
    EXPECT_EQ(a.info.track[1].volume, MIXED);
    EXPECT_EQ(getvol(a.info, 1), 127);
    EXPECT_EQ(getbal(a.info, 1), 64);
    EXPECT_STREQ(gettrackname(a.info, 1), "");
}

TEST(Analysis, NoteOffVelocitiesAreZeroed) {
    Recorder rec;
    Track t;
    t.ev(0, {0x80, 0x3C, 0x40})
        .raw({0x00, 0x3E, 0x41})  // a Note-Off, then one under running status
        .ev(0, {0x90, 0x3C, 0x00})
        .ev(0, {0x90, 0x3C, 0x50})
        .end();
    Analysed a = analyse(smf::file(0, 96, {t}));
    const Bytes d = trackData(a, 0);
    const Bytes events(d.begin() + 8, d.end());
    EXPECT_EQ(events, (Bytes{0x00, 0x80, 0x3C, 0x00, 0x00, 0x3E, 0x00, 0x00, 0x90, 0x3C, 0x00, 0x00,
                             0x90, 0x3C, 0x50, 0x00, 0xFF, 0x2F, 0x00}));
}

TEST(Analysis, DamagedTracksAreReportedAndTheRestAnalysed) {
    Recorder rec;
    Track trailing = notes(0);
    trailing.raw({0x00, 0x90});  // bytes after the End of Track
    Track illegal;
    illegal.ev(0, {0x91, 60, 100}).ev(0, {0xF4}).ev(0, {0xC1, 9}).end();
    Track fine;
    fine.ev(0, {0xC2, 7}).end();
    Analysed a = analyse(smf::file(1, 96, {trailing, illegal, fine}));
    EXPECT_EQ(a.result, 1);
    // The failing event starts at its delta time: header, first chunk, chunk header, 4 bytes.
    const std::size_t at = 14 + 8 + trailing.data.size() + 8 + 4;
    char expected[64];
    std::snprintf(expected, sizeof expected, "Track 1 Error Pos %04zX\n00F400C1", at);
    EXPECT_EQ(rec.texts(), (std::vector<std::string>{"Ptr error", expected, "Ptr error"}));
    EXPECT_EQ(rec.messages[1].caption, "Test");
    EXPECT_EQ(rec.messages[1].icon, Icon::Exclamation);
    ASSERT_EQ(getnumtracks(a.info), 3);
    EXPECT_EQ(a.info.track[1].program, NOT_SEEN);  // events after the error are not examined
    EXPECT_EQ(a.info.track[1].channel, 1);
    EXPECT_EQ(getinstr(a.info, 2), 7);
}

TEST(Analysis, AnErrorAtTheImagesEndShowsZeros) {
    Recorder rec;
    Bytes f = smf::file(0, 96, {});
    f[11] = 1;
    smf::putChunk(f, "MTrk", {0x00, 0xF5});  // ends right after the bad status
    analyse(f);
    ASSERT_FALSE(rec.messages.empty());
    EXPECT_EQ(rec.messages[0].text, "Track 0 Error Pos 0016\n00F50000");
}

TEST(Analysis, ChunksThatAreNotTracksOrRunPastTheImageEndTheAnalysis) {
    Recorder rec;
    Bytes f = smf::file(1, 96, {notes(0), notes(1)});
    const std::size_t second = 14 + 8 + notes(0).data.size();
    Bytes other = f;
    std::memcpy(other.data() + second, "XTrk", 4);
    Analysed a = analyse(other);
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(a.info.track[0].channel, 0);  // the track before it is recorded
    EXPECT_EQ(a.info.nViewTracks, 1);
    EXPECT_EQ(a.image.dwFileBufSize, other.size());  // unchanged
    EXPECT_EQ(a.image.data()[14 + 8 + 7], 0);        // its Note-Off velocity is already 0

    Bytes past = f;
    setdword(past.data() + second + 4, 1000);
    EXPECT_EQ(analyse(past).result, 0);
    Bytes cut(f.begin(), f.begin() + static_cast<long>(second) + 5);  // half a chunk header
    EXPECT_EQ(analyse(cut).result, 0);
    EXPECT_TRUE(rec.messages.empty());
}

TEST(Analysis, BytesAfterTheLastChunkAreCarriedOver) {
    Recorder rec;
    Bytes f = smf::file(1, 96, {notes(0)});
    const Bytes tail = {'J', 'U', 'N', 'K', 0x90, 0x01};
    f.insert(f.end(), tail.begin(), tail.end());
    Analysed a = analyse(f);
    ASSERT_EQ(a.result, 1);
    EXPECT_EQ(a.image.dwFileBufSize, f.size() + 8);
    const Bytes b = a.bytes();
    EXPECT_EQ(Bytes(b.end() - 6, b.end()), tail);
}

TEST(Analysis, AnEventRunningPastItsChunkDoesNotTouchTheNextChunk) {
    Recorder rec;
    Track first;
    first.raw({0x00, 0x80, 0x3C});  // the Note-Off's velocity is the next chunk's first byte
    Bytes f = smf::file(1, 96, {first, notes(1)});
    Analysed a = analyse(f);
    EXPECT_EQ(a.result, 1);
    EXPECT_EQ(rec.texts(), (std::vector<std::string>{"Ptr error"}));
    ASSERT_EQ(getnumtracks(a.info), 2);
    EXPECT_EQ(getinstr(a.info, 1), 241);
}

}  // namespace
}  // namespace lirno
