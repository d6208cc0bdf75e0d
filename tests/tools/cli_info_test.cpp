// lirno-midi info on files built byte by byte: every expected value below is
// worked out from the bytes the test writes.
#include <sys/stat.h>

#include <cstdio>

#include "cli_support.h"

namespace clitest {
namespace {

constexpr int NS = 240;  // not seen
constexpr int MX = 255;  // mixed

Json rec(std::uint32_t size, const std::string& name, int program, int volume, int balance,
         int channel) {
    return Json{{"size", size},     {"name", name},       {"program", program},
                {"volume", volume}, {"balance", balance}, {"channel", channel}};
}

Json zeroRec() {
    return rec(0, "", 0, 0, 0, 0);
}

Json row(const std::string& name, int instr, int vol, int bal, std::size_t size) {
    return Json{{"name", name}, {"instr", instr}, {"vol", vol}, {"bal", bal}, {"size", size}};
}

Json msg(const std::string& caption, const std::string& text) {
    return Json{{"caption", caption}, {"text", text}};
}

std::vector<std::string> keys(const Json& j) {
    std::vector<std::string> k;
    for (auto it = j.begin(); it != j.end(); ++it) k.push_back(it.key());
    return k;
}

const Json kNotSupported = msg("Attention", "This format is not supported! (Try Play only)");

// A short single-channel track: name, program, one note (Note-Off velocity 0).
Track voice(const std::string& name, int ch, int program) {
    Track t;
    t.name(name).ev(0, {std::uint8_t(0xC0 | ch), std::uint8_t(program)});
    t.ev(0, {std::uint8_t(0x90 | ch), 0x3C, 0x40}).ev(0x10, {std::uint8_t(0x80 | ch), 0x3C, 0});
    return t.end();
}

Track tempoTrack() {
    Track t;
    t.name("Tempo").tempo(0, 500000);
    return t.end();
}

class CliInfo : public CliTest {};

// --- files the analysis accepts ----------------------------------------------

TEST_F(CliInfo, BandFileIsDescribedFieldByField) {
    const Band band;
    const std::vector<Bytes> t = band.fileTracks();
    const Json j = infoOf(band.file());

    EXPECT_EQ(j["result"], 1);
    EXPECT_EQ(j["format"], 1);
    EXPECT_EQ(j["nTracks"], 6);
    EXPECT_EQ(j["division"], Band::kDivision);
    EXPECT_EQ(j["nViewTracks"], 4);
    EXPECT_EQ(j["formatText"], "Multitrack midi");
    EXPECT_EQ(j["trackIndex"], Json({1, 2, 4, 5}));  // the controllers-only track is not listed
    // Inserted: Lead pan+volume, Piano pan, Bass volume, Drums pan+volume.
    EXPECT_EQ(
        j["track"],
        Json({rec(t[0].size(), "Band", NS, NS, NS, NS), rec(t[1].size() + 8, "Lead", 5, NS, NS, 0),
              rec(t[2].size() + 4, "Piano", 0, 90, NS, 1), rec(t[3].size(), "Ctl", NS, 100, NS, NS),
              rec(t[4].size() + 4, "Bass", 32, NS, 54, 2),
              rec(t[5].size() + 8, "Drums", NS, NS, NS, 9)}));
    EXPECT_EQ(j["rows"], Json({row("Lead", 5, 127, 64, t[1].size() + 8),
                               row("Piano", 0, 90, 64, t[2].size() + 4),
                               row("Bass", 32, 127, 54, t[4].size() + 4),
                               row("Drums", 242, 127, 64, t[5].size() + 8)}));
    EXPECT_EQ(j["imageSize"], band.file().size() + 24);
    EXPECT_EQ(j["messages"], Json::array());
}

TEST_F(CliInfo, KeysComeInTheirFixedOrder) {
    // One listed track and a failing event, so that every array has an element.
    Track t;
    t.ev(0, {0x90, 0x3C, 0x40}).ev(0, {0xF4}).end();
    const Json j = infoOf(lirno::smf::file(0, 96, {t}));
    EXPECT_EQ(keys(j),
              (std::vector<std::string>{"result", "format", "nTracks", "division", "nViewTracks",
                                        "formatText", "trackIndex", "track", "rows", "imageSize",
                                        "length", "messages", "soundFont"}));
    ASSERT_EQ(j["track"].size(), 1u);
    ASSERT_EQ(j["rows"].size(), 1u);
    ASSERT_FALSE(j["messages"].empty());
    EXPECT_EQ(keys(j["track"][0]), (std::vector<std::string>{"size", "name", "program", "volume",
                                                             "balance", "channel"}));
    EXPECT_EQ(keys(j["rows"][0]),
              (std::vector<std::string>{"name", "instr", "vol", "bal", "size"}));
    EXPECT_EQ(keys(j["messages"][0]), (std::vector<std::string>{"caption", "text"}));
}

TEST_F(CliInfo, InstrumentCodesAndControllerValues) {
    Track badProgram, noProgram, drums, twoChannels, mixedVolume, panZero;
    badProgram.ev(0, {0xC3, 0x85}).end();  // a program change alone gives the channel
    noProgram.ev(0, {0x94, 0x3C, 0x40}).ev(8, {0x84, 0x3C, 0}).end();
    drums.ev(0, {0xC9, 0x05}).ev(0, {0x99, 0x24, 0x40}).ev(8, {0x89, 0x24, 0}).end();
    twoChannels.ev(0, {0xC0, 0x07}).ev(0, {0x90, 0x3C, 0x40}).ev(0, {0x91, 0x3C, 0x40}).end();
    mixedVolume.ev(0, {0xC5, 0x07}).ev(0, {0xB5, 0x07, 100}).ev(0, {0xB5, 0x07, 90});
    mixedVolume.ev(0, {0xB5, 0x0A, 20}).ev(0, {0x0A, 20}).ev(0, {0x95, 0x3C, 0x40}).end();
    panZero.ev(0, {0xC6, 0x7F}).ev(0, {0xB6, 0x0A, 0}).ev(0, {0x96, 0x3C, 0x40}).end();
    const std::vector<Track> tracks = {badProgram,  noProgram,   drums,
                                       twoChannels, mixedVolume, panZero};
    const Json j = infoOf(lirno::smf::file(1, 480, tracks));
    auto size = [&](int i) { return tracks[std::size_t(i)].data.size(); };

    EXPECT_EQ(j["track"],
              Json({rec(size(0) + 8, "", 0x85, NS, NS, 3), rec(size(1) + 8, "", NS, NS, NS, 4),
                    rec(size(2) + 8, "", 5, NS, NS, 9),
                    rec(size(3), "", 7, NS, NS, MX),  // several channels: nothing inserted
                    rec(size(4), "", 7, MX, 20, 5),   // both seen: nothing inserted
                    rec(size(5) + 4, "", 127, NS, 0, 6)}));
    EXPECT_EQ(j["rows"],
              Json({row("", 240, 127, 64, size(0) + 8), row("", 241, 127, 64, size(1) + 8),
                    row("", 242, 127, 64, size(2) + 8), row("", 255, 127, 64, size(3)),
                    row("", 7, 127, 20, size(4)), row("", 127, 127, 0, size(5) + 4)}));
    EXPECT_EQ(j["imageSize"], lirno::smf::file(1, 480, tracks).size() + 28);
    EXPECT_EQ(j["messages"], Json::array());
}

TEST_F(CliInfo, NamesAreLatin1Bytes) {
    Track t;
    t.raw({0x00, 0xFF, 0x03, 0x08, 'C', 'a', 'f', 0xE9, ' ', 0xFF, 0x01, '"'});
    t.ev(0, {0x90, 0x3C, 0x40}).end();
    const RunResult r = run({"info", put("latin.mid", lirno::smf::file(0, 96, {t})).string()});
    ASSERT_EQ(r.exitCode, 0);
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j["rows"][0]["name"], "Caf\u00E9 \u00FF\x01\"");
    EXPECT_EQ(j["track"][0]["name"], "Caf\u00E9 \u00FF\x01\"");
}

TEST_F(CliInfo, FormatsAndDivisions) {
    const Json f0 = infoOf(lirno::smf::file(0, 0xE250, {voice("A", 0, 1)}));
    EXPECT_EQ(f0["format"], 0);
    EXPECT_EQ(f0["formatText"], "Single track midi");
    EXPECT_EQ(f0["division"], 0xE250);  // an SMPTE division is printed as the raw word
    const Json f2 = infoOf(lirno::smf::file(2, 192, {voice("A", 0, 1), voice("B", 0, 2)}));
    EXPECT_EQ(f2["format"], 2);
    EXPECT_EQ(f2["formatText"], "Multitrack asynch-midi");
    EXPECT_EQ(f2["nViewTracks"], 2);
    // Only byte 7 of the header length is examined.
    Bytes odd = lirno::smf::file(1, 96, {voice("A", 0, 1)});
    odd[4] = 0x01;
    EXPECT_EQ(infoOf(odd)["result"], 1);
}

TEST_F(CliInfo, SysexEscapesAndLongMetaLengthsAreSteppedOver) {
    Track t;
    Bytes sysex = {0x00, 0xF0, 0x81, 0x02};  // 130 bytes of system exclusive
    for (int k = 0; k < 129; ++k) sysex.push_back(0x7F & std::uint8_t(k));
    sysex.push_back(0xF7);
    Bytes escape = {0x00, 0xF7, 0x81, 0x10};  // 144 bytes that look like events
    for (int k = 0; k < 36; ++k) escape.insert(escape.end(), {0x00, 0xFF, 0x2F, 0x00});
    t.raw(sysex).raw(escape);
    t.meta(0, 0x01, std::string(200, 'x'));  // length 0x81 0x48
    t.name("After").ev(0, {0x92, 0x3C, 0x40}).ev(1, {0x82, 0x3C, 0}).end();
    const Json j = infoOf(lirno::smf::file(0, 96, {t}));
    EXPECT_EQ(j["result"], 1);
    EXPECT_EQ(j["messages"], Json::array());
    EXPECT_EQ(j["rows"], Json({row("After", 241, 127, 64, t.data.size() + 8)}));
}

TEST_F(CliInfo, OddButAcceptedFiles) {
    {  // no tracks at all, then bytes that belong to no chunk
        const Json j = infoOf(cat({smfHeader(1, 0, 96), text("junk")}));
        EXPECT_EQ(j["result"], 1);
        EXPECT_EQ(j["nTracks"], 0);
        EXPECT_EQ(j["track"], Json::array());
        EXPECT_EQ(j["rows"], Json::array());
        EXPECT_EQ(j["imageSize"], 18);
        EXPECT_EQ(j["messages"], Json::array());
    }
    {  // an empty chunk, a meta-only chunk, a track without End of Track, one undeclared chunk
        Track meta, noEnd, extra;
        meta.name("Only meta").end();
        noEnd.ev(0, {0x93, 0x3C, 0x40}).ev(0x10, {0x83, 0x3C, 0});
        extra.ev(0, {0x90, 0x3C, 0x40}).end();
        const Bytes extraChunk = mtrk(extra.data);
        const Bytes file = cat({smfHeader(1, 3, 96), mtrk({}), mtrk(meta.data), mtrk(noEnd.data),
                                extraChunk, text("\x01\x02")});
        const Json j = infoOf(file);
        EXPECT_EQ(j["result"], 1);
        EXPECT_EQ(j["messages"], Json::array());
        EXPECT_EQ(j["track"], Json({rec(0, "", NS, NS, NS, NS),
                                    rec(meta.data.size(), "Only meta", NS, NS, NS, NS),
                                    rec(noEnd.data.size() + 8, "", NS, NS, NS, 3)}));
        EXPECT_EQ(j["trackIndex"], Json({2}));
        EXPECT_EQ(j["imageSize"], file.size() + 8);
    }
}

TEST_F(CliInfo, HundredTracksFitTheSpareBytes) {
    std::vector<Track> tracks;
    for (int i = 0; i < 100; ++i) tracks.push_back(voice("T" + std::to_string(i), i % 9, i));
    const Bytes file = lirno::smf::file(1, 96, tracks);
    const Json j = infoOf(file);
    EXPECT_EQ(j["result"], 1);
    EXPECT_EQ(j["nViewTracks"], 100);
    ASSERT_EQ(j["rows"].size(), 100u);
    EXPECT_EQ(j["rows"][99], row("T99", 99, 127, 64, tracks[99].data.size() + 8));
    EXPECT_EQ(j["imageSize"], file.size() + 800);
}

// --- messages of the analysis --------------------------------------------------

TEST_F(CliInfo, IllegalStatusByteReportsTrackPositionAndBytes) {
    const Track tempo = tempoTrack();  // gets no inserted events
    Track bad, after = voice("After", 1, 3);
    bad.name("Bad").ev(0, {0x90, 0x3C, 0x40}).ev(0, {0xF4, 0x01, 0x02}).ev(0x10, {0x80, 0x3C, 0});
    bad.end();
    const std::size_t pos = 14 + 8 + tempo.data.size() + 8 + 7 + 4;  // name event, note
    char expected[64];
    std::snprintf(expected, sizeof expected, "Track 1 Error Pos %04zX\n00F40102", pos);
    const Json j = infoOf(lirno::smf::file(1, 96, {tempo, bad, after}));
    EXPECT_EQ(j["result"], 1);
    EXPECT_EQ(j["messages"], Json({msg("Test", expected), msg("Test", "Ptr error")}));
    // The damaged track is still listed, and the next one is analysed as usual.
    EXPECT_EQ(j["trackIndex"], Json({1, 2}));
    EXPECT_EQ(j["rows"][0]["name"], "Bad");
    EXPECT_EQ(j["rows"][1], row("After", 3, 127, 64, after.data.size() + 8));
}

TEST_F(CliInfo, EventCutByTheEndOfTheFileReadsZerosPastIt) {
    Track t;
    t.ev(0, {0x90, 0x3C, 0x40}).ev(0, {0x90, 0x3C});  // the file ends inside this event
    const Json j = infoOf(lirno::smf::file(0, 96, {t}));
    EXPECT_EQ(j["result"], 1);
    EXPECT_EQ(j["messages"],
              Json({msg("Test", "Track 0 Error Pos 001A\n00903C00"), msg("Test", "Ptr error")}));
}

TEST_F(CliInfo, DataNotEndingAtTheChunkEndIsAPtrError) {
    {  // bytes after End of Track
        Track t = voice("V", 0, 1);
        t.raw({0x00, 0x00, 0x00});
        const Json j = infoOf(lirno::smf::file(0, 96, {t}));
        EXPECT_EQ(j["result"], 1);
        EXPECT_EQ(j["messages"], Json({msg("Test", "Ptr error")}));
        EXPECT_EQ(j["rows"][0]["size"], t.data.size() + 8);
    }
    {  // a Note-Off whose velocity lies in the next chunk's header: that header stays intact
        Track cut;
        cut.ev(0, {0x90, 0x3C, 0x40}).ev(0x10, {0x80, 0x3C});
        const Track next = voice("Next", 1, 2);
        const Json j = infoOf(lirno::smf::file(1, 96, {cut, next}));
        EXPECT_EQ(j["result"], 1);
        EXPECT_EQ(j["messages"], Json({msg("Test", "Ptr error")}));
        EXPECT_EQ(j["trackIndex"], Json({0, 1}));
        EXPECT_EQ(j["rows"][1], row("Next", 2, 127, 64, next.data.size() + 8));
    }
}

TEST_F(CliInfo, MoreThanHundredTracksAreRefused) {
    std::vector<Track> tracks(101, voice("x", 0, 0));
    const Bytes file = lirno::smf::file(1, 96, tracks);
    const Json j = infoOf(file);
    EXPECT_EQ(j["result"], 0);
    EXPECT_EQ(j["nTracks"], 0);
    EXPECT_EQ(j["nViewTracks"], 0);
    EXPECT_EQ(j["track"], Json(std::vector<Json>(100, zeroRec())));
    EXPECT_EQ(j["rows"], Json::array());
    EXPECT_EQ(j["imageSize"], file.size());
    EXPECT_EQ(j["messages"],
              Json({msg("", "Sorry: 101 tracks > 100 (Maximum in this version)"), kNotSupported}));
}

TEST_F(CliInfo, RefusedHeaders) {
    const Bytes good = lirno::smf::file(1, 96, {voice("A", 0, 1)});
    Bytes id = good, length = good, format = good;
    id[3] = 'x';
    length[7] = 7;
    format[9] = 3;
    const Bytes shortFile = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0};
    for (const Bytes& b : {id, length, format, shortFile, Bytes{}}) {
        SCOPED_TRACE(::testing::PrintToString(b.size()) + " bytes");
        const Json j = infoOf(b);
        EXPECT_EQ(j["result"], 0);
        EXPECT_EQ(j["nTracks"], 0);
        EXPECT_EQ(j["nViewTracks"], 0);
        EXPECT_EQ(j["track"], Json::array());
        EXPECT_EQ(j["rows"], Json::array());
        EXPECT_EQ(j["imageSize"], b.size());
        // The player still measures the file for playing: a device that cannot open
        // it adds its own report and leaves no length.
        ASSERT_GE(j["messages"].size(), 1u);
        EXPECT_EQ(j["messages"][0], kNotSupported);
        if (j["length"].is_null()) {
            ASSERT_EQ(j["messages"].size(), 2u);
            EXPECT_EQ(j["messages"][1]["caption"], "Lirno Error");
        } else {
            EXPECT_EQ(j["messages"].size(), 1u);
        }
        if (b.size() < 14 || b[3] != 'd') {
            EXPECT_TRUE(j["length"].is_null());
        }
    }
}

TEST_F(CliInfo, BrokenChunkEndsTheAnalysisKeepingEarlierRecords) {
    const Track first = voice("First", 2, 9);
    const Bytes head = cat({smfHeader(1, 3, 96), mtrk(first.data)});
    const Bytes notTrack = cat({head, text("MTrX"), Bytes{0, 0, 0, 4, 0, 0xFF, 0x2F, 0}});
    Bytes pastEnd = cat({head, text("MTrk"), Bytes{0, 0, 0, 9, 0, 0xFF, 0x2F, 0}});
    const Bytes cutHeader = cat({head, text("MTrk"), Bytes{0, 0}});
    for (const Bytes& b : {notTrack, pastEnd, cutHeader}) {
        SCOPED_TRACE(::testing::PrintToString(b.size()) + " bytes");
        const Json j = infoOf(b);
        EXPECT_EQ(j["result"], 0);
        EXPECT_EQ(j["nTracks"], 0);
        EXPECT_EQ(j["nViewTracks"], 0);
        EXPECT_EQ(j["track"],
                  Json({rec(first.data.size() + 8, "First", 9, NS, NS, 2), zeroRec(), zeroRec()}));
        EXPECT_EQ(j["rows"], Json::array());
        EXPECT_EQ(j["imageSize"], b.size());  // nothing was inserted
        EXPECT_EQ(j["messages"], Json({kNotSupported}));
    }
}

TEST_F(CliInfo, UnreadableFileFailsWithTheLoadMessage) {
    const Json j = info(path("missing.mid"), 1);
    EXPECT_EQ(j["result"], 0);
    EXPECT_EQ(j["nTracks"], 0);
    EXPECT_EQ(j["track"], Json::array());
    EXPECT_EQ(j["rows"], Json::array());
    EXPECT_EQ(j["imageSize"], 0);
    EXPECT_EQ(j["messages"], Json({msg("", "File open failed.")}));

    // A folder and a FIFO are refused at once: nothing waits for a writer.
    fs::create_directory(path("folder.mid"));
    writeBytes(path("folder.mid") / "inside", text("x"));
    ASSERT_EQ(::mkfifo(path("pipe.mid").c_str(), 0600), 0);
    for (const char* name : {"folder.mid", "pipe.mid"}) {
        const Json d = info(path(name), 1);
        EXPECT_EQ(d["result"], 0) << name;
        EXPECT_EQ(d["messages"], Json({msg("", "File open failed.")})) << name;
    }
}

}  // namespace
}  // namespace clitest
