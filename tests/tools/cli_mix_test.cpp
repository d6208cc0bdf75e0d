// lirno-midi mix: edits through the rows, checked against the bytes written.
// The expected files come from Band (cli_support.h), which builds the image
// the analysis must produce and the mute state of each track independently.
#include <sys/stat.h>

#include <algorithm>

#include "cli_support.h"

namespace clitest {
namespace {

using Flags = std::array<bool, 4>;

Band mutedBand(Flags m) {
    Band b;
    b.muted = m;
    return b;
}

bool contains(const Bytes& hay, const Bytes& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

class CliMix : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        in_ = put("band.mid", Band{}.file());
    }
    std::string out() const { return path("out.mid").string(); }
    std::string play() const { return path("play.mid").string(); }
    // mix band.mid EDITS -o out.mid --play-file play.mid
    RunResult mix(std::vector<std::string> edits, const fs::path& in = {}) const {
        edits.insert(edits.begin(), {"mix", (in.empty() ? in_ : in).string()});
        edits.insert(edits.end(), {"-o", out(), "--play-file", play()});
        return run(edits);
    }
    void expectRefused(const std::vector<std::string>& edits, const fs::path& in = {}) const {
        SCOPED_TRACE(::testing::PrintToString(edits));
        const RunResult r = mix(edits, in);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("lirno-midi:"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out()));
        EXPECT_FALSE(fs::exists(play()));
    }
    fs::path in_;
};

TEST_F(CliMix, WithoutEditsBothFilesHoldTheNormalisedImage) {
    ASSERT_NE(Band{}.image(), Band{}.file());  // the analysis has work to do here
    const RunResult r = mix({});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readBytes(out()), Band{}.image());
    EXPECT_EQ(readBytes(play()), Band{}.image());
}

TEST_F(CliMix, MuteAndUnmuteFlipOwnStatusNotesOfTheirTrackOnly) {
    const std::vector<std::pair<std::vector<std::string>, Flags>> cases = {
        {{"--mute", "2"}, {0, 0, 1, 0}},  // row 2 is file track 4: the track list is skipped over
        {{"--mute", "0", "--mute", "0"}, {1, 0, 0, 0}},  // the second does nothing
        {{"--mute", "0", "--unmute", "0"}, {0, 0, 0, 0}},
        {{"--unmute", "1"}, {0, 0, 0, 0}},
        {{"--unmute", "0", "--mute", "0"}, {1, 0, 0, 0}},  // in the order given
        {{"--mute", "0", "--mute", "3", "--unmute", "0"}, {0, 0, 0, 1}},
    };
    for (const auto& [edits, muted] : cases) {
        SCOPED_TRACE(::testing::PrintToString(edits));
        ASSERT_EQ(mix(edits).exitCode, 0);
        EXPECT_EQ(readBytes(play()), mutedBand(muted).image());
        EXPECT_EQ(readBytes(out()), Band{}.image());  // the saved file has every note audible
    }

    // A track on two channels: every channel's notes flip, and nothing is inserted.
    auto twoChannels = [](bool muted) {
        Track t;
        t.name("Duo").ev(0, {std::uint8_t(muted ? 0x80 : 0x90), 0x3C, 0x40});
        t.ev(0, {std::uint8_t(muted ? 0x8B : 0x9B), 0x3E, 0x40});
        t.ev(0x10, {std::uint8_t(muted ? 0x90 : 0x80), 0x3C, 0})
            .ev(0, {std::uint8_t(muted ? 0x9B : 0x8B), 0x3E, 0});
        return lirno::smf::file(0, 96, {t.end()});
    };
    ASSERT_EQ(mix({"--mute", "0"}, put("duo.mid", twoChannels(false))).exitCode, 0);
    EXPECT_EQ(readBytes(play()), twoChannels(true));
    EXPECT_EQ(readBytes(out()), twoChannels(false));
}

TEST_F(CliMix, SoloStartsMovesAndEnds) {
    const std::vector<std::pair<std::vector<std::string>, Flags>> cases = {
        {{"--solo", "1"}, {1, 0, 1, 1}},
        {{"--solo", "1", "--solo", "1"}, {0, 0, 0, 0}},
        {{"--solo", "1", "--solo", "3"}, {1, 1, 1, 0}},
        {{"--solo", "1", "--solo", "3", "--solo", "3"}, {0, 0, 0, 0}},
        // An unchecked On box stays unchecked through a solo elsewhere...
        {{"--mute", "0", "--solo", "1", "--solo", "1"}, {1, 0, 0, 0}},
        // ...and the solo row itself stays muted while its own box is unchecked.
        {{"--mute", "0", "--solo", "0"}, {1, 1, 1, 1}},
        {{"--mute", "0", "--solo", "0", "--unmute", "0"}, {0, 1, 1, 1}},
        {{"--mute", "1", "--solo", "0", "--solo", "1"}, {1, 1, 1, 1}},
        {{"--mute", "1", "--solo", "0", "--solo", "1", "--unmute", "1"}, {1, 0, 1, 1}},
        // The row the solo moved to has its On box back.
        {{"--solo", "1", "--solo", "3", "--mute", "3"}, {1, 1, 1, 1}},
    };
    for (const auto& [edits, muted] : cases) {
        SCOPED_TRACE(::testing::PrintToString(edits));
        ASSERT_EQ(mix(edits).exitCode, 0);
        EXPECT_EQ(readBytes(play()), mutedBand(muted).image());
        EXPECT_EQ(readBytes(out()), Band{}.image());
    }
}

TEST_F(CliMix, ControlsDisabledByASoloRefuseEvenNoChange) {
    expectRefused({"--solo", "1", "--mute", "0"});
    expectRefused({"--solo", "1", "--unmute", "0"});  // already checked
    expectRefused({"--solo", "1", "--volume", "0=127"});
    expectRefused({"--solo", "1", "--balance", "2=54"});
    expectRefused({"--solo", "1", "--program", "0=5"});
    expectRefused({"--solo", "1", "--name", "3=Drums"});
    expectRefused({"--solo", "1", "--solo", "2", "--mute", "1"});  // the solo moved away from 1

    // The solo row keeps its controls, and ending the solo gives the others back.
    ASSERT_EQ(mix({"--solo", "1", "--volume", "1=20", "--solo", "1", "--mute", "0"}).exitCode, 0);
    Band expected = mutedBand({1, 0, 0, 0});
    expected.pianoVol = 20;
    EXPECT_EQ(readBytes(play()), expected.image());
}

TEST_F(CliMix, EditsTheViewCannotMakeAreRefused) {
    expectRefused({"--mute", "4"});
    expectRefused({"--solo", "17"});
    expectRefused({"--volume", "0=128"});
    expectRefused({"--balance", "1=999"});
    expectRefused({"--program", "0=128"});
    expectRefused({"--program", "3=0"});                                // drums: no program list
    expectRefused({"--solo", "0", "--solo", "0", "--program", "3=0"});  // not even after a solo
    expectRefused({"--mute", "0", "--name", "7=X"});  // an earlier valid edit writes nothing either

    Track twoChannels;
    twoChannels.ev(0, {0x90, 0x3C, 0x40}).ev(0, {0x91, 0x3C, 0x40}).end();
    expectRefused({"--program", "0=1"}, put("mixed.mid", lirno::smf::file(0, 96, {twoChannels})));
}

TEST_F(CliMix, ValueEditsRewriteEveryMatchingEvent) {
    const RunResult r = mix({"--program", "0=9", "--volume", "1=100", "--volume", "0=33",
                             "--balance", "2=0", "--balance", "0=1", "--volume", "3=50"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Band expected;
    expected.leadProgram = 9;  // also the program change under running status
    expected.pianoVol = 100;   // three events, one under running status; expression stays
    expected.leadVol = 33;     // the inserted events carry the edits too
    expected.leadPan = 1;
    expected.bassPan = 0;
    expected.drumsVol = 50;  // a drums row keeps its sliders
    EXPECT_EQ(readBytes(play()), expected.image());
    EXPECT_EQ(readBytes(out()), expected.image());

    const Json j = info(out());
    EXPECT_EQ(j["rows"][0]["instr"], 9);
    EXPECT_EQ(j["rows"][0]["vol"], 33);
    EXPECT_EQ(j["rows"][0]["bal"], 1);
    EXPECT_EQ(j["rows"][1]["vol"], 100);
    EXPECT_EQ(j["rows"][2]["bal"], 0);
}

TEST_F(CliMix, NamesReplaceTheFirstNameEventInTheSavedFileOnly) {
    ASSERT_EQ(mix({"--name", "1=Strings"}).exitCode, 0);
    Band strings;
    strings.names[1] = "Strings";
    EXPECT_EQ(readBytes(out()), strings.image());
    EXPECT_EQ(readBytes(out()).size(), Band{}.image().size() + 2);
    EXPECT_EQ(readBytes(play()), Band{}.image());

    const std::vector<std::pair<std::string, std::string>> cases = {
        {std::string(200, 'n'), std::string(200, 'n')},  // a two-byte length, 0x81 0x48
        {std::string(300, 'c'), std::string(255, 'c')},  // cut at 255: 0x81 0x7F
        {"", ""},
        {"A=B\xE9", "A=B\xE9"},
    };
    for (const auto& [typed, saved] : cases) {
        SCOPED_TRACE(typed.size());
        ASSERT_EQ(mix({"--name", "0=" + typed}).exitCode, 0);
        Band expected;
        expected.names[0] = saved;
        EXPECT_EQ(readBytes(out()), expected.image());
    }
    ASSERT_EQ(mix({"--name", "0=" + std::string(200, 'n')}).exitCode, 0);
    const Bytes longName = cat({Bytes{0x00, 0xFF, 0x03, 0x81, 0x48}, text(std::string(200, 'n'))});
    EXPECT_TRUE(contains(readBytes(out()), longName));
    // and back: a two-byte length replaced by a one-byte one
    const std::string longFile = path("long.mid").string();
    fs::rename(out(), longFile);
    ASSERT_EQ(mix({"--name", "0=Lead"}, longFile).exitCode, 0);
    EXPECT_EQ(readBytes(out()), Band{}.image());

    ASSERT_EQ(mix({"--name", "3=Caf\xE9"}).exitCode, 0);
    EXPECT_EQ(info(out())["rows"][3]["name"], "Caf\u00E9");
}

TEST_F(CliMix, NameEventsInsertedAndRepeated) {
    Track tempo, noName, twoNames;
    tempo.tempo(0, 400000).end();  // not listed: never gets a name
    noName.ev(0, {0x90, 0x3C, 0x40}).ev(0x10, {0x80, 0x3C, 0}).end();
    twoNames.ev(0, {0x91, 0x3C, 0x40}).name("First", 200).name("Second", 4).end();
    const fs::path in = put("names.mid", lirno::smf::file(1, 96, {tempo, noName, twoNames}));

    auto expected = [&](const std::string& name0) {
        Track t0, t1;
        t0.name(name0).raw(panEvent(0)).raw(volEvent(0)).raw(noName.data);
        // the name box holds the last name; the first name event takes it
        t1.raw(panEvent(1)).raw(volEvent(1)).ev(0, {0x91, 0x3C, 0x40});
        t1.name("Second", 200).name("Second", 4).end();  // a two-byte delta time before it
        return cat({smfHeader(1, 3, 96), mtrk(tempo.data), mtrk(t0.data), mtrk(t1.data)});
    };
    ASSERT_EQ(mix({}, in).exitCode, 0);
    EXPECT_EQ(readBytes(out()), expected(""));  // 00 FF 03 00 at the start of the data
    EXPECT_EQ(info(out())["rows"][1]["name"], "Second");
    ASSERT_EQ(mix({"--name", "0=Solo"}, in).exitCode, 0);
    EXPECT_EQ(readBytes(out()), expected("Solo"));
}

TEST_F(CliMix, AStoredNameLongerThanANameBoxHoldsIsShownWholeAndSavedCut) {
    Track t;
    t.name(std::string(300, 'a')).ev(0, {0x90, 0x3C, 0x40}).ev(0x10, {0x80, 0x3C, 0}).end();
    const fs::path in = put("long.mid", lirno::smf::file(0, 96, {t}));
    const Json before = info(in);
    // The row shows what the analysis kept (259 bytes); a saved name is at most 255.
    EXPECT_EQ(before["rows"][0]["name"].get<std::string>(), std::string(259, 'a'));
    ASSERT_EQ(run({"mix", in.string(), "-o", out()}).exitCode, 0);
    const Json after = info(out());
    EXPECT_EQ(after["rows"][0]["name"].get<std::string>(), std::string(255, 'a'));
}

TEST_F(CliMix, BytesAfterTheDeclaredChunksAreCarriedOver) {
    Track listed, extra;
    listed.ev(0, {0x95, 0x3C, 0x40}).ev(0x10, {0x85, 0x3C, 0x33}).end();
    extra.ev(0, {0x90, 0x3C, 0x40}).ev(0x10, {0x80, 0x3C, 0x33}).end();  // not analysed: stays 0x33
    const Bytes tail = cat({mtrk(extra.data), text("tail")});
    const fs::path in = put("tail.mid", cat({smfHeader(0, 1, 96), mtrk(listed.data), tail}));

    ASSERT_EQ(mix({"--mute", "0"}, in).exitCode, 0);
    Track audible, muted;
    audible.raw(panEvent(5)).raw(volEvent(5)).ev(0, {0x95, 0x3C, 0x40});
    audible.ev(0x10, {0x85, 0x3C, 0}).end();
    muted.raw(panEvent(5)).raw(volEvent(5)).ev(0, {0x85, 0x3C, 0x40});
    muted.ev(0x10, {0x95, 0x3C, 0}).end();
    Track named;
    named.name("").raw(audible.data);
    EXPECT_EQ(readBytes(play()), cat({smfHeader(0, 1, 96), mtrk(muted.data), tail}));
    EXPECT_EQ(readBytes(out()), cat({smfHeader(0, 1, 96), mtrk(named.data), tail}));
}

TEST_F(CliMix, SavedFileIsStableUnderASecondMix) {
    ASSERT_EQ(mix({"--solo", "2", "--name", "2=Deep", "--balance", "2=3"}).exitCode, 0);
    const std::string again = path("again.mid").string();
    mixOk(out(), {"-o", again});
    EXPECT_EQ(readBytes(again), readBytes(out()));
    // Only what was asked for is written: no play file in the temporary folder.
    EXPECT_TRUE(fs::is_empty(tmp_));
}

// --- writing ---------------------------------------------------------------

TEST_F(CliMix, OutputIntoAMissingFolderFails) {
    const std::string bad = path("no/such/out.mid").string();
    const RunResult r = run({"mix", in_.string(), "-o", bad});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Error: Tmp File create failed.\n"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(bad));
}

TEST_F(CliMix, SavedFileIsWrittenBeforeThePlayFile) {
    {  // the play file fails after the saved file was written
        const RunResult r =
            run({"mix", in_.string(), "-o", out(), "--play-file", path("no/p.mid").string()});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("Tmp File create failed."), std::string::npos) << r.err;
        EXPECT_EQ(readBytes(out()), Band{}.image());
    }
    {  // one path for both: the play file (muted) is what remains
        const RunResult r =
            run({"mix", in_.string(), "--mute", "1", "-o", out(), "--play-file", out()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readBytes(out()), mutedBand({0, 1, 0, 0}).image());
    }
}

TEST_F(CliMix, ReplacedFilesKeepTheirPermissions) {
    writeBytes(out(), text("old"));
    writeBytes(play(), text("old"));
    ASSERT_EQ(::chmod(out().c_str(), 0640), 0);
    ASSERT_EQ(::chmod(play().c_str(), 0604), 0);
    ASSERT_EQ(mix({}).exitCode, 0);
    struct stat st {};
    ASSERT_EQ(::stat(out().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(::stat(play().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(readBytes(out()), Band{}.image());
    EXPECT_EQ(readBytes(play()), Band{}.image());
}

TEST_F(CliMix, FailedWriteLeavesTheTargetUntouched) {
    const Bytes old = text("the previous contents");
    writeBytes(out(), old);
    ASSERT_GT(Band{}.image().size(), 100u);
    const RunResult r =
        run({"mix", in_.string(), "-o", out()}, rlim_t{100});  // a full disk, in effect
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err, "");
    EXPECT_EQ(readBytes(out()), old);
    for (const auto& e : fs::directory_iterator(dir_))
        EXPECT_EQ(e.path().filename().string().rfind(".lqsave", 0), std::string::npos)
            << "left behind: " << e.path();
}

// --- files the analysis rejects or cannot read -----------------------------------

TEST_F(CliMix, RejectedFilesAreWrittenWhole) {
    Bytes refused = cat({Band{}.file(), text("trailing")});
    refused[9] = 3;  // format 3
    ASSERT_EQ(mix({}, put("refused.mid", refused)).exitCode, 0);
    EXPECT_EQ(readBytes(out()), refused);
    EXPECT_EQ(readBytes(play()), refused);
    fs::remove(out());
    fs::remove(play());
    expectRefused({"--mute", "0"}, path("refused.mid"));  // no rows to click

    Track t;
    t.ev(0, {0x90, 0x3C, 0x40}).ev(0x10, {0x80, 0x3C, 0x40}).end();
    const Bytes many = lirno::smf::file(1, 96, std::vector<Track>(101, t));
    const RunResult r = mix({}, put("many.mid", many));
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err,
              "Error: Sorry: 101 tracks > 100 (Maximum in this version)\n"
              "Attention: This format is not supported! (Try Play only)\n");
    EXPECT_EQ(readBytes(out()), many);
}

TEST_F(CliMix, UnreadableFileWritesNothing) {
    const RunResult r = mix({}, path("missing.mid"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Error: File open failed.\n");
    EXPECT_FALSE(fs::exists(out()));
    EXPECT_FALSE(fs::exists(play()));

    fs::create_directory(path("folder.mid"));
    EXPECT_EQ(mix({}, path("folder.mid")).exitCode, 1);
    EXPECT_FALSE(fs::exists(out()));
}

// --- speed and key written into the file -----------------------------------------

// Tempo (none at tick 0), a lead on channel 0, a part on channel 2 and a
// later track that makes channel 2 a GS rhythm part at tick 48 and plays
// drums and that part. Every listed track starts with a name (and a single-channel
// one with its pan and volume), so the saved file holds these bytes as they
// are. `moved`: as mix --speed 80 --transpose -2 must write them.
Bytes practiceSong(bool moved) {
    auto key = [moved](int k) { return std::uint8_t(moved ? k - 2 : k); };
    Track tempo, lead, part, rhythm;
    if (moved) tempo.tempo(0, 625000);  // the default, 500000 us a quarter, at 80 %
    tempo.tempo(96, moved ? 500000 : 400000).end();
    lead.name("Lead").raw(panEvent(0)).raw(volEvent(0)).ev(0, {0x90, key(60), 100});
    lead.ev(0, {0xA0, key(60), 20});
    if (!moved) lead.ev(0, {0x90, 1, 100}).ev(0, {62, 100});  // below key 0 once moved
    if (moved) lead.ev(0, {0x90, 60, 100});  // running status no more: its status written
    if (!moved) lead.ev(48, {0x80, 1, 0});   // its end goes with it, its time to the next
    lead.ev(moved ? 48 : 0, {0x80, key(60), 0}).ev(0, {key(62), 0}).end(48);
    part.name("Part").raw(panEvent(2)).raw(volEvent(2));
    part.ev(0, {0x92, key(64), 90}).ev(24, {0x92, key(64), 0});  // melodic until tick 48...
    part.ev(72, {0x92, 64, 90}).ev(24, {0x92, 64, 0}).end();     // ...a rhythm part from then
    rhythm.name("Kit").sysex(48, 0xF0,
                             {0x41, 0x10, 0x42, 0x12, 0x40, 0x13, 0x15, 0x01, 0x17, 0xF7});
    rhythm.ev(0, {0x99, 36, 100}).ev(48, {0x92, 38, 100}).ev(24, {0x82, 38, 0});
    rhythm.ev(0, {0x89, 36, 0}).end();
    return lirno::smf::file(1, 96, {tempo, lead, part, rhythm});
}

TEST_F(CliMix, SpeedAndKeyAreWrittenIntoTheFile) {
    const fs::path in = put("practice.mid", practiceSong(false));
    mixOk(in, {"-o", out()});
    ASSERT_EQ(readBytes(out()), practiceSong(false));  // nothing but the settings changes it
    const RunResult r = mix({"--speed", "80", "--transpose", "-2"}, in);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(out()), practiceSong(true));
    EXPECT_EQ(readBytes(play()), practiceSong(true));

    // A tempo at the start is scaled, nothing added; an upward move keeps
    // the drums too, and a note moved past 127 goes with its end.
    Track tempo, high;
    tempo.tempo(0, 600000).end();
    high.name("High").raw(panEvent(0)).raw(volEvent(0)).on(0, 0, 127).off(10, 0, 127, 0);
    high.on(0, 0, 100).ev(10, {0x99, 40, 64}).end();
    Track tempoUp, highUp;
    tempoUp.tempo(0, 300000).end();
    highUp.name("High").raw(panEvent(0)).raw(volEvent(0)).on(10, 0, 101);
    highUp.ev(10, {0x99, 40, 64}).end();
    ASSERT_EQ(mix({"--speed", "200", "--transpose", "1"},
                  put("high.mid", lirno::smf::file(1, 96, {tempo, high})))
                  .exitCode,
              0);
    EXPECT_EQ(readBytes(out()), lirno::smf::file(1, 96, {tempoUp, highUp}));
}

TEST_F(CliMix, SpeedOfASongInSmpteFramesScalesItsTimesWithoutAddingUp) {
    // 25 frames of 40 ticks a second; its tempo event counts for nothing.
    auto song = [](std::initializer_list<std::uint32_t> deltas) {
        Track t;
        t.name("Frames").raw(panEvent(0)).raw(volEvent(0)).tempo(0, 400000);
        for (const std::uint32_t d : deltas) t.ev(d, {0x90, 60, 100}).ev(0, {0x90, 60, 0});
        return lirno::smf::file(0, 0xE728, {t.end()});
    };
    const fs::path in = put("frames.mid", song({10, 10, 10, 200}));
    mixOk(in, {"-o", out()});
    ASSERT_EQ(readBytes(out()), song({10, 10, 10, 200}));
    mixOk(in, {"--speed", "80", "-o", out()});
    // 10, 20, 30 and 230 ticks become 12.5, 25, 37.5 and 287.5, rounded each.
    EXPECT_EQ(readBytes(out()), song({13, 12, 13, 250}));
}

TEST_F(CliMix, SpeedAndKeyOutOfRangeAreRefusedWithTheirRange) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--speed", "24"}, "25 to 200"},      {{"--speed", "201"}, "25 to 200"},
        {{"--speed", "80.5"}, "25 to 200"},    {{"--transpose", "13"}, "-12 to 12"},
        {{"--transpose", "-13"}, "-12 to 12"},
    };
    for (const auto& [args, range] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const RunResult r = mix(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(range), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out()));
        EXPECT_FALSE(fs::exists(play()));
    }
}

}  // namespace
}  // namespace clitest
