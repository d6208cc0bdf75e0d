// The words a song carries: its lyric events, or, in a karaoke file with
// none, the syllables of its text events; converted to UTF-8 from whatever
// character set the song was written in.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lirno::device {

struct Syllable {
    std::int64_t timeNs = 0;  // in the song's own time (at 100 %), as SongEvent
    std::string text;         // UTF-8, without the break marks
};

struct LyricLine {
    std::vector<Syllable> syllables;
    bool paragraph = false;  // a new paragraph (verse) starts with this line
};

struct Lyrics {
    std::vector<LyricLine> lines;
    // Karaoke tags: @T title lines, @I information, @L language; never words.
    std::vector<std::string> titles;
    std::vector<std::string> info;
    std::string language;
    std::string charset;   // what the bytes were read as: "UTF-8", "WINDOWS-1251", ...
    bool karaoke = false;  // the words come from text events
    bool empty() const noexcept { return lines.empty(); }
};

// Reads the words of a Standard MIDI File; none when it has none (or is not
// one). Times follow the song's tempo map exactly as the device plays it.
Lyrics readLyrics(std::span<const std::uint8_t> smf);

}  // namespace lirno::device
