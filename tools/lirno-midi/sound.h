// The sound on the command line: the SoundFonts and effects the player's
// window saved, LIRNO_SOUNDFONT over its fonts, and options over both.
#pragma once

#include <optional>
#include <string>

#include "device/device.h"

namespace CLI {
class App;
}

namespace lirno::cli {

struct SoundFlags {
    std::string soundFont;  // --soundfont F[:F...]
    std::string reverb;     // --reverb on|off|ROOM,LEVEL
    std::string chorus;     // --chorus on|off|LEVEL
};

// Adds --soundfont, --reverb and --chorus to a command; values out of their
// ranges are refused while parsing.
void addSoundOptions(CLI::App& command, SoundFlags& flags);

// The sound a command plays with. Empty soundFonts: the one found on the system.
device::SoundSettings soundFor(const SoundFlags& flags);

// The [Sound] group the player keeps in its settings file
// ($XDG_CONFIG_HOME/lirno/Lirno Player.conf): defaults for what it lacks
// or holds out of range.
device::SoundSettings savedSound();

// The fonts a play uses when nothing else names them: the saved list,
// LIRNO_SOUNDFONT over it, else the one found on the system (none: empty).
std::vector<std::string> soundFontList();

}  // namespace lirno::cli
