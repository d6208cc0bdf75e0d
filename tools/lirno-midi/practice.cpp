#include "practice.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>

#include "device/errors.h"
#include "device/song/song_file.h"
#include "device/song/timing.h"

namespace lirno::cli {

namespace {

// One end of a section: a bar and beat of the song, or a position in units.
struct SectionEnd {
    std::optional<device::BarBeat> at;
    std::uint32_t units = 0;
};

std::optional<SectionEnd> parseEnd(const std::string& text) {
    if (!text.empty() && text.front() == 'u') {
        SectionEnd e;
        const char* first = text.data() + 1;
        const char* last = text.data() + text.size();
        const auto [p, ec] = std::from_chars(first, last, e.units);
        if (first == last || ec != std::errc() || p != last) return std::nullopt;
        return e;
    }
    const auto at = device::parseBarBeat(text);
    if (!at) return std::nullopt;
    return SectionEnd{at, 0};
}

bool parseSection(const std::string& text, SectionEnd& from, SectionEnd& to) {
    const auto dots = text.find("..");
    if (dots == std::string::npos) return false;
    const auto a = parseEnd(text.substr(0, dots));
    const auto b = parseEnd(text.substr(dots + 2));
    if (!a || !b) return false;
    from = *a;
    to = *b;
    return true;
}

std::string describe(const SectionEnd& e) {
    return e.at ? "bar and beat " + device::formatBarBeat(*e.at) : "u" + std::to_string(e.units);
}

// The tick an end names; nothing for a bar or beat the song does not count.
std::optional<std::uint64_t> tickOf(const device::SongTiming& timing, const SectionEnd& e) {
    if (e.at) return timing.tickOf(*e.at);
    return timing.nsToTick(device::unitsToNs(e.units));
}

// Why the section does not fit the song, or nothing when it does.
std::optional<std::string> placeSection(const device::Song& song, const std::string& text,
                                        device::Passage& passage) {
    SectionEnd from, to;
    parseSection(text, from, to);  // its form was checked while parsing the command line
    const device::SongTiming& timing = *song.timing;
    const auto a = tickOf(timing, from);
    const auto b = tickOf(timing, to);
    if (!a || !b)
        return "the song has no " + describe(a ? to : from) +
               " (both count from 1; a bar has the beats of its time signature)";
    constexpr std::uint64_t kLast = std::numeric_limits<std::uint32_t>::max();
    passage = {static_cast<std::uint32_t>(std::min(*a, kLast)),
               static_cast<std::uint32_t>(std::min(*b, kLast))};
    if (passage.fromTick >= passage.toTick)
        return "the section " + text + " ends where it starts or before";
    if (timing.tickToNs(passage.fromTick) >= song.endNs)
        return "the section " + text + " starts at or after the song's end";
    return std::nullopt;
}

}  // namespace

void addPracticeOptions(CLI::App& command, PracticeFlags& flags, bool section) {
    command
        .add_option("--speed", flags.speed,
                    "percent of the song's tempo, " + std::to_string(device::kMinSpeed) + " to " +
                        std::to_string(device::kMaxSpeed))
        ->check(CLI::Range(device::kMinSpeed, device::kMaxSpeed))
        ->type_name("PCT");
    command
        .add_option("--transpose", flags.transpose,
                    "semitones to move every note but the drum parts' by, " +
                        std::to_string(device::kMinTranspose) + " to " +
                        std::to_string(device::kMaxTranspose))
        ->check(CLI::Range(device::kMinTranspose, device::kMaxTranspose))
        ->type_name("N");
    if (!section) return;
    const CLI::Validator form(
        [](std::string& text) {
            SectionEnd from, to;
            return parseSection(text, from, to)
                       ? std::string()
                       : "expected FROM..TO, each end BAR, BAR:BEAT or u and a number of units";
        },
        "");
    command
        .add_option("--section", flags.section,
                    "only the passage from FROM up to TO, each a bar (9), a bar and beat (9:3) "
                    "or a position in units of 1/8 second (u40); play repeats it")
        ->check(form)
        ->type_name("FROM..TO");
}

int practiceSettings(std::span<const std::uint8_t> song, const PracticeFlags& flags,
                     device::PlaybackSettings& settings, std::uint32_t& startUnits) {
    settings = {flags.speed, flags.transpose, std::nullopt};
    startUnits = 0;
    if (flags.section.empty()) return 0;
    std::shared_ptr<const device::Song> parsed;
    if (const int code = device::parseSong(song, parsed)) {
        const auto text = device::errorTextFor(code);
        std::fprintf(stderr, "lirno-midi: %s\n", text ? text->c_str() : "the song cannot be read");
        return 1;
    }
    device::Passage passage;
    if (const auto why = placeSection(*parsed, flags.section, passage)) {
        std::fprintf(stderr, "lirno-midi: refused: %s\n", why->c_str());
        return 2;
    }
    settings.passage = passage;
    startUnits =
        static_cast<std::uint32_t>(parsed->timing->tickToNs(passage.fromTick) / device::kNsPerUnit);
    return 0;
}

}  // namespace lirno::cli
