// FluidSynth ownership and the process-wide SoundFont cache.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/font_subset.h"
#include "device/soundfont.h"

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_audio_driver_t fluid_audio_driver_t;

namespace lirno::device {

struct SettingsDeleter {
    void operator()(fluid_settings_t* s) const noexcept;
};
struct SynthDeleter {
    void operator()(fluid_synth_t* s) const noexcept;
};
struct DriverDeleter {
    void operator()(fluid_audio_driver_t* d) const noexcept;
};
using SettingsPtr = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using SynthPtr = std::unique_ptr<fluid_synth_t, SynthDeleter>;
using DriverPtr = std::unique_ptr<fluid_audio_driver_t, DriverDeleter>;

// A synthesizer with its own settings and the SoundFont loaded. Members are
// declared so that the synth goes before the settings it was made from.
struct SynthInstance {
    SettingsPtr settings;
    SynthPtr synth;
    int fontId = -1;  // the SoundFont's id in the synth, when loaded whole
    // When the font is loaded as the songs need it (FontUse::AsPlayed, and
    // the file is a SoundFont this program can cut down).
    std::unique_ptr<SubsetFont> cut;
};

enum class FontUse {
    Whole,     // FluidSynth's directory of every preset; samples as selected
    AsPlayed,  // only the presets and zones the songs play (see SubsetFont)
};

// Makes a stereo synthesizer at `rate` with the given SoundFont and at most
// `polyphony` voices (0: FluidSynth's default, 256). Only the font's
// directory is read here; a preset's samples are read when it is first
// selected or pinned (and shared by every synthesizer of the process that
// uses them). Blocks: call it off the caller's thread. Returns null and sets
// `error` (kErrNoSoundFont, kErrSoundFontLoad) on failure.
std::unique_ptr<SynthInstance> createSynth(const std::string& soundFont, int& error,
                                           std::uint32_t rate = 44100, int polyphony = 0,
                                           FontUse use = FontUse::Whole);

// FluidSynth's errors go to stderr from now on, except from the audio side
// and from attempts kept quiet (QuietAttempts); its chatter is off.
void routeFluidSynthLog();

// Ids for opened songs: never 0 and never reused in this process.
std::uint32_t nextSongId() noexcept;

}  // namespace lirno::device
