// lirno-midi's sequencer commands: the length the player measures, offline
// rendering, and playing without a window.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli_support.h"

namespace clitest {
namespace {

// Quick and silent: the small SoundFont, no sound card.
class CliSound : public CliTest {
protected:
    void SetUp() override
    {
        CliTest::SetUp();
        ::setenv("LIRNO_AUDIO", "none", 1);
        if (fs::exists("/usr/share/sounds/sf2/TimGM6mb.sf2"))
            ::setenv("LIRNO_SOUNDFONT", "/usr/share/sounds/sf2/TimGM6mb.sf2", 1);
    }
};

// One note per track on the given channels, the End of Track after `quarters`.
Bytes song(std::vector<int> channels, int quarters, std::uint32_t usPerQuarter = 500000)
{
    std::vector<Track> tracks;
    Track tempo;
    tempo.tempo(0, usPerQuarter).end(static_cast<std::uint32_t>(quarters * 96));
    tracks.push_back(tempo);
    for (int c : channels) {
        const auto ch = static_cast<std::uint8_t>(c);
        Track t;
        t.ev(0, {static_cast<std::uint8_t>(0xC0 | ch), 0});
        t.ev(0, {static_cast<std::uint8_t>(0x90 | ch), 60, 110});
        t.ev(static_cast<std::uint32_t>(quarters * 96 - 10), {static_cast<std::uint8_t>(0x80 | ch), 60, 0});
        tracks.push_back(std::move(t.end()));
    }
    return lirno::smf::file(1, 96, tracks);
}

struct Wav {
    int channels = 0, rate = 0, bits = 0;
    std::vector<std::int16_t> samples;
    int peak() const
    {
        int p = 0;
        for (auto s : samples) p = std::max(p, std::abs(int(s)));
        return p;
    }
};

Wav readWav(const fs::path& p)
{
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

TEST_F(CliSound, InfoGivesTheLengthTheDeviceMeasures)
{
    // 8 quarters at 120 a minute: 4 seconds, 32 units.
    EXPECT_EQ(infoOf(song({0}, 8))["length"], 32);
    // 4 quarters at 60 a minute: 4 seconds too.
    EXPECT_EQ(infoOf(song({0}, 4, 1000000))["length"], 32);
    // With the SoundFont a play would use: the user's choice comes first.
    ::setenv("LIRNO_SOUNDFONT", "/fonts/Chosen GM.sf3", 1);
    const Json j = infoOf(song({0}, 8));
    ::unsetenv("LIRNO_SOUNDFONT");
    EXPECT_EQ(j["soundFont"], "/fonts/Chosen GM.sf3");
}

TEST_F(CliSound, RenderWritesTheEditedSong)
{
    const fs::path in = put("two.mid", song({0, 1}, 4));
    const fs::path all = path("all.wav"), muted = path("muted.wav");
    ASSERT_EQ(run({"render", in.string(), "-o", all.string()}).exitCode, 0);
    const RunResult r = run({"render", in.string(), "--mute", "0", "--mute", "1", "-o", muted.string()});
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

TEST_F(CliSound, RenderFromAPositionAndBeyondTheEnd)
{
    const fs::path in = put("long.mid", song({0}, 8));
    ASSERT_EQ(run({"render", in.string(), "--from", "16", "-o", path("half.wav").string()}).exitCode, 0);
    ASSERT_EQ(run({"render", in.string(), "-o", path("whole.wav").string()}).exitCode, 0);
    const Wav half = readWav(path("half.wav")), whole = readWav(path("whole.wav"));
    // Two seconds less of song.
    EXPECT_NEAR(double(whole.samples.size() - half.samples.size()), 2.0 * 44100 * 2, 2.0 * 44100 * 0.1);

    const RunResult beyond = run({"render", in.string(), "--from", "33", "-o", path("x.wav").string()});
    EXPECT_EQ(beyond.exitCode, 1);
    EXPECT_NE(beyond.err.find("beyond"), std::string::npos) << beyond.err;
}

TEST_F(CliSound, RenderRefusesEditsTheViewWouldNotAllow)
{
    const fs::path in = put("one.mid", song({9}, 2));
    const fs::path out = path("x.wav");
    EXPECT_EQ(run({"render", in.string(), "--program", "0=5", "-o", out.string()}).exitCode, 2);
    EXPECT_FALSE(fs::exists(out));
}

// Runs play in a shell so that it can be interrupted after a while.
RunResult playFor(const fs::path& file, const char* seconds, const char* extra = "",
                  const char* env = "")
{
    const std::string cmd = std::string(env) + " timeout --preserve-status -s INT " + seconds + " " +
                            LIRNO_MIDI_BIN + " play '" + file.string() + "' " + extra + " 2>&1";
    RunResult r;
    std::FILE* p = ::popen(cmd.c_str(), "r");
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) r.out += buf;
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

TEST_F(CliSound, PlayRunsToTheEndOrStopsOnCtrlC)
{
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

TEST_F(CliSound, PlayWithoutAnAudioOutputSaysSoOnceAndFails)
{
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
