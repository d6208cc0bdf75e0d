// The sample rates of live playback and of offline renders.
#pragma once

#include <cstdint>

namespace lirno::device {

// Live playback always runs at this rate; renders default to it.
inline constexpr std::uint32_t kSampleRate = 44100;
inline constexpr std::uint32_t kDefaultRenderRate = kSampleRate;
// What a render accepts: below this FluidSynth's filters alias audibly, and
// above it nothing is gained.
inline constexpr std::uint32_t kMinRenderRate = 22050;
inline constexpr std::uint32_t kMaxRenderRate = 96000;

}  // namespace lirno::device
