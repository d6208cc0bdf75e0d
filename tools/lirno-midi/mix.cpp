// lirno-midi mix: edits applied as the track view applies them, then the
// saved file and the play file written as the player writes them, with any
// speed and key written into them.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "commands.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "retime.h"

namespace lirno::cli {

namespace {

// Rewrites a file just written in another speed and key.
bool retimeFile(const std::string& path, const Retime& r) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes;
    if (in) bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (!in || bytes.empty()) {
        std::fprintf(stderr, "lirno-midi: cannot read back %s\n", path.c_str());
        return false;
    }
    const std::vector<std::uint8_t> out = retimeSong(bytes, r);
    return settmp(path, out.data(), out.size()) != 0;
}

}  // namespace

int runMix(const MixOptions& options) {
    // Only what was asked for is written: no play file in the temporary folder.
    EditedSong song(EditedSong::PlayFileUse::None);
    if (const int code = song.load(options.file, options.edits)) return code;
    const Retime retime{options.practice.speed, options.practice.transpose};
    if (!options.out.empty()) {
        // The saved file is built as it is written, so the new speed and key
        // go into it afterwards.
        if (!writemidiinfo(options.out, loaded.image, loaded.MidiInfo, song.rows())) return 1;
        if (!retime.identity() && !retimeFile(options.out, retime)) return 1;
    }
    if (!options.playFile.empty()) {
        const std::vector<std::uint8_t> image =
            retimeSong({loaded.image.data(), loaded.image.dwFileBufSize}, retime);
        if (!settmp(options.playFile, image.data(), image.size())) return 1;
    }
    return 0;
}

}  // namespace lirno::cli
