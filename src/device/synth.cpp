#include "device/synth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <system_error>

#include "device/audio_thread.h"
#include "device/errors.h"
#include "device/scheduler.h"

namespace lirno::device {

void SettingsDeleter::operator()(fluid_settings_t* s) const noexcept { delete_fluid_settings(s); }
void SynthDeleter::operator()(fluid_synth_t* s) const noexcept { delete_fluid_synth(s); }
void DriverDeleter::operator()(fluid_audio_driver_t* d) const noexcept {
    delete_fluid_audio_driver(d);
}

namespace {

SettingsPtr makeSettings(std::uint32_t rate, int polyphony) {
    SettingsPtr s(new_fluid_settings());
    if (!s) return s;
    fluid_settings_setnum(s.get(), "synth.sample-rate", rate);
    if (polyphony > 0) fluid_settings_setint(s.get(), "synth.polyphony", polyphony);
    // Only the thread that renders ever touches a synth, so FluidSynth's own
    // API lock would be pure overhead in the audio callback.
    fluid_settings_setint(s.get(), "synth.threadsafe-api", 0);
    fluid_settings_setint(s.get(), "synth.cpu-cores", 1);
    fluid_settings_setint(s.get(), "synth.lock-memory", 0);
    return s;
}

std::unique_ptr<SynthInstance> loadInto(const std::string& path, std::uint32_t rate = kSampleRate,
                                        int polyphony = 0) {
    auto inst = std::make_unique<SynthInstance>();
    inst->settings = makeSettings(rate, polyphony);
    if (!inst->settings) return nullptr;
    inst->synth.reset(new_fluid_synth(inst->settings.get()));
    if (!inst->synth) return nullptr;
    if (fluid_synth_sfload(inst->synth.get(), path.c_str(), 1) == FLUID_FAILED) return nullptr;
    return inst;
}

void logOffAudioSide(int level, const char* message, void* /*data*/) {
    if (onAudioThread()) return;
    std::fprintf(stderr, "fluidsynth: %s: %s\n", level == FLUID_PANIC ? "panic" : "error", message);
}

// The one piece of process-wide state: a keeper synth per SoundFont, loaded
// once, whose presence keeps FluidSynth's sample cache warm so that every
// later synthesizer for that font loads in a fraction of the time; plus the
// song id counter, which must be unique across the whole process.
class EngineCache {
public:
    static EngineCache& instance() {
        static EngineCache cache;
        return cache;
    }

    bool ensureLoaded(const std::string& path) {
        std::shared_future<bool> done;
        std::promise<bool> mine;
        bool loader = false;
        {
            std::lock_guard lk(m_);
            auto it = fonts_.find(path);
            if (it == fonts_.end()) {
                done = mine.get_future().share();
                fonts_.emplace(path, Entry{done, nullptr});
                loader = true;
            } else {
                done = it->second.done;
            }
        }
        if (loader) {
            auto keeper = loadInto(path);
            const bool ok = keeper != nullptr;
            {
                std::lock_guard lk(m_);
                if (ok) {
                    fonts_[path].keeper = std::move(keeper);
                } else {
                    fonts_.erase(path);  // a later attempt may succeed (file fixed)
                }
            }
            mine.set_value(ok);
        }
        return done.get();
    }

    std::uint32_t nextId() noexcept {
        std::uint32_t id = 0;
        while (id == 0) id = nextId_.fetch_add(1, std::memory_order_relaxed);
        return id;
    }

private:
    EngineCache() {
        // Missing presets on empty channels and the like are expected here;
        // errors still reach stderr, except from the audio side, which must
        // not block on a stream: what FluidSynth reports while rendering is
        // dropped.
        fluid_set_log_function(FLUID_PANIC, &logOffAudioSide, nullptr);
        fluid_set_log_function(FLUID_ERR, &logOffAudioSide, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    }

    struct Entry {
        std::shared_future<bool> done;
        std::unique_ptr<SynthInstance> keeper;
    };
    std::mutex m_;
    std::map<std::string, Entry> fonts_;
    std::atomic<std::uint32_t> nextId_{1};
};

bool isSoundFontFile(const std::filesystem::path& p) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(p, ec)) return false;
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".sf2";
}

std::string firstSoundFontIn(const std::filesystem::path& dir) {
    std::error_code ec;
    std::vector<std::filesystem::path> found;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (isSoundFontFile(it->path())) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? std::string{} : found.front().string();
}

}  // namespace

std::unique_ptr<SynthInstance> createSynth(const std::string& soundFont, int& error,
                                           std::uint32_t rate, int polyphony) {
    error = 0;
    std::error_code ec;
    if (soundFont.empty() || !std::filesystem::is_regular_file(soundFont, ec)) {
        error = kErrNoSoundFont;
        return nullptr;
    }
    EngineCache::instance();  // quiets FluidSynth's chatter before the first synth
    if (!EngineCache::instance().ensureLoaded(soundFont)) {
        error = kErrSoundFontLoad;
        return nullptr;
    }
    auto inst = loadInto(soundFont, rate, polyphony);
    if (!inst) error = kErrSoundFontLoad;
    return inst;
}

std::uint32_t nextSongId() noexcept { return EngineCache::instance().nextId(); }

std::string findSoundFont() {
    if (const char* env = std::getenv("LIRNO_SOUNDFONT"); env != nullptr && *env != '\0') {
        return env;
    }
    const std::filesystem::path preferred = "/usr/share/sounds/sf2/default-GM.sf2";
    if (isSoundFontFile(preferred)) return preferred.string();
    for (const char* dir : {"/usr/share/sounds/sf2", "/usr/share/soundfonts"}) {
        if (std::string f = firstSoundFontIn(dir); !f.empty()) return f;
    }
    return {};
}

std::vector<std::string> driverCandidates(const std::string& wanted) {
    if (!wanted.empty()) return {wanted};
    return {"pulseaudio", "alsa", "jack", "sdl2"};
}

}  // namespace lirno::device
