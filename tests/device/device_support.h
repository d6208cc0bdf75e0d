// What the device tests share: a collector of completion notices and a
// simple song of a given length.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "device/device.h"
#include "device/engine/fluid_device.h"
#include "midi_writer.h"

namespace lirno::device::test {

// Collects notices from the device's thread and lets the test wait for them.
class Notices {
  public:
    Notifier notifier() {
        return [this](DeviceId id, int code) {
            std::lock_guard lk(m_);
            got_.push_back({id, code, std::this_thread::get_id()});
            cv_.notify_all();
        };
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lk(m_);
        return cv_.wait_for(lk, timeout, [&] { return got_.size() >= count; });
    }
    std::vector<int> codes() {
        std::lock_guard lk(m_);
        std::vector<int> c;
        for (const auto& n : got_) c.push_back(n.code);
        return c;
    }
    std::size_t size() {
        std::lock_guard lk(m_);
        return got_.size();
    }
    std::thread::id thread(std::size_t i) {
        std::lock_guard lk(m_);
        return got_.at(i).thread;
    }

  private:
    struct Got {
        DeviceId id;
        int code;
        std::thread::id thread;
    };
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Got> got_;
};

// A device on the test clock, with the small font: the caller renders
// exactly what the audio callback would.
inline DeviceSettings manualSettings() {
    DeviceSettings s;
    s.audioDriver = kAudioManual;
    s.soundFont = LIRNO_TEST_SOUNDFONT;
    return s;
}

// A song of `seconds` (whole quarter notes at 120 bpm, 2 per second).
inline Bytes songOfSeconds(int seconds) {
    Track t;
    t.program(0, 0, 0);
    for (int i = 0; i < seconds * 2; ++i) t.on(0, 0, 60 + i % 12).off(96, 0, 60 + i % 12);
    t.eot();
    return test::smf(0, 96, {t});
}

}  // namespace lirno::device::test
