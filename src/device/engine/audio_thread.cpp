#include "device/engine/audio_thread.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace lirno::device {
namespace {
thread_local bool audioSide = false;
}  // namespace

AudioScope::AudioScope() noexcept : outer_(!audioSide) {
    audioSide = true;
}
AudioScope::~AudioScope() {
    if (outer_) audioSide = false;
}

bool onAudioThread() noexcept {
    return audioSide;
}

void ControlMutex::check() noexcept {
#ifndef NDEBUG
    if (audioSide) {
        std::fputs("lirno: the audio side took the device lock\n", stderr);
        std::abort();
    }
#endif
}

SynthClaim::SynthClaim(std::atomic_flag& flag) noexcept {
    // The audio side holds it for one block at most.
    while (flag.test_and_set(std::memory_order_acquire))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    flag_ = &flag;
}

}  // namespace lirno::device
