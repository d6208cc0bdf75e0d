// Edits patched into the image, and the file Save As writes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include "../support/recorder.h"

#include "mmio/bytes.h"
#include "mmio/scanner.h"
#include "mmio/trackedit.h"

namespace lirno {
namespace {

using smf::Bytes;
using smf::Track;
using test::Recorder;
using test::ScratchDir;

Bytes dataOf(const Bytes& file, int i) {
    std::size_t pos = 14;
    for (int k = 0; k < i; ++k) pos += 8 + getdword(file.data() + pos + 4);
    return Bytes(file.begin() + static_cast<long>(pos) + 8,
                 file.begin() + static_cast<long>(pos + 8 + getdword(file.data() + pos + 4)));
}

struct Rows : RowSource {
    std::vector<bool> enabled, checked;
    std::vector<std::string> names;
    explicit Rows(std::vector<std::string> n)
        : enabled(n.size(), true), checked(n.size(), true), names(std::move(n)) {}
    bool isOnEnabled(int n) const override { return enabled[std::size_t(n)]; }
    bool isOnChecked(int n) const override { return checked[std::size_t(n)]; }
    std::string nameText(int n) const override { return names[std::size_t(n)]; }
};

TEST(SetTrack, MutingFlipsStatusBytesAndASecondFlipRestores) {
    Recorder rec;
    Track t;
    t.ev(0, {0x92, 0x3C, 0x64})
        .raw({0x00, 0x3E, 0x64})  // the second under running status
        .ev(0, {0x82, 0x3C, 0x00})
        .end();
    FileImage image = FileImage::fromBytes(smf::file(0, 96, {t}));
    const Bytes before = test::bytesOf(image);

    EXPECT_EQ(settrack(image, 0, kEditNotes, 0), 1);
    EXPECT_EQ(dataOf(test::bytesOf(image), 0),
              (Bytes{0x00, 0x82, 0x3C, 0x64, 0x00, 0x3E, 0x64, 0x00, 0x92, 0x3C, 0x00, 0x00, 0xFF,
                     0x2F, 0x00}));
    EXPECT_EQ(settrack(image, 0, 0x90, 0), 1);  // 0x90 flips the same way
    EXPECT_EQ(test::bytesOf(image), before);
    EXPECT_TRUE(rec.messages.empty());
}

TEST(SetTrack, ValuesRewriteEveryMatchingEventOfTheTrackOnly) {
    Recorder rec;
    Track a;
    a.ev(0, {0xB0, 7, 10}).ev(0, {0xB1, 7, 20}).ev(0, {0xB0, 10, 30}).ev(0, {0xC0, 1});
    a.raw({0x00, 0x02}).ev(0, {0xB0, 0x0B, 40}).end();  // a program under running status
    Track b;
    b.ev(0, {0xB0, 7, 10}).end();
    FileImage image = FileImage::fromBytes(smf::file(1, 96, {a, b}));

    EXPECT_EQ(settrack(image, 0, kEditVolume, 99), 1);
    EXPECT_EQ(settrack(image, 0, kEditBalance, 98), 1);
    EXPECT_EQ(settrack(image, 0, kEditProgram, 97), 1);
    const Bytes file = test::bytesOf(image);
    EXPECT_EQ(dataOf(file, 0),
              (Bytes{0x00, 0xB0, 7,    99, 0x00, 0xB1, 7,    99, 0x00, 0xB0, 10,   98,  0x00,
                     0xC0, 97,   0x00, 97, 0x00, 0xB0, 0x0B, 40, 0x00, 0xFF, 0x2F, 0x00}));
    EXPECT_EQ(dataOf(file, 1), b.data);

    const Bytes before = test::bytesOf(image);
    EXPECT_EQ(settrack(image, 1, kEditBalance, 5), 1);  // no such event: nothing changes
    EXPECT_EQ(test::bytesOf(image), before);
}

TEST(SetTrack, ATrackNotEndingAtItsChunkEndIsReported) {
    Recorder rec;
    Track t;
    t.ev(0, {0x90, 60, 1}).end().raw({0x00, 0x80, 60, 0});
    FileImage image = FileImage::fromBytes(smf::file(0, 96, {t}));
    EXPECT_EQ(settrack(image, 0, kEditNotes, 0), 0);
    EXPECT_EQ(image.data()[14 + 8 + 1], 0x80);  // the patch before the End of Track stays
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_EQ(rec.messages[0].text, "Error setting track");
    EXPECT_EQ(rec.messages[0].caption, "Test");
    EXPECT_EQ(rec.messages[0].owner, Owner::Main);

    rec.messages.clear();
    EXPECT_EQ(settrack(image, 1, kEditNotes, 0), 0);  // no such track
    EXPECT_EQ(settrack(image, -1, kEditNotes, 0), 0);
    EXPECT_EQ(rec.messages.size(), 2u);
}

// A track whose first event leans on a running status from elsewhere: every
// walk must read it the same way, or a flip would not undo itself.
TEST(SetTrack, ATrackStartingUnderRunningStatusScansTheSameEveryTime) {
    Recorder rec;
    // Track 0 ends inside a program change without an End of Track; track 1
    // starts with a data byte.
    const Bytes file = {'M',  'T',  'h',  'd',  0,    0,    0,    6,    0,    1,    0,    2,
                        0,    0x60, 'M',  'T',  'r',  'k',  0,    0,    0,    0x0F, 0x00, 0xB0,
                        0x07, 0x64, 0x00, 0xB0, 0x0A, 0x40, 0x00, 0x90, 0x3C, 0x40, 0x60, 0xC0,
                        0x3C, 'M',  'T',  'r',  'k',  0,    0,    0,    0x16, 0x00, 0x05, 0x00,
                        0x91, 0x3E, 0x40, 0x00, 0xB1, 0x07, 0x64, 0x00, 0xB1, 0x0A, 0x40, 0x60,
                        0x81, 0x3E, 0x00, 0x00, 0xFF, 0x2F, 0x00};
    MidiInfo info;
    FileImage image = FileImage::fromBytes(file);
    readmidiinfo(image, info);
    // Mute right after the load, an edit elsewhere that leaves another running
    // status behind, unmute.
    settrack(image, 1, kEditNotes, 0);
    settrack(image, 0, kEditVolume, 20);
    settrack(image, 1, kEditNotes, 0);

    FileImage volumeOnly = FileImage::fromBytes(file);
    readmidiinfo(volumeOnly, info);
    settrack(volumeOnly, 0, kEditVolume, 20);
    EXPECT_EQ(test::bytesOf(image), test::bytesOf(volumeOnly));
}

TEST(Image, AnEmptyFileMakesAnImageOfSpareBytesOnly) {
    Recorder rec;
    FileImage image = FileImage::fromBytes({});
    EXPECT_EQ(image.dwFileBufSize, 0u);
    EXPECT_EQ(image.pFileBuf.size(), kSpareBytes);
    MidiInfo info;
    EXPECT_EQ(readmidiinfo(image, info), 0);
    EXPECT_TRUE(rec.messages.empty());
}

class Save : public ::testing::Test {
  protected:
    // Analyses a file the way a load does.
    void load(const Bytes& file) {
        image = FileImage::fromBytes(file);
        ASSERT_EQ(readmidiinfo(image, info), 1);
    }
    Bytes save(const RowSource& rows) {
        const std::string out = dir.file("out.mid");
        EXPECT_EQ(writemidiinfo(out, image, info, rows), 1);
        return test::readFile(out);
    }

    Recorder rec;
    ScratchDir dir;
    FileImage image;
    MidiInfo info;
};

TEST_F(Save, NamesAreReplacedOrInserted) {
    Track piano;
    piano.name("Piano").ev(0, {0xC0, 0}).ev(0, {0xB0, 7, 1}).ev(0, {0xB0, 10, 1}).end();
    Track unnamed;
    unnamed.ev(0, {0xC1, 0}).ev(0, {0xB1, 7, 1}).ev(0, {0xB1, 10, 1}).end();
    Track tempo;
    tempo.name("Tempo").tempo(0, 500000).end();
    load(smf::file(1, 96, {tempo, piano, unnamed}));
    const Bytes normalised = test::bytesOf(image);

    const Bytes saved = save(Rows({"Strings", ""}));
    EXPECT_EQ(saved.size(), normalised.size() + 2 + 4);
    EXPECT_EQ(dataOf(saved, 0), dataOf(normalised, 0));  // not listed: copied byte for byte
    const Bytes p = dataOf(saved, 1);
    EXPECT_EQ(p.size(), piano.data.size() + 2);
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 11),
              (Bytes{0x00, 0xFF, 0x03, 7, 'S', 't', 'r', 'i', 'n', 'g', 's'}));
    const Bytes u = dataOf(saved, 2);
    EXPECT_EQ(Bytes(u.begin(), u.begin() + 4), (Bytes{0x00, 0xFF, 0x03, 0x00}));
    EXPECT_EQ(Bytes(u.begin() + 4, u.end()), unnamed.data);
    EXPECT_EQ(test::bytesOf(image), normalised);  // the image keeps its names
    EXPECT_STREQ(info.track[1].name, "Piano");
}

TEST_F(Save, LongNamesUseTwoLengthBytesAndAreCutAt255) {
    Track t;
    t.name("x").ev(0, {0xC0, 0}).ev(0, {0xB0, 7, 1}).ev(0, {0xB0, 10, 1}).end();
    load(smf::file(0, 96, {t}));

    Bytes saved = save(Rows({std::string(200, 'n')}));
    Bytes d = dataOf(saved, 0);
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 5), (Bytes{0x00, 0xFF, 0x03, 0x81, 0x48}));
    EXPECT_EQ(d.size(), t.data.size() - 1 + 1 + 200);

    saved = save(Rows({std::string(300, 'n')}));
    d = dataOf(saved, 0);
    EXPECT_EQ(Bytes(d.begin() + 3, d.begin() + 5), (Bytes{0x81, 0x7F}));  // 255
    EXPECT_EQ(d.size(), t.data.size() - 1 + 1 + 255);
}

TEST_F(Save, OnlyTheFirstOfSeveralNameEventsIsReplaced) {
    Track t;
    t.name("a").name("a much longer second name").ev(0, {0xC0, 0}).ev(0, {0xB0, 7, 1});
    t.ev(0, {0xB0, 10, 1}).end();
    load(smf::file(0, 96, {t}));
    EXPECT_STREQ(gettrackname(info, 0), "a much longer second name");
    const Bytes saved = save(Rows({std::string(250, 'z')}));
    const Bytes d = dataOf(saved, 0);
    // Much more than the recorded name's length is written: nothing is cut short.
    EXPECT_EQ(d.size(), t.data.size() - 1 + 250 + 1);
    const Bytes second = {0x00, 0xFF, 0x03, 25};
    EXPECT_EQ(Bytes(d.begin() + 255, d.begin() + 259), second);
}

TEST_F(Save, MutedTracksAreWrittenAudibleAndStayMuted) {
    Track a;
    a.name("A").ev(0, {0x90, 60, 100}).ev(10, {0x80, 60, 0}).end();
    Track b;
    b.name("B").ev(0, {0x91, 62, 100}).ev(10, {0x81, 62, 0}).end();
    load(smf::file(1, 96, {a, b}));
    const Bytes audible = test::bytesOf(image);
    settrack(image, 0, kEditNotes, 0);  // row 0 unchecked
    settrack(image, 1, kEditNotes, 0);  // row 1 disabled by a solo elsewhere
    const Bytes muted = test::bytesOf(image);

    Rows rows({"A", "B"});
    rows.checked[0] = false;
    rows.enabled[1] = false;
    const Bytes saved = save(rows);
    EXPECT_EQ(saved, audible);
    EXPECT_EQ(test::bytesOf(image), muted);
}

TEST_F(Save, AFailedWriteKeepsTheImageAndTheOldFile) {
    Track a;
    a.name("A").ev(0, {0x90, 60, 100}).ev(10, {0x80, 60, 0}).end();
    load(smf::file(0, 96, {a}));
    settrack(image, 0, kEditNotes, 0);
    const Bytes muted = test::bytesOf(image);
    Rows rows({"A"});
    rows.checked[0] = false;

    EXPECT_EQ(writemidiinfo(dir.file("missing/out.mid"), image, info, rows), 0);
    EXPECT_EQ(rec.texts(), (std::vector<std::string>{"Tmp File create failed."}));
    EXPECT_EQ(test::bytesOf(image), muted);
}

TEST_F(Save, ARejectedFileIsWrittenWhole) {
    Bytes file = smf::file(1, 96, {Track().ev(0, {0x90, 60, 1}).end()});
    std::memcpy(file.data() + 14, "MTrX", 4);
    image = FileImage::fromBytes(file);
    EXPECT_EQ(readmidiinfo(image, info), 0);
    info.nTracks = info.nViewTracks = 0;  // as the load leaves it
    EXPECT_EQ(save(Rows({})), file);
}

}  // namespace
}  // namespace lirno
