#include "mmio/playback.h"

#include "mmio/scanner.h"

namespace lirno {

LoadedFile loaded;
Playback playback;

void resetGlobals()
{
    loaded = LoadedFile{};
    playback = Playback{};
    scanner = Scanner{};
}

}  // namespace lirno
