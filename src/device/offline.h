// Offline rendering: the playing engine driven by a sample clock instead of
// a sound card, as fast as the machine allows and the same every time.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace lirno::device {

struct RenderOptions {
    std::string soundFont;     // empty: findSoundFont()
    double tailSeconds = 1.0;  // let the last notes ring out after the song's end
};

// 44.1 kHz stereo, one float per frame and channel.
struct RenderedAudio {
    std::vector<float> left;
    std::vector<float> right;
};

using RenderProgress = std::function<void(double fraction)>;

// Renders a song given as bytes from a position in units (the state in force
// there is chased exactly as when playing). Returns 0 or a kErr* code.
int renderToMemory(std::span<const std::uint8_t> midiBytes, std::uint32_t fromUnits,
                   const RenderOptions& options, RenderedAudio& out, RenderProgress progress = {});

// Renders a MIDI file to a 16-bit stereo 44.1 kHz WAV file.
int renderToWav(const std::string& midiPath, std::uint32_t fromUnits, const std::string& wavPath,
                const RenderOptions& options, RenderProgress progress = {});

}  // namespace lirno::device
