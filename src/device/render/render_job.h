// Rendering one or more songs to audio files in one job: in parallel on the
// machine's cores, every file the same length and scaled by one gain (so
// stems sum to their mix), each put in place only once it is whole.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/render/audio_file.h"
#include "device/render/offline.h"

namespace lirno::device {

struct RenderTarget {
    std::vector<std::uint8_t> midi;  // the song as the player would play it
    std::string path;                // the audio file to write
    AudioFormat format;
};

struct JobOptions {
    RenderOptions render;  // render.rate for every file
    std::uint32_t fromUnits = 0;
    std::optional<double> normalizeDb;  // scale the loudest file to this peak
    unsigned threads = 0;               // 0: one per core
    // The target that holds the sum of all the others (a mix and its stems),
    // or -1; the job then measures how far the sum is from it.
    int mixIndex = -1;
};

struct JobReport {
    std::string error;                // what went wrong, when the job failed
    std::uint64_t frames = 0;         // the length of every file
    std::uint64_t nominalFrames = 0;  // the song's nominal length from the start position
    bool stillSounding = false;       // stopped at the ring limit with notes sounding
    // Stopped, with nothing sounding, in a stretch this long in which no
    // song of the job has an event, though events follow it (see
    // kMaxGapNs); 0 otherwise.
    std::uint64_t gapFrames = 0;
    double peak = 0.0;  // the loudest sample of the job before the gain
    double gain = 1.0;  // applied to every file
    // With a mixIndex: how far the sum of the others is from the mix, before
    // the gain: the largest difference in a sample (full scale 1), and the
    // difference's energy over the mix's (0 when both are silent).
    std::optional<double> sumError;
    double sumErrorEnergy = 0.0;
};

// Returns 0 or a kErr* code; `report.error` then says what happened. On any
// failure or once `cancel` is set, no file of the job is left half written.
// `progress` is called on the calling thread with the fraction of the job done.
int renderJob(const std::vector<RenderTarget>& targets, const JobOptions& options,
              JobReport& report, const std::atomic<bool>* cancel = nullptr,
              const RenderProgress& progress = {});

}  // namespace lirno::device
