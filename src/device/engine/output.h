// Audio outputs: where the device's rendered audio goes.
//
// An output pulls audio from a sink on a thread of its own for as long as it
// lives. The device only knows this interface, so tests can drive it with
// outputs that fail, fail later, or take samples faster than real time.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lirno::device {

// What an output feeds from. Both are called from the output's own thread.
class OutputSink {
  public:
    virtual ~OutputSink() = default;
    // Fills `frames` frames of stereo at kSampleRate.
    virtual void render(float* left, float* right, std::size_t frames) noexcept = 0;
    // The output has stopped for good (the card went away, the server died).
    virtual void outputLost() noexcept = 0;
};

class AudioOutput {
  public:
    virtual ~AudioOutput() = default;  // stops pulling before it returns
};

struct OutputOptions {
    std::string device;  // the driver's device (its audio.<driver>.device); empty = default
    int priority = -1;   // real-time priority of its thread; negative = the driver's default
};

// Opens one named driver, or returns null (quietly: the caller reports).
using OutputFactory = std::function<std::unique_ptr<AudioOutput>(
    const std::string& driver, const OutputOptions& options, OutputSink& sink)>;

// FluidSynth's audio drivers. A JACK output is connected to the system's
// playback ports.
std::unique_ptr<AudioOutput> openFluidOutput(const std::string& driver,
                                             const OutputOptions& options, OutputSink& sink);

// The drivers to try, in order, for an LIRNO_AUDIO-style value: "" gives the
// desktop defaults, anything else names exactly one driver.
std::vector<std::string> driverCandidates(const std::string& wanted);

}  // namespace lirno::device
