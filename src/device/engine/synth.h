// The synthesizer: FluidSynth made with the SoundFont, whole or cut to the songs; song ids.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/device.h"
#include "device/engine/sample_rates.h"
#include "device/soundfont/fluid_handles.h"
#include "device/soundfont/font_stack.h"

namespace lirno::device {

// A synthesizer with its own settings and the SoundFonts loaded. Members are
// declared so that the synth goes before the settings it was made from.
struct SynthInstance {
    SettingsPtr settings;
    SynthPtr synth;
    // Cut down as the songs need them with FontUse::AsPlayed (each file this
    // program can cut), otherwise whole.
    FontStack fonts;
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
                                           std::uint32_t rate = kSampleRate, int polyphony = 0,
                                           FontUse use = FontUse::Whole);
// The same with a stack of SoundFonts (sound.soundFonts, not empty) and the
// effects of `sound`.
std::unique_ptr<SynthInstance> createSynth(const SoundSettings& sound, int& error,
                                           std::uint32_t rate = kSampleRate, int polyphony = 0,
                                           FontUse use = FontUse::Whole);

// `sound` with its stack made explicit: `fallback` (one path or several
// joined with ':', as LIRNO_SOUNDFONT names them) when it names none.
SoundSettings withFonts(SoundSettings sound, const std::string& fallback);

// Ids for opened songs: never 0 and never reused in this process.
std::uint32_t nextSongId() noexcept;

}  // namespace lirno::device
