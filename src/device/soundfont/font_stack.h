// Several SoundFonts in one synthesizer, the first in the list winning
// where two define the same preset, each cut down to what the songs play
// from it.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "device/soundfont/font_cut.h"
#include "device/soundfont/presets_played.h"

namespace lirno::device {

class FontStack {
  public:
    // Loads `paths` into a synthesizer that has no font yet: cut down as the
    // songs need them when `cut`, and a file this program cannot cut whole.
    // Returns 0, kErrNoSoundFont or kErrSoundFontLoad.
    int load(fluid_synth_t* synth, fluid_settings_t* settings,
             const std::vector<std::string>& paths, bool cut);

    // Whether every font is cut (pinning then needs no presetsAskedFor).
    bool allCut() const noexcept;
    // Whether the fonts already hold what `played` (or, for fonts loaded
    // whole, `asked`) needs.
    bool holds(fluid_synth_t* synth, const PresetNotes& played,
               const std::set<PresetRef>& asked) const;
    // Makes them hold it: each cut font gets the presets it wins, with their
    // notes; each whole font has the asked presets it defines pinned. Reads
    // the files: off the audio thread, while nothing renders.
    void cover(fluid_synth_t* synth, const PresetNotes& played, const std::set<PresetRef>& asked);

    std::size_t size() const noexcept { return layers_.size(); }
    // The first font's cut, or null when it is loaded whole.
    SubsetFont* firstCut() const noexcept;

  private:
    struct Layer {
        std::string path;
        int fontId = -1;                  // loaded whole
        std::unique_ptr<SubsetFont> cut;  // or cut down
        PresetPins pins;
    };
    bool has(fluid_synth_t* synth, const Layer& layer, PresetRef p) const;
    // What each cut font must hold for `played`: the synthesizer's choice
    // among the presets any font defines, given to the first font that has it.
    std::vector<PresetNotes> shares(fluid_synth_t* synth, const PresetNotes& played) const;

    std::vector<Layer> layers_;
};

}  // namespace lirno::device
