// A synthesizer's SoundFont cut down to what the songs it plays need.
#pragma once

#include "device/soundfont/font_directory.h"
#include "device/soundfont/presets_played.h"

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

namespace lirno::device {

class SubsetFont {
  public:
    explicit SubsetFont(FontIndex index) : index_(std::move(index)) {}

    // Gives a new synthesizer the loader that reads cut-down fonts (of any
    // file): once, before any font is loaded into it (FluidSynth takes
    // loaders only then). False when it cannot be made.
    static bool addLoader(fluid_synth_t* synth, fluid_settings_t* settings);
    // Loads a cut without presets into a synthesizer that has the loader, so
    // that the file's header is checked at once. False when FluidSynth refuses it.
    bool attach(fluid_synth_t* synth);

    // Whether the loaded cut already holds what `played` needs.
    bool holds(const PresetNotes& played) const;
    // Makes the synthesizer's font hold what `played` needs, after the
    // synthesizer's fallbacks for presets the file lacks: when the loaded cut
    // lacks a preset or a note, a new cut replaces it. Every preset of the
    // cut is pinned. Reads the file: call it off the audio thread, while
    // nothing renders. False when FluidSynth refused the new cut (the old
    // one stays).
    bool cover(fluid_synth_t* synth, const PresetNotes& played);
    // cover() for presets already chosen (a font of a stack gets those it wins).
    bool coverExactly(fluid_synth_t* synth, const PresetNotes& selected);
    bool has(PresetRef p) const { return index_.has(p); }

    int fontId() const noexcept { return fontId_; }
    const PresetNotes& loaded() const noexcept { return loaded_; }

  private:
    PresetNotes selected(const PresetNotes& played) const;
    bool load(fluid_synth_t* synth, const PresetNotes& selected);

    FontIndex index_;
    PresetNotes loaded_;
    int fontId_ = -1;
};

}  // namespace lirno::device
