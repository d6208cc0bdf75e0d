// lirno-midi lyrics: the song's words with their times, as plain lines or an
// LRC file for karaoke and media players.
#include "device/song/lyrics.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "device/errors.h"
#include "device/files.h"
#include "device/song/song_file.h"

namespace lirno::cli {

namespace {

// "m:ss.cc" (plain) or "mm:ss.cc" (LRC); hundredths cut, not rounded, so a
// syllable is never shown before it is sung.
std::string timeText(std::int64_t ns, bool lrc) {
    const std::int64_t cs = ns / 10'000'000;
    char text[32];
    std::snprintf(text, sizeof text, lrc ? "%02lld:%02lld.%02lld" : "%lld:%02lld.%02lld",
                  static_cast<long long>(cs / 6000), static_cast<long long>(cs / 100 % 60),
                  static_cast<long long>(cs % 100));
    return text;
}

void printPlain(const device::Lyrics& lyrics) {
    bool first = true;
    for (const device::LyricLine& line : lyrics.lines) {
        if (line.paragraph && !first) std::cout << '\n';
        first = false;
        std::string text;
        for (const device::Syllable& s : line.syllables) text += s.text;
        text.erase(text.find_last_not_of(' ') + 1);
        std::cout << '[' << timeText(line.syllables.front().timeNs, false) << "] " << text << '\n';
    }
}

// Enhanced LRC: each line's time, then each syllable's before it.
void printLrc(const device::Lyrics& lyrics) {
    if (!lyrics.titles.empty()) std::cout << "[ti:" << lyrics.titles.front() << "]\n";
    for (const device::LyricLine& line : lyrics.lines) {
        std::cout << '[' << timeText(line.syllables.front().timeNs, true) << ']';
        for (const device::Syllable& s : line.syllables)
            std::cout << '<' << timeText(s.timeNs, true) << '>' << s.text;
        std::cout << '\n';
    }
}

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    if (!device::isRegularFile(path)) return false;
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int runLyrics(const std::string& file, bool lrc) {
    std::vector<std::uint8_t> bytes;
    if (!readFile(file, bytes)) {
        std::fprintf(stderr, "lirno-midi: cannot read %s\n", file.c_str());
        return 1;
    }
    const device::Lyrics lyrics = device::readLyrics(bytes);
    if (lyrics.empty()) {
        std::shared_ptr<const device::Song> song;
        const auto why = device::errorTextFor(device::parseSong(bytes, song));
        std::fprintf(stderr, "lirno-midi: %s: %s\n", file.c_str(),
                     why ? why->c_str() : "the song has no words");
        return 1;
    }
    if (lrc) {
        printLrc(lyrics);
    } else {
        printPlain(lyrics);
    }
    return std::cout.flush() ? 0 : 1;
}

}  // namespace lirno::cli
