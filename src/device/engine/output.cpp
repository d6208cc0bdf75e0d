#include "device/engine/output.h"

#include <fluidsynth.h>

#include <cstdlib>
#include <mutex>

#include "device/engine/fluid_log.h"
#include "device/engine/sample_rates.h"
#include "device/soundfont/fluid_handles.h"

namespace lirno::device {
namespace {

class FluidOutput final : public AudioOutput {
  public:
    FluidOutput(SettingsPtr settings, OutputSink& sink) : settings_(std::move(settings)) {
        driver_.reset(new_fluid_audio_driver2(settings_.get(), &FluidOutput::callback, &sink));
    }
    bool opened() const noexcept { return driver_ != nullptr; }

  private:
    static int callback(void* data, int len, int /*nfx*/, float* /*fx*/[], int nout,
                        float* out[]) noexcept {
        if (nout >= 2 && len > 0) {
            static_cast<OutputSink*>(data)->render(out[0], out[1], static_cast<std::size_t>(len));
        }
        return FLUID_OK;
    }

    // The driver goes before the settings it was made from.
    SettingsPtr settings_;
    DriverPtr driver_;
};

}  // namespace

std::unique_ptr<AudioOutput> openFluidOutput(const std::string& driver,
                                             const OutputOptions& options, OutputSink& sink) {
    routeEngineLogs();
    // FluidSynth's JACK driver would start a server when none runs (seconds
    // of waiting and a screen of its messages); a user's own value stands.
    static std::once_flag noServerStart;
    std::call_once(noServerStart, [] { setenv("JACK_NO_START_SERVER", "1", 0); });
    SettingsPtr s(new_fluid_settings());
    if (!s) return nullptr;
    fluid_settings_setnum(s.get(), "synth.sample-rate", kSampleRate);
    fluid_settings_setstr(s.get(), "audio.driver", driver.c_str());
    // Unconnected JACK ports play into nothing.
    fluid_settings_setint(s.get(), "audio.jack.autoconnect", 1);
    fluid_settings_setstr(s.get(), "audio.jack.id", "lirno-player");
    if (options.priority >= 0) {
        fluid_settings_setint(s.get(), "audio.realtime-prio", options.priority);
    }
    if (!options.device.empty()) {
        const std::string key = "audio." + driver + ".device";
        fluid_settings_setstr(s.get(), key.c_str(), options.device.c_str());
    }
    auto out = std::make_unique<FluidOutput>(std::move(s), sink);
    if (!out->opened()) return nullptr;
    return out;
}

std::vector<std::string> driverCandidates(const std::string& wanted) {
    if (!wanted.empty()) return {wanted};
    return {"pulseaudio", "alsa", "jack", "sdl2"};
}

}  // namespace lirno::device
