// Owning handles for FluidSynth's settings, synthesizers and audio drivers.
#pragma once

#include <memory>

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

}  // namespace lirno::device
