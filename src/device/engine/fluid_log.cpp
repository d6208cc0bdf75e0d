#include "device/engine/fluid_log.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "device/engine/audio_thread.h"

namespace lirno::device {
namespace {

thread_local int quietDepth = 0;

bool silenced() noexcept {
    return quietDepth > 0 || onAudioThread();
}

void fluidError(int level, const char* message, void* /*data*/) {
    if (silenced()) return;
    std::fprintf(stderr, "fluidsynth: %s: %s\n", level == FLUID_PANIC ? "panic" : "error", message);
}

// ALSA's library prints its configuration errors itself unless given this.
void alsaError(const char* file, int line, const char* function, int err, const char* fmt, ...) {
    if (silenced()) return;
    std::fprintf(stderr, "ALSA lib %s:%d:(%s) ", file, line, function);
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
    if (err != 0) std::fprintf(stderr, ": %s", snd_strerror(err));
    std::fputc('\n', stderr);
}

}  // namespace

void routeEngineLogs() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Missing presets on empty channels and the like are expected here.
        fluid_set_log_function(FLUID_PANIC, &fluidError, nullptr);
        fluid_set_log_function(FLUID_ERR, &fluidError, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
        snd_lib_error_set_handler(alsaError);
    });
}

bool attemptsQuiet() noexcept {
    return quietDepth > 0;
}

QuietAttempts::QuietAttempts() {
    routeEngineLogs();
    ++quietDepth;
}

QuietAttempts::~QuietAttempts() {
    --quietDepth;
}

}  // namespace lirno::device
