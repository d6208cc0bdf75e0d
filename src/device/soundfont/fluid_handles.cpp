#include "device/soundfont/fluid_handles.h"

#include <fluidsynth.h>

namespace lirno::device {

void SettingsDeleter::operator()(fluid_settings_t* s) const noexcept {
    delete_fluid_settings(s);
}
void SynthDeleter::operator()(fluid_synth_t* s) const noexcept {
    delete_fluid_synth(s);
}
void DriverDeleter::operator()(fluid_audio_driver_t* d) const noexcept {
    delete_fluid_audio_driver(d);
}

}  // namespace lirno::device
