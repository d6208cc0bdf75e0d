#include "device/engine/audio_thread.h"

#include <cstdio>
#include <cstdlib>

namespace lirno::device {
namespace {
thread_local bool audioSide = false;
}  // namespace

AudioScope::AudioScope() noexcept : outer_(!audioSide) { audioSide = true; }
AudioScope::~AudioScope() {
    if (outer_) audioSide = false;
}

bool onAudioThread() noexcept { return audioSide; }

void ControlMutex::check() noexcept {
#ifndef NDEBUG
    if (audioSide) {
        std::fputs("lirno: the audio side took the device lock\n", stderr);
        std::abort();
    }
#endif
}

}  // namespace lirno::device
