// The lirno-midi commands.
#pragma once

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

// Each returns the process exit code.
int runInfo(const std::string& file);
int runMix(const MixOptions& options);

}  // namespace lirno::cli
