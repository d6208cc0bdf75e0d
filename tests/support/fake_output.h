// Audio outputs for tests: drivers that open or not, and outputs that pull
// like a sound card, as fast as they can, or die.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/engine/output.h"

namespace lirno::test {

// Which drivers open, and how their outputs behave. Outlives every device
// made with its factory.
class FakeDrivers {
  public:
    void work(std::vector<std::string> drivers) {
        std::lock_guard lk(m_);
        working_ = std::move(drivers);
    }
    // Outputs pull as fast as they can instead of at the pace of a card.
    std::atomic<bool> instant{false};
    // Outputs give up after this many 64-frame blocks (negative: never).
    std::atomic<long> lossAfter{-1};
    // Open outputs give up at their next block, and no driver opens.
    void die() {
        work({});
        dead_.store(true);
    }
    void revive(std::vector<std::string> drivers) {
        dead_.store(false);
        work(std::move(drivers));
    }

    device::OutputFactory factory() {
        return [this](const std::string& driver, const device::OutputOptions&,
                      device::OutputSink& sink) -> std::unique_ptr<device::AudioOutput> {
            std::lock_guard lk(m_);
            if (std::find(working_.begin(), working_.end(), driver) == working_.end())
                return nullptr;
            return std::make_unique<Output>(*this, sink);
        };
    }

  private:
    class Output final : public device::AudioOutput {
      public:
        Output(FakeDrivers& drivers, device::OutputSink& sink)
            : thread_([this, &drivers, &sink] {
                  std::vector<float> l(64), r(64);
                  for (long n = 1; !stop_.load(); ++n) {
                      const long loss = drivers.lossAfter.load();
                      if (drivers.dead_.load() || (loss >= 0 && n > loss)) {
                          sink.outputLost();
                          return;
                      }
                      sink.render(l.data(), r.data(), l.size());
                      if (!drivers.instant.load())
                          std::this_thread::sleep_for(std::chrono::microseconds(1451));
                  }
              }) {}
        ~Output() override {
            stop_.store(true);
            thread_.join();
        }

      private:
        std::atomic<bool> stop_{false};
        std::thread thread_;
    };

    std::mutex m_;
    std::vector<std::string> working_;
    std::atomic<bool> dead_{false};
};

}  // namespace lirno::test
