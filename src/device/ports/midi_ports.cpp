#include "device/ports/midi_ports.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

#include "device/errors.h"
#include "device/ports/backends.h"

namespace lirno::device {
namespace {

// Hands on what comes in from either system's thread one at a time: the
// sink has one caller. The other holds it for the few hundred nanoseconds
// a message takes, so waiting spins.
class OneCaller final : public MidiInputSink {
  public:
    explicit OneCaller(MidiInputSink& to) : to_(to) {}
    void midiIn(const MidiInEvent& event) noexcept override {
        while (busy_.test_and_set(std::memory_order_acquire)) {
        }
        to_.midiIn(event);
        busy_.clear(std::memory_order_release);
    }

  private:
    MidiInputSink& to_;
    std::atomic_flag busy_;
};

// Our input on each system that runs: connected while either is. The
// sequencer's connects the hardware, JACK's only where there is none. A
// JACK server that starts after it (or starts again) gets the input too:
// looked for every kJackWatch on a thread of its own, as an attempt takes a
// few milliseconds and the callers poll connected() under their locks.
class BothInputs final : public MidiInput {
  public:
    using Open = std::function<std::unique_ptr<MidiInput>(MidiInputSink&, bool hardware)>;
    BothInputs(MidiInputSink& sink, const Open& openAlsa, Open openJack)
        : one_(sink), openJack_(std::move(openJack)) {
        alsa_ = openAlsa(one_, true);
        jack_ = openJack_(one_, !alsa_);
        watch_ = std::jthread([this](std::stop_token stop) { watchJack(stop); });
    }
    ~BothInputs() override {
        watch_ = {};  // before the inputs go
    }
    bool connected() const override {
        {
            std::lock_guard lock(mutex_);
            if (jack_ && jack_->connected()) return true;
        }
        return alsa_ && alsa_->connected();
    }

  private:
    void watchJack(std::stop_token stop) {
        std::mutex m;
        std::condition_variable_any cv;
        std::unique_lock wait(m);
        while (!cv.wait_for(wait, stop, kJackWatch, [] { return false; }) &&
               !stop.stop_requested()) {
            std::unique_ptr<MidiInput> gone;
            {
                std::lock_guard lock(mutex_);
                if (jack_ && jack_->alive()) continue;
                gone = std::move(jack_);
            }
            gone.reset();  // closed before a new server is tried, outside the lock
            std::unique_ptr<MidiInput> fresh = openJack_(one_, !alsa_);
            std::lock_guard lock(mutex_);
            jack_ = std::move(fresh);
        }
    }

    OneCaller one_;  // first: it outlives the inputs that call it
    Open openJack_;
    mutable std::mutex mutex_;
    std::unique_ptr<MidiInput> jack_;  // under mutex_
    std::unique_ptr<MidiInput> alsa_;
    std::jthread watch_;
};

// The JACK and ALSA clients, each made when first needed. The sequencer is
// tried once; JACK again while no client is up or after its server went
// away, since a server may start later (an attempt without one is quick).
// Ports still open keep their old client.
class SystemPorts final : public MidiPorts, public std::enable_shared_from_this<SystemPorts> {
  public:
    std::vector<PortInfo> sources() override {
        return both([](MidiPorts& p) { return p.sources(); });
    }
    std::vector<PortInfo> destinations() override {
        return both([](MidiPorts& p) { return p.destinations(); });
    }

    std::unique_ptr<MidiInput> openInput(MidiInputSink& sink) override {
        const auto openAlsa = [a = alsa()](MidiInputSink& s,
                                           bool hardware) -> std::unique_ptr<MidiInput> {
            return a ? a->openSystemInput(s, hardware) : nullptr;
        };
        auto openJack = [self = shared_from_this()](MidiInputSink& s,
                                                    bool hardware) -> std::unique_ptr<MidiInput> {
            const auto j = self->jack();
            return j ? j->openSystemInput(s, hardware) : nullptr;
        };
        return std::make_unique<BothInputs>(sink, openAlsa, std::move(openJack));
    }

    std::unique_ptr<MidiOutput> openOutput(const std::string& port, OutputSink& clock,
                                           int& error) override {
        error = kErrMidiPort;
        const bool named = port.starts_with("jack:") || port.starts_with("alsa:");
        for (const char* prefix : {"jack:", "alsa:"}) {
            const std::string full = named ? port : prefix + port;
            if (!full.starts_with(prefix)) continue;
            const auto system = full.starts_with("jack:") ? jack() : alsa();
            if (!system) continue;
            if (auto out = system->openOutput(full, clock, error)) return out;
        }
        error = kErrMidiPort;
        return nullptr;
    }

  private:
    std::shared_ptr<PortSystem> jack() {
        std::lock_guard lock(mutex_);
        if (jack_ && !jack_->running()) jack_.reset();  // see JackClient::open
        if (!jack_) jack_ = openJackPorts();
        return jack_;
    }
    std::shared_ptr<PortSystem> alsa() {
        std::lock_guard lock(mutex_);
        if (!alsaTried_) alsa_ = openAlsaPorts();
        alsaTried_ = true;
        return alsa_;
    }
    template <class List>
    std::vector<PortInfo> both(List list) {
        std::vector<PortInfo> ports;
        for (const auto& system : {jack(), alsa()}) {
            if (!system) continue;
            auto more = list(*system);
            ports.insert(ports.end(), more.begin(), more.end());
        }
        return ports;
    }

    std::mutex mutex_;
    std::shared_ptr<PortSystem> jack_;  // shared with calls under way when replaced
    std::shared_ptr<PortSystem> alsa_;
    bool alsaTried_ = false;
};

}  // namespace

std::shared_ptr<MidiPorts> systemMidiPorts() {
    return std::make_shared<SystemPorts>();
}

}  // namespace lirno::device
