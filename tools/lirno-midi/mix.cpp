// lirno-midi mix: edits applied as the track view applies them, then the
// saved file and the play file written as the player writes them.
#include "commands.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"

namespace lirno::cli {

int runMix(const MixOptions& options) {
    // Only what was asked for is written: no play file in the temporary folder.
    EditedSong song(EditedSong::PlayFileUse::None);
    if (const int code = song.load(options.file, options.edits)) return code;
    if (!options.out.empty() &&
        !writemidiinfo(options.out, loaded.image, loaded.MidiInfo, song.rows()))
        return 1;
    if (!options.playFile.empty() &&
        !settmp(options.playFile, loaded.image.data(), loaded.image.dwFileBufSize))
        return 1;
    return 0;
}

}  // namespace lirno::cli
