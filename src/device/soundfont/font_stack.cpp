#include "device/soundfont/font_stack.h"

#include <fluidsynth.h>

#include "device/errors.h"
#include "device/files.h"
#include "device/soundfont/font_directory.h"

namespace lirno::device {

int FontStack::load(fluid_synth_t* synth, fluid_settings_t* settings,
                    const std::vector<std::string>& paths, bool cut) {
    if (paths.empty()) return kErrNoSoundFont;
    for (const std::string& p : paths) {
        if (!isRegularFile(p)) return kErrNoSoundFont;
    }
    // FluidSynth searches the font loaded last first: the list is loaded
    // from its end. A cut, reloaded later, lands on top, which is harmless:
    // it only ever holds presets its font wins.
    layers_.resize(paths.size());
    cut = cut && SubsetFont::addLoader(synth, settings);
    for (std::size_t i = paths.size(); i-- > 0;) {
        Layer& layer = layers_[i];
        layer.path = paths[i];
        if (cut) {
            if (auto index = FontIndex::read(layer.path)) {
                layer.cut = std::make_unique<SubsetFont>(std::move(*index));
                if (layer.cut->attach(synth)) continue;
                layer.cut.reset();  // the whole file then, and FluidSynth's word on it
            }
        }
        layer.fontId = fluid_synth_sfload(synth, layer.path.c_str(), 1);
        if (layer.fontId == FLUID_FAILED) return kErrSoundFontLoad;
    }
    return 0;
}

bool FontStack::allCut() const noexcept {
    for (const Layer& l : layers_) {
        if (!l.cut) return false;
    }
    return true;
}

SubsetFont* FontStack::firstCut() const noexcept {
    return layers_.empty() ? nullptr : layers_.front().cut.get();
}

bool FontStack::has(fluid_synth_t* synth, const Layer& layer, PresetRef p) const {
    if (layer.cut) return layer.cut->has(p);
    fluid_sfont_t* font = fluid_synth_get_sfont_by_id(synth, layer.fontId);
    return font != nullptr && fluid_sfont_get_preset(font, p.bank, p.program) != nullptr;
}

std::vector<PresetNotes> FontStack::shares(fluid_synth_t* synth, const PresetNotes& played) const {
    std::vector<PresetNotes> out(layers_.size());
    const auto winner = [&](PresetRef p) {
        for (std::size_t i = 0; i < layers_.size(); ++i) {
            if (has(synth, layers_[i], p)) return i;
        }
        return layers_.size();
    };
    const PresetNotes selected =
        notesSelected(played, [&](PresetRef p) { return winner(p) < layers_.size(); });
    for (const auto& [p, notes] : selected) {
        if (const std::size_t i = winner(p); i < layers_.size()) out[i][p] |= notes;
    }
    return out;
}

bool FontStack::holds(fluid_synth_t* synth, const PresetNotes& played,
                      const std::set<PresetRef>& asked) const {
    const std::vector<PresetNotes> wanted = shares(synth, played);
    for (std::size_t i = 0; i < layers_.size(); ++i) {
        const Layer& l = layers_[i];
        if (l.cut ? !covers(l.cut->loaded(), wanted[i])
                  : l.pins.needed(synth, l.fontId, asked) != l.pins.pinned()) {
            return false;
        }
    }
    return true;
}

void FontStack::cover(fluid_synth_t* synth, const PresetNotes& played,
                      const std::set<PresetRef>& asked) {
    const std::vector<PresetNotes> wanted = shares(synth, played);
    for (std::size_t i = 0; i < layers_.size(); ++i) {
        Layer& l = layers_[i];
        if (l.cut) {
            l.cut->coverExactly(synth, wanted[i]);
        } else {
            l.pins.pinOnly(synth, l.fontId, l.pins.needed(synth, l.fontId, asked));
        }
    }
}

}  // namespace lirno::device
