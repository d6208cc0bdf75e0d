// MIDI ports for tests: an input the test plays into, and outputs to ports
// that the test drives by hand, each pump a render call of the device's
// clock, with what was sent logged at its absolute frame.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "device/engine/output.h"
#include "device/errors.h"
#include "device/ports/midi_ports.h"

namespace lirno::test {

class FakePorts final : public device::MidiPorts {
  public:
    struct Sent {
        std::string port;
        std::uint64_t frame = 0;  // of the whole run of pumps
        std::vector<std::uint8_t> bytes;
    };

    explicit FakePorts(std::vector<std::string> destinations = {"fake:synth:0", "fake:other:0"})
        : destinations_(std::move(destinations)) {}

    // No MIDI system for the input: openInput gives null.
    bool noInput = false;

    std::vector<device::PortInfo> sources() override { return {{"fake:keys:0", "Keys", true}}; }
    std::vector<device::PortInfo> destinations() override {
        std::vector<device::PortInfo> out;
        for (const auto& d : destinations_) out.push_back({d, d, false});
        return out;
    }
    std::unique_ptr<device::MidiInput> openInput(device::MidiInputSink& sink) override {
        if (noInput) return nullptr;
        return std::make_unique<Input>(*this, sink);
    }
    std::unique_ptr<device::MidiOutput> openOutput(const std::string& port,
                                                   device::OutputSink& clock, int& error) override {
        if (std::find(destinations_.begin(), destinations_.end(), port) == destinations_.end()) {
            error = device::kErrMidiPort;
            return nullptr;
        }
        return std::make_unique<Output>(*this, port, clock);
    }

    // A message from the keyboard, arriving at `timeNs` (steady clock).
    void play(std::int64_t timeNs, std::uint8_t status, std::uint8_t d1, std::uint8_t d2 = 0) {
        std::lock_guard lk(m_);
        if (sink_ != nullptr) sink_->midiIn({timeNs, status, d1, d2});
    }
    // One render call of `frames` on every open output.
    void pump(std::size_t frames) {
        std::lock_guard lk(m_);
        for (Output* o : outputs_) o->clock.render(nullptr, nullptr, frames);
        frame_ += frames;
    }
    // Every open output's port goes away.
    void lose() {
        std::lock_guard lk(m_);
        for (Output* o : outputs_) o->clock.outputLost();
    }
    std::vector<Sent> sent() {
        std::lock_guard lk(m_);
        return sent_;
    }
    void clearSent() {
        std::lock_guard lk(m_);
        sent_.clear();
    }
    std::size_t openOutputs() {
        std::lock_guard lk(m_);
        return outputs_.size();
    }
    std::uint64_t frame() {
        std::lock_guard lk(m_);
        return frame_;
    }

  private:
    class Input final : public device::MidiInput {
      public:
        Input(FakePorts& ports, device::MidiInputSink& sink) : ports_(ports) {
            std::lock_guard lk(ports_.m_);
            ports_.sink_ = &sink;
        }
        ~Input() override {
            std::lock_guard lk(ports_.m_);
            ports_.sink_ = nullptr;
        }
        bool connected() const override { return true; }

      private:
        FakePorts& ports_;
    };

    class Output final : public device::MidiOutput {
      public:
        Output(FakePorts& ports, std::string port, device::OutputSink& c)
            : clock(c), ports_(ports), port_(std::move(port)) {
            std::lock_guard lk(ports_.m_);
            ports_.outputs_.push_back(this);
        }
        ~Output() override {
            std::lock_guard lk(ports_.m_);
            std::erase(ports_.outputs_, this);
        }
        // Only ever called inside pump(), under the lock.
        void send(std::size_t offset, std::span<const std::uint8_t> message) noexcept override {
            ports_.sent_.push_back(
                {port_, ports_.frame_ + offset, {message.begin(), message.end()}});
        }
        std::string port() const override { return port_; }

        device::OutputSink& clock;

      private:
        FakePorts& ports_;
        std::string port_;
    };

    std::mutex m_;
    std::vector<std::string> destinations_;
    device::MidiInputSink* sink_ = nullptr;
    std::vector<Output*> outputs_;
    std::uint64_t frame_ = 0;
    std::vector<Sent> sent_;
};

}  // namespace lirno::test
