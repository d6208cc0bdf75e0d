// The two MIDI systems behind systemMidiPorts(). Each names its ports with
// its own prefix ("jack:", "alsa:") and takes only such names.
#pragma once

#include <memory>

#include "device/ports/midi_ports.h"

namespace lirno::device {

inline constexpr const char* kClientName = "Lirno Player";

// One client on one system.
class PortSystem : public MidiPorts {
  public:
    // False once the system went away (the JACK server shut down).
    virtual bool running() const = 0;
    // Our input; with `hardware` it connects the hardware sources it finds
    // now and as they appear (not where the other system connects them: a
    // keyboard both show would be heard twice).
    virtual std::unique_ptr<MidiInput> openSystemInput(MidiInputSink& sink, bool hardware) = 0;
    std::unique_ptr<MidiInput> openInput(MidiInputSink& sink) final {
        return openSystemInput(sink, true);
    }
};

// A client on the JACK server that runs now (none is ever started), or null.
std::unique_ptr<PortSystem> openJackPorts();
// A client on the ALSA sequencer, or null (quietly) when it does not open.
std::unique_ptr<PortSystem> openAlsaPorts();

}  // namespace lirno::device
