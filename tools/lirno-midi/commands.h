// The lirno-midi commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "practice.h"
#include "session.h"
#include "sound.h"

namespace lirno::cli {

struct MixOptions {
    std::string file;
    std::vector<Edit> edits;
    std::string out;         // -o: the file Save As writes
    std::string playFile;    // --play-file: the image as the play file holds it
    PracticeFlags practice;  // speed and key written into both
};

struct RenderOptions {
    std::string file;
    std::vector<Edit> edits;
    std::uint32_t from = 0;  // units of 1/8 s
    std::string out;         // -o: the mix, in the format its name says
    std::string stems;       // --stems: a folder for one file per audible track
    std::string format;      // --format: the stems' format (an extension)
    std::uint32_t rate = 0;  // --rate: 0 for the format's default
    std::optional<double> normalizeDb;
    PracticeFlags practice;
    SoundFlags sound;
};

struct PlayOptions {
    std::string file;
    std::vector<Edit> edits;
    bool loop = false;
    std::string port;  // --port: a MIDI port instead of the synthesizer
    PracticeFlags practice;
    SoundFlags sound;
};

struct RecordOptions {
    std::string file;
    std::string out;                // -o: the song with the recorded track
    std::string port;               // --port: the song plays there instead
    std::optional<double> seconds;  // --for: else to the song's end
};

// Each returns the process exit code.
int runInfo(const std::string& file);
int runMix(const MixOptions& options);
int runRender(const RenderOptions& options);
int runPlay(const PlayOptions& options);
int runLyrics(const std::string& file, bool lrc);  // --lrc: an LRC file
int runPorts();
int runRecord(const RecordOptions& options);

}  // namespace lirno::cli
