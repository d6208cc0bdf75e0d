// Stems: one song per audible track of the mix, that track alone sounding
// with every other setting of the mix in force.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session.h"

namespace lirno::cli {

struct Stem {
    std::string fileName;  // NN-name.ext
    std::vector<std::uint8_t> midi;
};

// The image as the player would play it after loading `file` with `edits`;
// false (with the exit code) when the load or an edit failed.
bool editedImage(const std::string& file, const std::vector<Edit>& edits,
                 std::vector<std::uint8_t>& image, int& code);

// One stem per listed track audible in the mix (On checked, not silenced by
// a solo): the mix with every other audible track muted, so that the
// others' controllers, programs and tempo still play as in the mix. With
// `quiet`, the load's messages are not shown (an earlier load showed them).
bool makeStems(const std::string& file, const std::vector<Edit>& edits,
               const std::string& extension, bool quiet, std::vector<Stem>& stems, int& code);

// A row's name made safe for a file name: letters, digits, '-' and '_' kept,
// anything else turned into '_' (never empty).
std::string safeFileName(const std::string& name);

}  // namespace lirno::cli
