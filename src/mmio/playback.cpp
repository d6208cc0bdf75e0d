#include "mmio/playback.h"

#include <vector>

#include "mmio/loadsave.h"
#include "mmio/message.h"
#include "mmio/scanner.h"
#include "mmio/sequencer.h"

namespace lirno {

LoadedFile loaded;
Playback playback;

namespace {
std::vector<void (*)()>& layerResets() {
    static std::vector<void (*)()> resets;
    return resets;
}
}  // namespace

void addGlobalReset(void (*reset)()) {
    layerResets().push_back(reset);
}

void resetGlobals() {
    loaded = LoadedFile{};
    playback = Playback{};
    scanner = Scanner{};
    sequencer = SequencerLink{};
    setMessageBoxHandler({});
    setFileDialogs({});
    for (const auto reset : layerResets()) reset();
}

}  // namespace lirno
