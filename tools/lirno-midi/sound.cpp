#include "sound.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "device/engine/synth.h"
#include "device/soundfont/discovery.h"

namespace lirno::cli {

namespace {

// The whole text a number, within [lo, hi].
std::optional<double> number(const std::string& text, double lo, double hi) {
    double v = 0;
    const char* last = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), last, v);
    if (text.empty() || ec != std::errc() || p != last || !(v >= lo && v <= hi))
        return std::nullopt;
    return v;
}

std::optional<bool> onOff(const std::string& text) {
    if (text == "on") return true;
    if (text == "off") return false;
    return std::nullopt;
}

bool parseReverb(const std::string& text, device::Reverb& r) {
    if (const auto on = onOff(text)) {
        r.on = *on;
        return true;
    }
    const auto comma = text.find(',');
    if (comma == std::string::npos) return false;
    const auto room = number(text.substr(0, comma), 0, 1);
    const auto level = number(text.substr(comma + 1), 0, 1);
    if (!room || !level) return false;
    r = {true, *room, *level};
    return true;
}

bool parseChorus(const std::string& text, device::Chorus& c) {
    if (const auto on = onOff(text)) {
        c.on = *on;
        return true;
    }
    const auto level = number(text, 0, 10);
    if (!level) return false;
    c = {true, *level};
    return true;
}

void appendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A value as QSettings writes it: maybe in double quotes, with C-style
// backslash escapes inside or out.
std::string unquote(const std::string& raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') continue;
        if (c != '\\' || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const char e = raw[++i];
        switch (e) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'x': {
                unsigned v = 0;
                const char* from = raw.data() + i + 1;
                const auto [p, ec] =
                    std::from_chars(from, raw.data() + std::min(raw.size(), i + 5), v, 16);
                if (ec == std::errc()) appendUtf8(out, v);
                i = static_cast<std::size_t>(p - raw.data()) - 1;
                break;
            }
            default:
                out += e;  // \\, \", \' and the rest stand for themselves
        }
    }
    if (out.size() >= 2 && out[0] == '@' && out[1] == '@') out.erase(0, 1);
    return out;
}

std::string trim(const std::string& s) {
    const auto a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

std::filesystem::path settingsFile() {
    namespace fs = std::filesystem;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    fs::path dir = config != nullptr && *config != '\0' ? fs::path(config)
                   : home != nullptr                    ? fs::path(home) / ".config"
                                                        : fs::path();
    return dir.empty() ? dir : dir / "lirno" / "Lirno Player.conf";
}

// Sets one saved key; a value out of its range leaves the default.
void takeSaved(device::SoundSettings& s, const std::string& key, const std::string& value) {
    if (key == "soundFonts") s.soundFonts = device::splitFontList(value);
    if (key == "reverb" && onOff(value)) s.reverb.on = *onOff(value);
    if (key == "reverbRoom" && number(value, 0, 1)) s.reverb.room = *number(value, 0, 1);
    if (key == "reverbLevel" && number(value, 0, 1)) s.reverb.level = *number(value, 0, 1);
    if (key == "chorus" && onOff(value)) s.chorus.on = *onOff(value);
    if (key == "chorusLevel" && number(value, 0, 10)) s.chorus.level = *number(value, 0, 10);
}

}  // namespace

device::SoundSettings savedSound() {
    // Bounded: a settings file is small, and nothing here reads more.
    constexpr std::size_t kMaxLines = 10000;
    constexpr std::size_t kMaxLine = 64 * 1024;
    device::SoundSettings s;
    const std::filesystem::path file = settingsFile();
    if (file.empty()) return s;
    std::ifstream in(file);
    bool inSound = false;
    std::string line;
    for (std::size_t n = 0; n < kMaxLines && std::getline(in, line); ++n) {
        if (line.size() > kMaxLine) continue;
        const std::string t = trim(line);
        if (!t.empty() && t.front() == '[') {
            inSound = t == "[Sound]";
            continue;
        }
        const auto eq = t.find('=');
        if (inSound && eq != std::string::npos)
            takeSaved(s, trim(t.substr(0, eq)), unquote(trim(t.substr(eq + 1))));
    }
    return s;
}

void addSoundOptions(CLI::App& command, SoundFlags& flags) {
    command.add_option("--soundfont", flags.soundFont,
                       "the SoundFonts, F[:F...], the first winning where two define a preset");
    command.add_option("--reverb", flags.reverb, "on, off, or ROOM,LEVEL (each 0 to 1)")
        ->check(CLI::Validator(
            [](std::string& v) {
                device::Reverb r;
                return parseReverb(v, r) ? std::string()
                                         : "takes on, off or ROOM,LEVEL, each from 0 to 1";
            },
            "on|off|ROOM,LEVEL"));
    command.add_option("--chorus", flags.chorus, "on, off, or LEVEL (0 to 10)")
        ->check(CLI::Validator(
            [](std::string& v) {
                device::Chorus c;
                return parseChorus(v, c) ? std::string() : "takes on, off or a LEVEL from 0 to 10";
            },
            "on|off|LEVEL"));
}

device::SoundSettings soundFor(const SoundFlags& flags) {
    device::SoundSettings s = savedSound();
    if (const auto chosen = device::chosenSoundFonts(); !chosen.empty()) s.soundFonts = chosen;
    if (!flags.soundFont.empty()) s.soundFonts = device::splitFontList(flags.soundFont);
    if (!flags.reverb.empty()) parseReverb(flags.reverb, s.reverb);
    if (!flags.chorus.empty()) parseChorus(flags.chorus, s.chorus);
    return s;
}

std::vector<std::string> soundFontList() {
    return device::withFonts(soundFor({}), device::findSoundFont()).soundFonts;
}

}  // namespace lirno::cli
