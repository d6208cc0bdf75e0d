// The big-endian field readers and the event scanner.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mmio/bytes.h"
#include "mmio/scanner.h"

namespace lirno {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Fields, NullPointersReadAsZero) {
    EXPECT_EQ(getbyte(nullptr), 0u);
    EXPECT_EQ(getword(nullptr), 0u);
    EXPECT_EQ(gettri(nullptr), 0u);
    EXPECT_EQ(getdword(nullptr), 0u);
    EXPECT_EQ(getlong(nullptr), 0u);
}

TEST(Fields, BigEndianReadsAndWrites) {
    const Bytes b = {0x00, 0x00, 0x01, 0xE0, 0xFF};
    EXPECT_EQ(getdword(b.data()), 480u);
    EXPECT_EQ(getlong(b.data()), 480u);
    EXPECT_EQ(gettri(b.data() + 1), 0x01E0u);
    EXPECT_EQ(getword(b.data() + 3), 0xE0FFu);
    EXPECT_EQ(getbyte(b.data() + 4), 255u);

    Bytes out(4);
    setdword(out.data(), 480);
    EXPECT_EQ(out, (Bytes{0x00, 0x00, 0x01, 0xE0}));
    setdword(out.data(), 0xFEDCBA98u);
    EXPECT_EQ(out, (Bytes{0xFE, 0xDC, 0xBA, 0x98}));
}

// Scans one event of a buffer that holds exactly the given bytes.
struct Scanned {
    int code = 0;
    int value = -1;
    int channel = -1;
    char text[kEventTextSize] = {};
    std::ptrdiff_t advanced = 0;
};

class Scan : public ::testing::Test {
  protected:
    void SetUp() override { scanner = Scanner{}; }

    Scanned scan(Bytes& b, std::size_t from = 0) {
        Scanned s;
        std::uint8_t* p = b.data() + from;
        s.code = getevent(p, b.data() + b.size(), s.text, s.value, s.channel);
        s.advanced = p - (b.data() + from);
        return s;
    }
};

TEST_F(Scan, ChannelEventsWithTheirOwnStatusAndUnderRunningStatus) {
    Bytes b = {0x81, 0x00, 0x90, 0x3C, 0x64, 0x00, 0x3C, 0x00};
    Scanned s = scan(b);
    EXPECT_EQ(s.code, kEvNoteOn);
    EXPECT_EQ(s.text[0], 0);
    EXPECT_EQ(s.channel, 0);
    EXPECT_EQ(s.advanced, 5);

    s = scan(b, 5);  // running status: a repeat of the Note-On
    EXPECT_EQ(s.code, kEvNoteOn);
    EXPECT_EQ(s.text[0], 1);
    EXPECT_EQ(s.advanced, 3);
}

TEST_F(Scan, ControllersProgramsAndPressure) {
    Bytes vol = {0x00, 0xB3, 0x07, 0x64};
    Scanned s = scan(vol);
    EXPECT_EQ(s.code, kEvVolume);
    EXPECT_EQ(s.value, 100);
    EXPECT_EQ(s.channel, 3);

    Bytes pan = {0x00, 0xB3, 0x0A, 0x21};
    EXPECT_EQ(scan(pan).code, kEvBalance);

    Bytes other = {0x00, 0xB3, 0x0B, 0x64};
    s = scan(other);
    EXPECT_EQ(s.code, kEvOther);
    EXPECT_EQ(s.value, 100);  // written for every controller

    Bytes program = {0x00, 0xC5, 0x18};
    s = scan(program);
    EXPECT_EQ(s.code, kEvProgram);
    EXPECT_EQ(s.value, 24);
    EXPECT_EQ(s.channel, 5);
    EXPECT_EQ(s.advanced, 3);

    Bytes pressure = {0x00, 0xD0, 0x40};
    s = scan(pressure);
    EXPECT_EQ(s.code, kEvOther);
    EXPECT_EQ(s.advanced, 3);

    Bytes bend = {0x00, 0xE1, 0x00, 0x40, 0x00, 0xA1, 0x3C, 0x10};
    EXPECT_EQ(scan(bend).code, kEvOther);
    s = scan(bend, 4);
    EXPECT_EQ(s.code, kEvOther);
    EXPECT_EQ(s.advanced, 4);
}

TEST_F(Scan, MetaAndSystemExclusiveEvents) {
    Bytes name = {0x00, 0xFF, 0x03, 0x05, 'P', 'i', 'a', 'n', 'o'};
    Scanned s = scan(name);
    EXPECT_EQ(s.code, kEvName);
    EXPECT_STREQ(s.text, "Piano");
    EXPECT_EQ(s.advanced, 9);
    EXPECT_EQ(s.channel, 15);

    Bytes end = {0x00, 0xFF, 0x2F, 0x00};
    s = scan(end);
    EXPECT_EQ(s.code, kEvEndOfTrack);
    EXPECT_EQ(s.advanced, 4);

    Bytes text = {0x00, 0xFF, 0x01, 0x03, 'a', 'b', 'c'};
    s = scan(text);
    EXPECT_EQ(s.code, kEvOther);
    EXPECT_EQ(s.advanced, 7);

    Bytes sysex = {0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    s = scan(sysex);
    EXPECT_EQ(s.code, kEvOther);
    EXPECT_EQ(s.advanced, 8);
    EXPECT_EQ(s.channel, 0);
}

TEST_F(Scan, LengthsAreVariableLengthQuantities) {
    // 0x81 0x05 is 133 bytes of system-exclusive data.
    Bytes sysex = {0x00, 0xF0, 0x81, 0x05};
    sysex.resize(sysex.size() + 133, 0x01);
    sysex.push_back(0x00);
    Scanned s = scan(sysex);
    EXPECT_EQ(s.code, kEvOther);
    EXPECT_EQ(s.advanced, 4 + 133);

    // A 300-byte name is copied up to the buffer's 259 bytes and stepped over whole.
    Bytes name = {0x00, 0xFF, 0x03, 0x82, 0x2C};
    name.resize(name.size() + 300, 'x');
    s = scan(name);
    EXPECT_EQ(s.code, kEvName);
    EXPECT_EQ(std::strlen(s.text), 259u);
    EXPECT_EQ(s.advanced, 5 + 300);
}

TEST_F(Scan, F7IsAnEscapeEventNotAnError) {
    Bytes escape = {0x00, 0xF7, 0x02, 0xF3, 0x01, 0x00, 0x90, 0x3C, 0x40};
    Scanned s = scan(escape);
    EXPECT_EQ(s.code, kEvOther);
    EXPECT_EQ(s.advanced, 5);
    EXPECT_EQ(scan(escape, 5).code, kEvNoteOn);
}

TEST_F(Scan, UndefinedSystemStatusIsAnError) {
    Bytes b = {0x00, 0xF4, 0x01, 0x02};
    Scanned s = scan(b);
    EXPECT_EQ(s.code, kEvError);
    EXPECT_EQ(s.advanced, 2);  // just behind the status byte
}

TEST_F(Scan, DataWithoutAnyStatusYetResynchronises) {
    Bytes b = {0x00, 0x3C, 0x40, 0x01, 0x90, 0x3C};
    Scanned s = scan(b);
    EXPECT_EQ(s.code, kEvError);
    EXPECT_EQ(s.advanced, 4);  // on the next byte with bit 7 set
}

TEST_F(Scan, RunningStatusSurvivesMetaAndSystemEvents) {
    // After a meta event a data byte repeats the meta status: 03 is read as a name.
    Bytes b = {0x00, 0xFF, 0x01, 0x00, 0x00, 0x03, 0x02, 'h', 'i'};
    scan(b);
    Scanned s = scan(b, 4);
    EXPECT_EQ(s.code, kEvName);
    EXPECT_STREQ(s.text, "hi");
    EXPECT_EQ(s.text[0], 'h');  // the name replaces the status flag

    // The running status carries over to the next scan of any buffer.
    Bytes other = {0x00, 0x2F, 0x00};
    EXPECT_EQ(scan(other).code, kEvEndOfTrack);
}

TEST_F(Scan, NothingIsReadPastTheEnd) {
    const std::vector<Bytes> cut = {
        {0x81},                         // delta time runs off the end
        {0x00},                         // no event after the delta time
        {0x00, 0x90, 0x3C},             // one data byte short
        {0x00, 0xC0},                   // program without its number
        {0x00, 0xF0, 0x05, 0x01},       // sysex data short
        {0x00, 0xF0, 0x85},             // sysex length never ends
        {0x00, 0xFF, 0x03, 0x05, 'a'},  // name short
        {0x00, 0xFF, 0x2F},             // end of track without its length byte
        {0x00, 0xFF},                   // meta without its type
    };
    for (const Bytes& c : cut) {
        // Exact-size copies so that a read past the end is a sanitizer finding.
        auto heap = std::make_unique<std::uint8_t[]>(c.size());
        std::memcpy(heap.get(), c.data(), c.size());
        std::uint8_t* p = heap.get();
        char text[kEventTextSize];
        int value = 0, channel = 0;
        EXPECT_EQ(getevent(p, heap.get() + c.size(), text, value, channel), kEvError)
            << "case of " << c.size() << " bytes";
        EXPECT_EQ(p, heap.get() + c.size());
    }
}

TEST(Vlq, RoundTripsAndLengths) {
    for (std::uint32_t v : {0u, 127u, 128u, 255u, 16383u, 16384u, 0x0FFFFFFFu}) {
        std::uint8_t buf[4];
        const std::size_t n = writeVlq(buf, v);
        EXPECT_EQ(n, vlqLength(v));
        const Vlq r = readVlq(buf, buf + n);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.value, v);
        EXPECT_EQ(r.bytes, n);
    }
    const std::uint8_t open[] = {0x81, 0x82};
    EXPECT_FALSE(readVlq(open, open + 2).ok);
}

}  // namespace
}  // namespace lirno
