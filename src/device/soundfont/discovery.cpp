#include "device/soundfont/discovery.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <system_error>

#include "device/files.h"
#include "device/soundfont/fluid_handles.h"

namespace lirno::device {
namespace {

namespace fs = std::filesystem;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool isSoundFont(const fs::path& p) {
    const std::string ext = lower(p.extension().string());
    return (ext == ".sf2" || ext == ".sf3") && isRegularFile(p);
}

// "FluidR3_GM", "TimGM6mb", "default-GM", "gm-full": names that say GM.
bool saysGM(const fs::path& p) {
    const std::string stem = p.stem().string();
    if (stem.find("GM") != std::string::npos) return true;
    std::string token;
    std::istringstream words(lower(stem));
    while (std::getline(words, token, '_')) {
        std::istringstream parts(token);
        std::string part;
        while (std::getline(parts, part, '-')) {
            if (part == "gm") return true;
        }
    }
    return false;
}

std::vector<fs::path> soundFontsIn(const fs::path& dir) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (isSoundFont(it->path())) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string fluidDefaultSoundFont() {
    SettingsPtr s(new_fluid_settings());
    char* value = nullptr;
    if (!s || fluid_settings_dupstr(s.get(), "synth.default-soundfont", &value) != FLUID_OK)
        return {};
    std::string path = value != nullptr ? value : "";
    fluid_free(value);
    return path;
}

void addDirs(std::vector<fs::path>& dirs, const std::string& list) {
    std::istringstream in(list);
    std::string dir;
    while (std::getline(in, dir, ':')) {
        if (!dir.empty()) dirs.emplace_back(dir);
    }
}

}  // namespace

SoundFontPlaces soundFontPlacesFromEnvironment() {
    SoundFontPlaces p;
    p.chosen = env("LIRNO_SOUNDFONT");
    p.synthDefault = fluidDefaultSoundFont();
    if (const std::string home = env("XDG_DATA_HOME"); !home.empty()) {
        p.dataDirs.emplace_back(home);
    } else if (const std::string user = env("HOME"); !user.empty()) {
        p.dataDirs.push_back(fs::path(user) / ".local/share");
    }
    const std::string dirs = env("XDG_DATA_DIRS");
    addDirs(p.dataDirs, dirs.empty() ? "/usr/local/share:/usr/share" : dirs);
    return p;
}

std::string findSoundFont(const SoundFontPlaces& places) {
    if (!places.chosen.empty()) return places.chosen;
    if (isRegularFile(places.synthDefault)) return places.synthDefault;
    for (const fs::path& dir : places.dataDirs) {
        for (const char* link : {"sounds/sf2/default-GM.sf2", "sounds/sf3/default-GM.sf3"}) {
            if (isRegularFile(dir / link)) return (dir / link).string();
        }
    }
    std::vector<fs::path> all;
    for (const fs::path& dir : places.dataDirs) {
        for (const char* sub : {"sounds/sf2", "sounds/sf3", "soundfonts"}) {
            const auto found = soundFontsIn(dir / sub);
            all.insert(all.end(), found.begin(), found.end());
        }
    }
    const auto gm = std::find_if(all.begin(), all.end(), saysGM);
    if (gm != all.end()) return gm->string();
    return all.empty() ? std::string{} : all.front().string();
}

std::string findSoundFont() {
    return findSoundFont(soundFontPlacesFromEnvironment());
}

std::vector<std::string> chosenSoundFonts() {
    return splitFontList(env("LIRNO_SOUNDFONT"));
}

std::vector<std::string> splitFontList(const std::string& joined) {
    std::vector<std::string> out;
    std::istringstream list(joined);
    for (std::string path; std::getline(list, path, ':');) {
        if (!path.empty()) out.push_back(path);
    }
    return out;
}

}  // namespace lirno::device
