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
    // Each chunk's records as they are in the file, the terminal one last.
    struct Records {
        std::vector<std::uint8_t> bytes;
        std::size_t size = 0;  // bytes per record
        std::size_t count() const { return bytes.size() / size; }
        const std::uint8_t* at(std::size_t i) const { return bytes.data() + i * size; }
    };
    // Whether a preset's or instrument's zones may be left out one by one:
    // only when the first is the only zone without its target (the global
    // zone), so that what FluidSynth reads as global stays so.
    bool prunable(const Records& headers, std::size_t headerIndexOffset, std::size_t h,
                  const Records& bags, const Records& gens, std::uint16_t target) const;

    std::string path_;
    std::uint64_t directoryOffset_ = 0;
    Records phdr_, pbag_, pmod_, pgen_, inst_, ibag_, imod_, igen_, shdr_;
};

}  // namespace lirno::device
