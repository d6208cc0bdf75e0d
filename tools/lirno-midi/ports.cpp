// lirno-midi ports: the MIDI ports "Lirno Player" can record from and play to.
#include <cstdio>
#include <memory>

#include "commands.h"
#include "device/ports/backends.h"

namespace lirno::cli {

namespace {

void list(const char* heading, const std::vector<device::PortInfo>& ports) {
    std::printf("%s\n", heading);
    if (ports.empty()) std::printf("(none)\n");
    for (const device::PortInfo& p : ports)
        std::printf("%s\t%s\n", p.name.c_str(), p.label.c_str());
}

}  // namespace

int runPorts() {
    // Each system on its own, to tell "none runs" from "no ports".
    const std::unique_ptr<device::PortSystem> systems[] = {device::openJackPorts(),
                                                           device::openAlsaPorts()};
    std::vector<device::PortInfo> sources, destinations;
    bool any = false;
    for (const auto& system : systems) {
        if (!system) continue;
        any = true;
        for (auto& p : system->sources()) sources.push_back(std::move(p));
        for (auto& p : system->destinations()) destinations.push_back(std::move(p));
    }
    if (!any) {
        std::printf("No MIDI system: neither the ALSA sequencer nor a JACK server runs here.\n");
        return 0;
    }
    list("inputs:", sources);
    list("outputs:", destinations);
    return 0;
}

}  // namespace lirno::cli
