// lirno-midi mix: edits applied as the track view applies them, then the
// saved file and the play file written as the player writes them.
#include <cstdio>

#include "commands.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"

namespace lirno::cli {

int runMix(const MixOptions& options)
{
    PlayFile playFile;
    std::string name = options.file;
    if (!mcimidiSelectFile(name)) return 1;

    TrackRows rows(loaded.image, loaded.MidiInfo);
    rows.fill();
    for (const Edit& edit : options.edits) {
        std::string error;
        if (!applyEdit(rows, edit, error)) {
            std::fprintf(stderr, "lirno-midi: refused: %s; nothing was written\n", error.c_str());
            return 2;
        }
    }
    if (!options.out.empty() && !writemidiinfo(options.out, loaded.image, loaded.MidiInfo, rows))
        return 1;
    if (!options.playFile.empty() &&
        !settmp(options.playFile, loaded.image.data(), loaded.image.dwFileBufSize))
        return 1;
    return 0;
}

}  // namespace lirno::cli
