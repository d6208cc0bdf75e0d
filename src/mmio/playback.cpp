#include "mmio/playback.h"

#include "mmio/scanner.h"
#include "mmio/sequencer.h"

namespace lirno {

LoadedFile loaded;
Playback playback;

void resetGlobals()
{
    loaded = LoadedFile{};
    playback = Playback{};
    scanner = Scanner{};
    sequencer = SequencerLink{};
}

}  // namespace lirno
