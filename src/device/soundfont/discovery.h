// Finding the General MIDI SoundFont to play with.
//
// In this order: LIRNO_SOUNDFONT; FluidSynth's own default when that file
// exists; the distribution's default-GM.sf2 and default-GM.sf3 links; then
// any .sf2 or .sf3 in the data folders (the user's first), preferring one
// whose name says GM.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace lirno::device {

struct SoundFontPlaces {
    std::string chosen;        // LIRNO_SOUNDFONT: used as it is, even if missing
    std::string synthDefault;  // FluidSynth's synth.default-soundfont
    // $XDG_DATA_HOME, then each of $XDG_DATA_DIRS (with their standard defaults).
    std::vector<std::filesystem::path> dataDirs;
};

SoundFontPlaces soundFontPlacesFromEnvironment();

// The SoundFont to use, or "" when there is none. LIRNO_SOUNDFONT may name
// several joined with ':' (a stack, the first winning): it comes back as it is.
std::string findSoundFont(const SoundFontPlaces& places);
std::string findSoundFont();

// The fonts LIRNO_SOUNDFONT names, in order; empty when it is not set. For
// the run it is set in, they win over any list the user saved.
std::vector<std::string> chosenSoundFonts();
// The paths of a list joined with ':'.
std::vector<std::string> splitFontList(const std::string& joined);

}  // namespace lirno::device
