#include "device/engine/synth.h"

#include <fluidsynth.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "device/engine/fluid_log.h"
#include "device/errors.h"
#include "device/files.h"
#include "device/soundfont/discovery.h"

namespace lirno::device {

namespace {

SettingsPtr makeSettings(std::uint32_t rate, int polyphony, const SoundSettings& sound) {
    SettingsPtr s(new_fluid_settings());
    if (!s) return s;
    // The scheduler switches the effects on and off around plays; these
    // are their levels, and whether it switches them on at all.
    fluid_settings_setnum(s.get(), "synth.reverb.room-size", sound.reverb.room);
    fluid_settings_setnum(s.get(), "synth.reverb.level", sound.reverb.level);
    fluid_settings_setnum(s.get(), "synth.chorus.level", sound.chorus.level);
    fluid_settings_setint(s.get(), "synth.reverb.active", sound.reverb.on ? 1 : 0);
    fluid_settings_setint(s.get(), "synth.chorus.active", sound.chorus.on ? 1 : 0);
    fluid_settings_setnum(s.get(), "synth.sample-rate", rate);
    if (polyphony > 0) fluid_settings_setint(s.get(), "synth.polyphony", polyphony);
    // Only the thread that renders ever touches a synth, so FluidSynth's own
    // API lock would be pure overhead in the audio callback.
    fluid_settings_setint(s.get(), "synth.threadsafe-api", 0);
    // Songs address their GS and XG messages to device 16 (0x10) nearly
    // always; FluidSynth takes only those sent to its own id or to all. A
    // part the song turns into a rhythm part then plays drums, as the key
    // shift already takes it to.
    fluid_settings_setint(s.get(), "synth.device-id", 16);
    fluid_settings_setint(s.get(), "synth.cpu-cores", 1);
    fluid_settings_setint(s.get(), "synth.lock-memory", 0);
    // A GM font holds hundreds of instruments and a song uses a few dozen:
    // read only those (a large font then loads in a fraction of the time and
    // memory). The player pins a song's presets before it plays.
    fluid_settings_setint(s.get(), "synth.dynamic-sample-loading", 1);
    return s;
}

// The one piece of process-wide state: the song id counter, which must be
// unique across the whole process; made before the first synthesizer.
class EngineCache {
  public:
    static EngineCache& instance() {
        static EngineCache cache;
        return cache;
    }

    std::uint32_t nextId() noexcept {
        std::uint32_t id = 0;
        while (id == 0) id = nextId_.fetch_add(1, std::memory_order_relaxed);
        return id;
    }

  private:
    EngineCache() {
        routeEngineLogs();
        // The first synthesizer of the process fills FluidSynth's shared
        // tables, and others made meanwhile on other threads do not wait for
        // that (offline renders make several at once): make one here, where
        // every other thread waits.
        SettingsPtr settings(new_fluid_settings());
        if (settings) SynthPtr(new_fluid_synth(settings.get()));
    }

    std::atomic<std::uint32_t> nextId_{1};
};

}  // namespace

std::unique_ptr<SynthInstance> createSynth(const std::string& soundFont, int& error,
                                           std::uint32_t rate, int polyphony, FontUse use) {
    return createSynth(withFonts({}, soundFont), error, rate, polyphony, use);
}

std::unique_ptr<SynthInstance> createSynth(const SoundSettings& sound, int& error,
                                           std::uint32_t rate, int polyphony, FontUse use) {
    error = 0;
    for (const std::string& path : sound.soundFonts) {
        if (!isRegularFile(path)) error = kErrNoSoundFont;
    }
    if (sound.soundFonts.empty()) error = kErrNoSoundFont;
    if (error != 0) return nullptr;
    EngineCache::instance();  // quiets FluidSynth's chatter before the first synth
    auto inst = std::make_unique<SynthInstance>();
    inst->settings = makeSettings(rate, polyphony, sound);
    if (inst->settings) inst->synth.reset(new_fluid_synth(inst->settings.get()));
    if (!inst->synth) {
        error = kErrSoundFontLoad;
        return nullptr;
    }
    error = inst->fonts.load(inst->synth.get(), inst->settings.get(), sound.soundFonts,
                             use == FontUse::AsPlayed);
    if (error != 0) return nullptr;
    return inst;
}

SoundSettings withFonts(SoundSettings sound, const std::string& fallback) {
    if (sound.soundFonts.empty()) sound.soundFonts = splitFontList(fallback);
    return sound;
}

std::uint32_t nextSongId() noexcept {
    return EngineCache::instance().nextId();
}

}  // namespace lirno::device
