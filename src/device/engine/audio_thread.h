// The audio side's one rule, checked: the thread that renders never waits.
//
// Rendering runs inside an AudioScope. The control side's lock is a
// ControlMutex, which builds with assertions (Debug, the sanitizer test run)
// refuse to take on the audio side: a test that renders through the device
// proves that the callback takes no lock. FluidSynth's log also stays off
// the audio side (see synth.cpp).
#pragma once

#include <atomic>
#include <mutex>

namespace lirno::device {

// Marks the calling thread as the audio side while in scope.
class AudioScope {
  public:
    AudioScope() noexcept;
    ~AudioScope();
    AudioScope(const AudioScope&) = delete;
    AudioScope& operator=(const AudioScope&) = delete;

  private:
    bool outer_;
};

bool onAudioThread() noexcept;

// The device's lock: held by control threads for short bookkeeping only,
// never taken on the audio side.
class ControlMutex {
  public:
    void lock() {
        check();
        m_.lock();
    }
    bool try_lock() {
        check();
        return m_.try_lock();
    }
    void unlock() { m_.unlock(); }

  private:
    static void check() noexcept;
    std::mutex m_;
};

// A hold on the synthesizer, released when it goes out of scope. The audio
// side only ever tries for it (and renders silence while another holds it);
// a control thread waits for it.
class SynthClaim {
  public:
    SynthClaim() noexcept = default;                       // holds nothing until tryTake()
    explicit SynthClaim(std::atomic_flag& flag) noexcept;  // waits: never on the audio side
    ~SynthClaim() {
        if (flag_ != nullptr) flag_->clear(std::memory_order_release);
    }
    SynthClaim(const SynthClaim&) = delete;
    SynthClaim& operator=(const SynthClaim&) = delete;

    bool tryTake(std::atomic_flag& flag) noexcept {
        if (flag_ == nullptr && !flag.test_and_set(std::memory_order_acquire)) flag_ = &flag;
        return flag_ == &flag;
    }

  private:
    std::atomic_flag* flag_ = nullptr;
};

}  // namespace lirno::device
