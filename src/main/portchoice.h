// Where songs play: the synthesizer or another program's MIDI port. Tried
// at start-up, kept between runs in the settings' "Ports" group (key
// "output", empty for the synthesizer); LIRNO_MIDI_OUT names one for a run.
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "device/device.h"
#include "device/ports/midi_ports.h"

namespace lirno {

class PortChoice {
  public:
    // The ports songs can play to; the program installs the system's.
    using Lister = std::function<std::vector<device::PortInfo>()>;

    // Gives device (which may be nullptr) the port of LIRNO_MIDI_OUT, else
    // the kept one; one that cannot be opened leaves the synthesizer, with a
    // line on stderr.
    explicit PortChoice(device::Device* device);

    void setLister(Lister lister) { lister_ = std::move(lister); }
    std::vector<device::PortInfo> destinations() const;
    // Where songs play now ("" for the synthesizer).
    std::string port() const;
    // Songs play there from now on and the choice is kept; 0, or the
    // device's error and nothing changes.
    int change(const std::string& port);
    QString errorText(int code) const;

  private:
    device::Device* device_;
    std::string port_;
    Lister lister_;
};

}  // namespace lirno
