// lirno-midi's sequencer commands: the length the player measures, offline
// rendering, and playing without a window.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "cli_support.h"

namespace clitest {
namespace {

using CliSound = CliSilentTest;

// One note per track on the given channels, the End of Track after `quarters`.
Bytes song(std::vector<int> channels, int quarters, std::uint32_t usPerQuarter = 500000) {
    std::vector<Track> tracks;
    Track tempo;
    tempo.tempo(0, usPerQuarter).end(static_cast<std::uint32_t>(quarters * 96));
    tracks.push_back(tempo);
    for (int c : channels) {
        const auto ch = static_cast<std::uint8_t>(c);
        Track t;
        t.ev(0, {static_cast<std::uint8_t>(0xC0 | ch), 0});
        t.ev(0, {static_cast<std::uint8_t>(0x90 | ch), 60, 110});
        t.ev(static_cast<std::uint32_t>(quarters * 96 - 10),
             {static_cast<std::uint8_t>(0x80 | ch), 60, 0});
        tracks.push_back(std::move(t.end()));
    }
    return lirno::smf::file(1, 96, tracks);
}

struct Wav {
    int channels = 0, rate = 0, bits = 0;
    std::vector<std::int16_t> samples;
    int peak() const {
        int p = 0;
        for (auto s : samples) p = std::max(p, std::abs(int(s)));
        return p;
    }
};

Wav readWav(const fs::path& p) {
    const Bytes b = readBytes(p);
    Wav w;
    if (b.size() < 44 || std::string(b.begin(), b.begin() + 4) != "RIFF") return w;
    auto u16 = [&](std::size_t at) { return b[at] | (b[at + 1] << 8); };
    auto u32 = [&](std::size_t at) { return u16(at) | (u16(at + 2) << 16); };
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string id(b.begin() + long(at), b.begin() + long(at) + 4);
        const std::size_t len = static_cast<std::size_t>(u32(at + 4));
        if (id == "fmt ") {
            w.channels = u16(at + 10);
            w.rate = u32(at + 12);
            w.bits = u16(at + 22);
        } else if (id == "data") {
            for (std::size_t i = at + 8; i + 1 < at + 8 + len && i + 1 < b.size(); i += 2)
                w.samples.push_back(static_cast<std::int16_t>(u16(i)));
        }
        at += 8 + len + (len & 1);
    }
    return w;
}

TEST_F(CliSound, InfoGivesTheLengthTheDeviceMeasures) {
    // 8 quarters at 120 a minute: 4 seconds, 32 units.
    EXPECT_EQ(infoOf(song({0}, 8))["length"], 32);
    // 4 quarters at 60 a minute: 4 seconds too.
    EXPECT_EQ(infoOf(song({0}, 4, 1000000))["length"], 32);
    // With the SoundFont a play would use: the user's choice comes first.
    ::setenv("LIRNO_SOUNDFONT", "/fonts/Chosen GM.sf3", 1);
    const Json j = infoOf(song({0}, 8));
    ::setenv("LIRNO_SOUNDFONT", "/fonts/Piano.sf2:/fonts/Chosen GM.sf3", 1);
    const Json stacked = infoOf(song({0}, 8));
    ::unsetenv("LIRNO_SOUNDFONT");
    EXPECT_EQ(j["soundFont"], Json::array({"/fonts/Chosen GM.sf3"}));
    EXPECT_EQ(stacked["soundFont"], Json::array({"/fonts/Piano.sf2", "/fonts/Chosen GM.sf3"}));
}

// The [Sound] group as the player's window saves it (QSettings' INI file).
void saveSound(const fs::path& configHome, const std::string& lines) {
    fs::create_directories(configHome / "lirno");
    std::ofstream(configHome / "lirno" / "Lirno Player.conf") << "[General]\nreverb=on\n\n[Sound]\n"
                                                              << lines << "\n[Other]\nchorus=on\n";
}

TEST_F(CliSound, SoundComesFromTheSavedChoiceUnlessTheOptionsSayOtherwise) {
    const std::string small = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    const std::string large = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    if (!fs::exists(small) || !fs::exists(large)) GTEST_SKIP() << "needs both fonts";
    const fs::path in = put("one.mid", song({0}, 2));
    const auto render = [&](const std::string& name, std::vector<std::string> args) {
        std::vector<std::string> command = {"render", in.string(), "-o", path(name).string()};
        command.insert(command.end(), args.begin(), args.end());
        const RunResult r = run(command);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return readBytes(path(name));
    };
    const auto plain = render("plain.wav", {});
    const auto dry = render("dry.wav", {"--reverb", "off", "--chorus", "off"});
    EXPECT_NE(dry, plain);
    EXPECT_NE(render("room.wav", {"--reverb", "0.9,1"}), plain);
    // Saved: no effects, the small font over the large one, quoted and escaped as QSettings may.
    saveSound(dir_ / "config", "soundFonts=\"" + small + ":" + large +
                                   "\"\nreverb=off\nreverbRoom=0.5\nchorus=\\x6f\\x66\\x66");
    ::unsetenv("LIRNO_SOUNDFONT");
    EXPECT_EQ(infoOf(song({0}, 2))["soundFont"], Json::array({small, large}));
    EXPECT_EQ(render("saved.wav", {}), dry);
    // The options win over the saved choice, and LIRNO_SOUNDFONT over its list.
    EXPECT_EQ(
        render("options.wav", {"--soundfont", small, "--reverb", "0.2,0.9", "--chorus", "on"}),
        plain);
    ::setenv("LIRNO_SOUNDFONT", large.c_str(), 1);
    EXPECT_EQ(infoOf(song({0}, 2))["soundFont"], Json::array({large}));
    ::setenv("LIRNO_SOUNDFONT", small.c_str(), 1);
}

TEST_F(CliSound, RenderWritesTheEditedSong) {
    const fs::path in = put("two.mid", song({0, 1}, 4));
    const fs::path all = path("all.wav"), muted = path("muted.wav");
    ASSERT_EQ(run({"render", in.string(), "-o", all.string()}).exitCode, 0);
    const RunResult r =
        run({"render", in.string(), "--mute", "0", "--mute", "1", "-o", muted.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Rendered"), std::string::npos);  // the final line when not on a terminal

    const Wav a = readWav(all), m = readWav(muted);
    EXPECT_EQ(a.channels, 2);
    EXPECT_EQ(a.rate, 44100);
    EXPECT_EQ(a.bits, 16);
    // Two seconds of song (and whatever tail the engine lets ring), both channels.
    EXPECT_GE(a.samples.size(), 2u * 44100 * 2);
    EXPECT_GT(a.peak(), 1000);
    EXPECT_LT(m.peak(), 50);  // every track muted: silence

    const RunResult again = run({"render", in.string(), "-o", path("again.wav").string()});
    ASSERT_EQ(again.exitCode, 0);
    EXPECT_EQ(readBytes(path("again.wav")), readBytes(all));  // the same every time
}

TEST_F(CliSound, RenderFromAPositionAndBeyondTheEnd) {
    // A note struck each second: from either start the render ends alike,
    // once the last note has died away.
    Track t;
    t.tempo(0, 500000);
    for (int i = 0; i < 4; ++i)
        t.ev(0, {0x90, 60, 100}).ev(180, {0x80, 60, 0}).ev(12, {0xB0, 1, 0});
    const fs::path in = put("long.mid", lirno::smf::file(0, 96, {t.end()}));
    ASSERT_EQ(
        run({"render", in.string(), "--from", "16", "-o", path("half.wav").string()}).exitCode, 0);
    ASSERT_EQ(run({"render", in.string(), "-o", path("whole.wav").string()}).exitCode, 0);
    const Wav half = readWav(path("half.wav")), whole = readWav(path("whole.wav"));
    // Two seconds less of song.
    EXPECT_NEAR(double(whole.samples.size() - half.samples.size()), 2.0 * 44100 * 2,
                2.0 * 44100 * 0.1);

    const RunResult beyond =
        run({"render", in.string(), "--from", "33", "-o", path("x.wav").string()});
    EXPECT_EQ(beyond.exitCode, 1);
    EXPECT_NE(beyond.err.find("beyond"), std::string::npos) << beyond.err;
}

// Every file in the test's folder, hidden ones included.
std::vector<std::string> filesIn(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(CliSound, RenderRefusesWhatItCannotDoAndWritesNothing) {
    const fs::path in = put("one.mid", song({9}, 2));
    const auto before = filesIn(dir_);
    const fs::path out = path("x.wav");
    EXPECT_EQ(run({"render", in.string(), "--program", "0=5", "-o", out.string()}).exitCode, 2);
    RunResult r = run({"render", in.string(), "-o", path("x.aiff").string()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("'.aiff' is not an audio format"), std::string::npos) << r.err;
    EXPECT_EQ(
        run({"render", in.string(), "--stems", path("st").string(), "--format", "doc"}).exitCode,
        2);
    EXPECT_EQ(run({"render", in.string(), "-o", out.string(), "--rate", "8000"}).exitCode, 2);
    EXPECT_EQ(run({"render", in.string(), "-o", out.string(), "--normalize", "3"}).exitCode, 2);
    // Speed, key and section: out of range, malformed, or not in the song (one second long).
    const std::vector<std::pair<std::vector<std::string>, std::string>> practice = {
        {{"--speed", "300"}, "25 to 200"},
        {{"--transpose", "-20"}, "-12 to 12"},
        {{"--section", "2"}, "FROM..TO"},
        {{"--section", "1:1..x"}, "FROM..TO"},
        {{"--section", "2..1"}, "ends where it starts or before"},
        {{"--section", "u8..u8"}, "ends where it starts or before"},
        {{"--section", "1:5..2"}, "no bar and beat 1:5"},
        {{"--section", "9..10"}, "starts at or after the song's end"},
        {{"--section", "1..2", "--from", "1"}, "excludes"},
        {{"--reverb", "0.5,2"}, "each from 0 to 1"},
        {{"--reverb", "wet"}, "each from 0 to 1"},
        {{"--chorus", "11"}, "from 0 to 10"},
    };
    for (const auto& [args, why] : practice) {
        SCOPED_TRACE(::testing::PrintToString(args));
        std::vector<std::string> command = {"render", in.string(), "-o", out.string()};
        command.insert(command.end(), args.begin(), args.end());
        r = run(command);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
        command[0] = "play";
        command.erase(command.begin() + 2, command.begin() + 4);
        if (args.back() != "1") {  // play has no --from
            EXPECT_EQ(run(command).err, r.err);
        }
    }
    EXPECT_EQ(filesIn(dir_), before);
}

TEST_F(CliSound, FailedRenderLeavesTheOldFileAndNothingElse) {
    const fs::path in = put("long.mid", song({0, 1}, 40));  // 20 s: far more than the limit
    const fs::path out = path("keep.flac");
    writeBytes(out, Bytes{'o', 'l', 'd'});
    const auto before = filesIn(dir_);
    const RunResult r = run({"render", in.string(), "-o", out.string()}, 64 * 1024);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot"), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(out), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(filesIn(dir_), before);
}

// Four named tracks on channels 0 to 3; track i sounds from 2i s to 2i+0.5 s.
Bytes spacedSong() {
    std::vector<Track> tracks;
    Track tempo;
    tempo.tempo(0, 500000).end(8 * 192);
    tracks.push_back(tempo);
    const char* names[] = {"Lead Voice", "Bass/2", "Strings", "Muted one"};
    for (int i = 0; i < 4; ++i) {
        const auto ch = static_cast<std::uint8_t>(i);
        Track t;
        t.name(names[i]);
        t.ev(0, {static_cast<std::uint8_t>(0xC0 | ch), static_cast<std::uint8_t>(i * 8)});
        t.ev(static_cast<std::uint32_t>(i * 384), {static_cast<std::uint8_t>(0x90 | ch), 60, 110});
        t.ev(96, {static_cast<std::uint8_t>(0x80 | ch), 60, 0});
        tracks.push_back(std::move(t.end()));
    }
    return lirno::smf::file(1, 96, tracks);
}

double rmsOver(const Wav& w, double from, double to) {
    const auto a = std::min(w.samples.size(), static_cast<std::size_t>(from * 44100) * 2);
    const auto b = std::min(w.samples.size(), static_cast<std::size_t>(to * 44100) * 2);
    double sum = 0;
    for (std::size_t i = a; i < b; ++i) sum += double(w.samples[i]) * w.samples[i];
    return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
}

TEST_F(CliSound, StemsHoldEachAudibleTrackAloneAndSumToTheMix) {
    const fs::path in = put("spaced.mid", spacedSong());
    const fs::path stems = path("stems"), mix = path("mix.wav");
    const RunResult r =
        run({"render", in.string(), "--mute", "3", "-o", mix.string(), "--stems", stems.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("3 stems"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the stems sum to the mix within"), std::string::npos) << r.err;

    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(stems))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    // The muted row has no stem.
    ASSERT_EQ(names,
              (std::vector<std::string>{"01-Lead_Voice.wav", "02-Bass_2.wav", "03-Strings.wav"}));

    const Wav m = readWav(mix);
    std::vector<Wav> s;
    for (const auto& n : names) s.push_back(readWav(stems / n));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(s[i].samples.size(), m.samples.size()) << names[i];  // they line up
        const double own = rmsOver(s[i], 2.0 * i, 2.0 * i + 0.5);
        EXPECT_GT(own, 300.0) << names[i];
        for (int j = 0; j < 3; ++j) {
            if (j == i) continue;
            EXPECT_LT(rmsOver(s[i], 2.0 * j, 2.0 * j + 0.5), 0.05 * own) << names[i] << " at " << j;
        }
    }
    int worst = 0;
    for (std::size_t k = 0; k < m.samples.size(); ++k)
        worst = std::max(
            worst, std::abs(s[0].samples[k] + s[1].samples[k] + s[2].samples[k] - m.samples[k]));
    // Measured: 115 (-49 dB of full scale), at the third track's first note;
    // a missing or misplaced stem would be off by thousands.
    EXPECT_LE(worst, 200);
}

TEST_F(CliSound, RenderASectionOnceFromItsStart) {
    // Bar 2 (2 s to 4 s at 120 a minute in 4/4) holds the second track's
    // note alone; the third's starts where the bar ends.
    const fs::path in = put("spaced.mid", spacedSong());
    auto render = [&](std::vector<std::string> flags) {
        flags.insert(flags.begin(), {"render", in.string(), "-o", path("bar.wav").string()});
        const RunResult r = run(flags);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return readWav(path("bar.wav"));
    };
    for (const char* section : {"2..3", "u16..u32", "2:1..3:1"}) {
        SCOPED_TRACE(section);
        const Wav bar = render({"--section", section});
        const double note = rmsOver(bar, 0.0, 0.5);
        EXPECT_GT(note, 300.0);                          // at once
        EXPECT_LT(rmsOver(bar, 2.0, 2.5), 0.05 * note);  // not the next bar's note
        EXPECT_GE(bar.samples.size(), 2u * 44100 * 2);   // the whole bar, then its ring
        EXPECT_LE(bar.samples.size(), 7u * 44100 * 2);   // at most 5 s of ring past its end
    }
    const Wav slow = render({"--section", "2..3", "--speed", "50"});
    const double note = rmsOver(slow, 0.0, 0.5);
    EXPECT_GT(note, 300.0);
    EXPECT_LT(rmsOver(slow, 4.0, 4.5), 0.05 * note);
    EXPECT_GE(slow.samples.size(), 4u * 44100 * 2);  // the bar takes twice as long
}

// The energy of the difference of two renders, over the first one's energy.
double differenceEnergy(const Wav& a, const Wav& b) {
    double diff = 0, energy = 0;
    for (std::size_t i = 0; i < std::min(a.samples.size(), b.samples.size()); ++i) {
        const double x = a.samples[i] - b.samples[i];
        diff += x * x;
        energy += double(a.samples[i]) * a.samples[i];
    }
    return energy > 0 ? diff / energy : 1.0;
}

// Four bars of a band: a melody, a bass, drums on channel 10 and a part
// that a GS message makes a rhythm part, over a tempo change.
Bytes bandSong() {
    Track tempo, melody, bass, drums, rhythm;
    tempo.tempo(0, 500000).tempo(384, 420000).end(384);
    melody.program(0, 0, 0);
    for (const int k : {60, 62, 64, 65, 67, 69, 71, 72})
        melody.on(0, 0, k, 100).off(80, 0, k, 0).ev(16, {0xB0, 1, 0});
    bass.program(0, 1, 33);
    for (const int k : {36, 43, 41, 38})
        bass.on(0, 1, k, 110).off(180, 1, k, 0).ev(12, {0xB1, 1, 0});
    rhythm.sysex(0, 0xF0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x13, 0x15, 0x01, 0x17, 0xF7});
    for (int i = 0; i < 8; ++i)
        drums.on(0, 9, 36, 100).off(48, 9, 36, 0).on(0, 9, 42, 80).off(48, 9, 42, 0);
    for (int i = 0; i < 4; ++i) rhythm.on(i == 0 ? 96 : 144, 2, 38, 110).off(48, 2, 38, 0);
    return lirno::smf::file(1, 96, {tempo, melody, bass, drums.end(), rhythm.end()});
}

TEST_F(CliSound, RenderAtASpeedAndKeySoundsLikeTheFileMixWrites) {
    const fs::path in = put("band.mid", bandSong());
    const fs::path slow = path("slow.mid");
    ASSERT_EQ(run({"mix", in.string(), "--speed", "80", "--transpose", "-2", "-o", slow.string()})
                  .exitCode,
              0);
    auto render = [&](const fs::path& song, std::vector<std::string> flags, const char* name) {
        flags.insert(flags.begin(), {"render", song.string(), "-o", path(name).string()});
        const RunResult r = run(flags);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return readWav(path(name));
    };
    const Wav played = render(in, {"--speed", "80", "--transpose", "-2"}, "played.wav");
    const Wav written = render(slow, {}, "written.wav");
    const Wav semitone = render(in, {"--speed", "80", "--transpose", "-1"}, "semitone.wav");
    // 3.68 s of events at 100 %, 4.6 s at 80 %.
    ASSERT_GT(played.samples.size(), std::size_t(4.6 * 44100) * 2);
    EXPECT_LE(std::abs(long(played.samples.size()) - long(written.samples.size())), 2 * 64);
    // Measured: the two are the same to the sample here. A Set Tempo holds
    // whole microseconds, so elsewhere an event may fall into the next
    // block (up to 0.97 % of the energy in the real songs tried at 80 %); a
    // semitone off differs by 146 %, 81 % speed for 80 by 173 %.
    EXPECT_LE(differenceEnergy(played, written), 0.05);
    EXPECT_GT(differenceEnergy(played, semitone), 0.5);
}

// Runs lirno-midi in a shell so that it can be interrupted after a while.
RunResult interruptAfter(const char* seconds, const std::string& args, const char* env = "") {
    const std::string cmd = std::string(env) + " timeout --preserve-status -s INT " + seconds +
                            " " + LIRNO_MIDI_BIN + " " + args + " 2>&1";
    RunResult r;
    std::FILE* p = ::popen(cmd.c_str(), "r");
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) r.out += buf;
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

RunResult playFor(const fs::path& file, const char* seconds, const char* extra = "",
                  const char* env = "") {
    return interruptAfter(seconds, "play '" + file.string() + "' " + extra, env);
}

TEST_F(CliSound, RenderStoppedByCtrlCLeavesNothing) {
    // Ten minutes less five seconds: a longer silence before the notes' end
    // would end the render there.
    const fs::path in = put("long.mid", song({0, 1, 2}, 1190));
    const auto before = filesIn(dir_);
    const RunResult r =
        interruptAfter("1", "render '" + in.string() + "' -o '" + path("x.flac").string() +
                                "' --stems '" + path("st").string() + "'");
    EXPECT_EQ(r.exitCode, 130) << r.out;
    EXPECT_NE(r.out.find("interrupted"), std::string::npos) << r.out;
    fs::remove(path("st"));  // the folder itself is made before the work; it must be empty
    EXPECT_EQ(filesIn(dir_), before);
}

TEST_F(CliSound, PlayRunsToTheEndOrStopsOnCtrlC) {
    const fs::path shortSong = put("short.mid", song({0}, 2));  // one second
    RunResult r = playFor(shortSong, "20");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("0:00.0 / 0:01.0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Played to the end."), std::string::npos);

    const fs::path longSong = put("long.mid", song({0}, 120));  // a minute
    r = playFor(longSong, "1", "--loop");
    EXPECT_EQ(r.exitCode, 130) << r.out;
    EXPECT_NE(r.out.find("Stopped."), std::string::npos);
}

TEST_F(CliSound, PlayWithoutAnAudioOutputSaysSoOnceAndFails) {
    const fs::path shortSong = put("short.mid", song({0}, 2));
    const RunResult r = playFor(shortSong, "20", "", "LIRNO_AUDIO=no-such-driver");
    EXPECT_EQ(r.exitCode, 1) << r.out;
    const std::string text = "No audio output could be opened (tried no-such-driver)";
    const auto at = r.out.find(text);
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(text, at + 1), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("fluidsynth: error"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace clitest
