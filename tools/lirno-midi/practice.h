// Speed, key and a passage on the command line: the player's practice
// settings for play and render, and what mix writes into a file.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "device/device.h"

namespace CLI {
class App;
}

namespace lirno::cli {

struct PracticeFlags {
    int speed = 100;      // --speed, percent
    int transpose = 0;    // --transpose, semitones
    std::string section;  // --section FROM..TO; empty for none
};

// Adds --speed and --transpose to a command, and --section when it plays;
// values out of their ranges are refused while parsing.
void addPracticeOptions(CLI::App& command, PracticeFlags& flags, bool section);

// The settings the flags give for a song (its bytes, for the section's bars
// and beats), and the unit a play of them starts in: the passage's start, or
// 0. Returns 0, or the exit code to stop with after saying why: 2 for a
// section the song does not hold.
int practiceSettings(std::span<const std::uint8_t> song, const PracticeFlags& flags,
                     device::PlaybackSettings& settings, std::uint32_t& startUnits);

}  // namespace lirno::cli
