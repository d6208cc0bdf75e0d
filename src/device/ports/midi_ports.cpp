#include "device/ports/midi_ports.h"

#include "device/errors.h"

namespace lirno::device {
namespace {

// Placeholder until the ALSA and JACK clients are in: no MIDI system.
class NoPorts final : public MidiPorts {
  public:
    std::vector<PortInfo> sources() override { return {}; }
    std::vector<PortInfo> destinations() override { return {}; }
    std::unique_ptr<MidiInput> openInput(MidiInputSink&) override { return nullptr; }
    std::unique_ptr<MidiOutput> openOutput(const std::string&, OutputSink&, int& error) override {
        error = kErrMidiPort;
        return nullptr;
    }
};

}  // namespace

std::shared_ptr<MidiPorts> systemMidiPorts() {
    return std::make_shared<NoPorts>();
}

}  // namespace lirno::device
