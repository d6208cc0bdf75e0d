// lirno-midi lyrics on files built byte by byte: the words' times follow the
// song's tempo map, as plain lines and as an LRC file.
#include "cli_support.h"

namespace clitest {
namespace {

class CliLyrics : public CliTest {};

Track lyric(Track t, std::uint32_t delta, std::string_view text) {
    return t.meta(delta, lirno::midi::meta::kLyric, text);
}

// At 480 ticks a quarter: 120 bpm, then half as fast from tick 960 (1 s),
// where a tick lasts 1/480 s.
TEST_F(CliLyrics, TimesFollowTheTempoMap) {
    Track tempo;
    tempo.tempo(0, 500'000).tempo(960, 1'000'000).text(0, "@TSong").end();
    Track words = lyric(lyric(lyric(Track{}, 0, "Hel"), 480, "lo\r"), 480, "World ");
    words = lyric(lyric(words, 50, "again\r"), 28'750, "End");  // 1 + 50/480 s; 61 s
    const fs::path song = put("song.mid", lirno::smf::file(1, 480, {tempo, words.end()}));

    const RunResult plain = run({"lyrics", song.string()});
    EXPECT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(plain.out, "[0:00.00] Hello\n[0:01.00] World again\n[1:01.00] End\n");

    const RunResult lrc = run({"lyrics", song.string(), "--lrc"});
    EXPECT_EQ(lrc.exitCode, 0) << lrc.err;
    EXPECT_EQ(lrc.out,
              "[ti:Song]\n"
              "[00:00.00]<00:00.00>Hel<00:00.50>lo\n"
              "[00:01.00]<00:01.00>World <00:01.10>again\n"
              "[01:01.00]<01:01.00>End\n");

    Track silent;
    silent.tempo(0, 500'000).text(0, "Just a note, no tags").end();
    const RunResult none =
        run({"lyrics", put("none.mid", lirno::smf::file(0, 480, {silent})).string()});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.out.empty());
    EXPECT_NE(none.err.find("no words"), std::string::npos) << none.err;
}

}  // namespace
}  // namespace clitest
