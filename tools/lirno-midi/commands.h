// The lirno-midi commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session.h"

namespace lirno::cli {

struct MixOptions {
    std::string file;
    std::vector<Edit> edits;
    std::string out;       // -o: the file Save As writes
    std::string playFile;  // --play-file: the image as the play file holds it
};

struct RenderOptions {
    std::string file;
    std::vector<Edit> edits;
    std::uint32_t from = 0;  // units of 1/8 s
    std::string wav;
};

struct PlayOptions {
    std::string file;
    std::vector<Edit> edits;
    bool loop = false;
};

// Each returns the process exit code.
int runInfo(const std::string& file);
int runMix(const MixOptions& options);
int runRender(const RenderOptions& options);
int runPlay(const PlayOptions& options);

}  // namespace lirno::cli
