// The two MIDI systems behind systemMidiPorts(). Each names its ports with
// its own prefix ("jack:", "alsa:") and takes only such names.
#pragma once

#include <memory>

#include "device/ports/midi_ports.h"

namespace lirno::device {

inline constexpr const char* kClientName = "Lirno Player";

// A client on the JACK server that runs now (none is ever started), or null.
std::unique_ptr<MidiPorts> openJackPorts();
// A client on the ALSA sequencer, or null (quietly) when it does not open.
std::unique_ptr<MidiPorts> openAlsaPorts();

}  // namespace lirno::device
