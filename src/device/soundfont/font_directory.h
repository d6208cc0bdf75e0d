// The preset directory of a SoundFont file, and fonts cut down from it.
//
// FluidSynth keeps a directory of every preset, instrument and zone of a
// font it loads: about 21 MB for a 140 MB General MIDI font, while its file
// holds that directory in 200 KB. The player keeps the file's own records
// instead and hands FluidSynth a font with only what the song plays: the
// presets, and of those only the zones some note of the song falls in. The
// samples stay where they are in the file, so such a font is the file's
// bytes up to its directory, then a directory of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/soundfont/directory_level.h"
#include "device/soundfont/presets_played.h"

namespace lirno::device {

class FontIndex {
  public:
    // The directory of a SoundFont 2 or 3 file; nothing when the file is not
    // one, or breaks a rule of the format this reader relies on (the synth
    // then loads the whole file the usual way, and says what is wrong).
    static std::optional<FontIndex> read(const std::string& path);

    const std::string& path() const noexcept { return path_; }
    bool has(PresetRef p) const;

    // The directory (the file's last list) of a font with only the presets
    // in `played`, and of their zones only those one of its notes falls in.
    // Zones FluidSynth reads as global are always kept.
    std::vector<std::uint8_t> subset(const PresetNotes& played) const;
    // Where the file's directory starts: a subset font is the file's bytes
    // before it, the RIFF size made right, then the subset's directory.
    std::uint64_t directoryOffset() const noexcept { return directoryOffset_; }

  private:
    std::string path_;
    std::uint64_t directoryOffset_ = 0;
    sf2::Level<sf2::PresetHeader> presets_{sf2::gen::kInstrument};
    sf2::Level<sf2::InstrumentHeader> instruments_{sf2::gen::kSampleId};
    std::vector<sf2::SampleHeader> samples_;  // the terminal one last
};

}  // namespace lirno::device
