// lirno-midi mix: edits applied as the track view applies them, then the
// saved file and the play file written as the player writes them.
#include <cstdio>

#include "commands.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"

namespace lirno::cli {

int loadAndEdit(const std::string& file, const std::vector<Edit>& edits, TrackRows& rows)
{
    std::string name = file;
    if (!mcimidiSelectFile(name)) return 1;
    rows.fill();
    for (const Edit& edit : edits) {
        std::string error;
        if (!applyEdit(rows, edit, error)) {
            std::fprintf(stderr, "lirno-midi: refused: %s; nothing was written\n", error.c_str());
            return 2;
        }
    }
    return 0;
}

int runMix(const MixOptions& options)
{
    PlayFile playFile;
    TrackRows rows(loaded.image, loaded.MidiInfo, [] {});
    if (const int code = loadAndEdit(options.file, options.edits, rows)) return code;
    if (!options.out.empty() && !writemidiinfo(options.out, loaded.image, loaded.MidiInfo, rows))
        return 1;
    if (!options.playFile.empty() &&
        !settmp(options.playFile, loaded.image.data(), loaded.image.dwFileBufSize))
        return 1;
    return 0;
}

}  // namespace lirno::cli
