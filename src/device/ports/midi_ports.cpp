#include "device/ports/midi_ports.h"

#include <mutex>

#include "device/errors.h"
#include "device/ports/backends.h"

namespace lirno::device {
namespace {

// Our input on each system that runs: connected while either is.
class BothInputs final : public MidiInput {
  public:
    BothInputs(std::unique_ptr<MidiInput> jack, std::unique_ptr<MidiInput> alsa)
        : jack_(std::move(jack)), alsa_(std::move(alsa)) {}
    bool connected() const override {
        return (jack_ && jack_->connected()) || (alsa_ && alsa_->connected());
    }

  private:
    std::unique_ptr<MidiInput> jack_;
    std::unique_ptr<MidiInput> alsa_;
};

// The JACK and ALSA clients, each made when first needed. The sequencer is
// tried once; JACK again while no client is up or after its server went
// away, since a server may start later (an attempt without one is quick).
// Ports still open keep their old client.
class SystemPorts final : public MidiPorts {
  public:
    std::vector<PortInfo> sources() override {
        return both([](MidiPorts& p) { return p.sources(); });
    }
    std::vector<PortInfo> destinations() override {
        return both([](MidiPorts& p) { return p.destinations(); });
    }

    std::unique_ptr<MidiInput> openInput(MidiInputSink& sink) override {
        const auto j = jack();
        const auto a = alsa();
        auto fromJack = j ? j->openInput(sink) : nullptr;
        auto fromAlsa = a ? a->openInput(sink) : nullptr;
        if (!fromJack && !fromAlsa) return nullptr;
        return std::make_unique<BothInputs>(std::move(fromJack), std::move(fromAlsa));
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
        if (!jack_ || !jack_->running()) jack_ = openJackPorts();
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
