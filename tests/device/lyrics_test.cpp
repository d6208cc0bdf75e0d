// The song's words: where they come from, how they break into lines, and
// the character set they are read in.
#include <gtest/gtest.h>

#include "device/midi_writer.h"
#include "device/song/lyrics.h"

namespace lirno::device {
namespace {

using namespace test;

// At 120 beats a minute, 480 ticks a quarter.
constexpr std::int64_t ns(std::int64_t ticks) {
    return ticks * 500'000'000 / 480;
}

Track lyric(Track t, std::uint32_t delta, std::string_view text) {
    return t.meta(delta, midi::meta::kLyric, text);
}

std::vector<std::string> lineTexts(const Lyrics& lyrics) {
    std::vector<std::string> out;
    for (const LyricLine& line : lyrics.lines) {
        std::string text = line.paragraph ? "\\" : "";
        for (const Syllable& s : line.syllables) text += s.text;
        out.push_back(text);
    }
    return out;
}

TEST(SongLyrics, KaraokeTagsAndBreakMarks) {
    Track tags;
    tags.text(0, "@KMIDI KARAOKE FILE").text(0, "@V0100").text(0, "@LENGL");
    tags.text(0, "@TSong").text(0, "@TSinger").text(0, "@IVersion 1").end();
    Track words;
    words.text(0, "\\Hel").text(240, "lo ").text(240, "and/or").text(480, "/Next");
    words.text(480, "\\Verse").text(0, "/").text(480, "two").end();
    Track credit;  // a note elsewhere in the song is not sung
    credit.text(0, "Sequenced by someone").end();
    const Lyrics lyrics = readLyrics(smf(1, 480, {tags, words, credit}));

    EXPECT_TRUE(lyrics.karaoke);
    EXPECT_EQ(lyrics.charset, "UTF-8");
    EXPECT_EQ(lineTexts(lyrics),
              (std::vector<std::string>{"\\Hello and/or", "Next", "\\Verse", "two"}));
    EXPECT_EQ(lyrics.titles, (std::vector<std::string>{"Song", "Singer"}));
    EXPECT_EQ(lyrics.info, (std::vector<std::string>{"Version 1"}));
    EXPECT_EQ(lyrics.language, "ENGL");
    ASSERT_EQ(lyrics.lines.size(), 4u);
    const auto& first = lyrics.lines[0].syllables;
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[0].timeNs, 0);
    EXPECT_EQ(first[1].text, "lo ");
    EXPECT_EQ(first[1].timeNs, ns(240));
    EXPECT_EQ(lyrics.lines[1].syllables[0].timeNs, ns(960));
    EXPECT_EQ(lyrics.lines[3].syllables[0].timeNs, ns(1920));
}

// Lyric events end lines at CR or LF (CR LF split over two events being one
// break, an empty line a paragraph); text events never join them, nor the
// lyric events of a track with fewer (another voice's copy of the words).
TEST(SongLyrics, LyricEventsAloneAreTheWords) {
    Track t;
    t.text(0, "@TTitle").text(0, "/Not sung");
    t = lyric(lyric(lyric(t, 0, "One "), 120, "line\r"), 120, "\nTwo\r\n");
    t = lyric(lyric(lyric(t, 120, "\r"), 120, "Three"), 120, "/Four");
    t = lyric(t, 120, "Five and more words cut short");
    const Track echo = lyric(lyric(Track{}, 60, "Echo"), 0, "\rEcho").end();
    Bytes file = smf(1, 480, {echo, t.end()});
    file.resize(file.size() - 12);  // the last event cut short, no End of Track
    const Lyrics lyrics = readLyrics(file);

    EXPECT_FALSE(lyrics.karaoke);
    EXPECT_EQ(lineTexts(lyrics), (std::vector<std::string>{"One line", "Two", "\\Three", "Four"}));
    EXPECT_EQ(lyrics.titles, (std::vector<std::string>{"Title"}));
    EXPECT_EQ(lyrics.lines[1].syllables[0].timeNs, ns(240));
}

TEST(SongLyrics, CharacterSetOfTheWholeSong) {
    Track tags;
    tags.text(0, "@KMIDI KARAOKE FILE").text(0, "@T\xCF\xE5\xF1\xED\xFF").end();  // Песня
    Track words;
    for (const char* w : {"\\\xCD\xEE\xF7\xFC, ", "\xF3\xEB\xE8", "\xF6\xE0, ", "/\xF4\xEE",
                          "\xED\xE0\xF0\xFC, ", "\xE0\xEF", "\xF2\xE5", "\xEA\xE0"})
        words.text(120, w);
    const Lyrics cyrillic = readLyrics(smf(1, 480, {tags, words.end()}));
    EXPECT_EQ(cyrillic.charset, "WINDOWS-1251");
    EXPECT_EQ(lineTexts(cyrillic), (std::vector<std::string>{"\\Ночь, улица, ", "фонарь, аптека"}));
    EXPECT_EQ(cyrillic.titles, (std::vector<std::string>{"Песня"}));

    const Lyrics utf8 = readLyrics(smf(0, 480, {lyric(Track{}, 0, "Grüße, Ночь").end()}));
    EXPECT_EQ(utf8.charset, "UTF-8");
    EXPECT_EQ(lineTexts(utf8), (std::vector<std::string>{"Grüße, Ночь"}));

    // Nothing to tell the bytes apart by: each byte is its own character.
    const Lyrics latin1 = readLyrics(smf(0, 480,
                                         {lyric(Track{}, 0,
                                                "A\x81"
                                                "B")
                                              .end()}));
    EXPECT_EQ(latin1.charset, "ISO-8859-1");
    EXPECT_EQ(lineTexts(latin1), (std::vector<std::string>{"A\u0081B"}));

    EXPECT_TRUE(readLyrics(smf(0, 480, {Track{}.text(0, "No tags, no words").end()})).empty());
}

}  // namespace
}  // namespace lirno::device
