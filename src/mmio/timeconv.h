// Conversions between device positions, slider steps and clock texts.
//
// Eight device units make one second on every display. Products are formed
// in 64 bits, so no length or position a device can report overflows, and a
// song of length 0 never divides.
#pragma once

#include <cstdint>
#include <string>

namespace lirno {

inline constexpr int kSliderMax = 200;   // the position slider's range is 0..200
inline constexpr int kSliderTicks = 40;  // a tick every 40 steps: six ticks

// Slider step s (0..200) to a play position: (s x L) / 200.
std::uint32_t sliderToPos(int step, std::uint32_t length);
// Play position to the slider step the timer shows: (p x 200) / L + 1, at
// most 200. Nothing sensible exists for L = 0; the caller never asks then.
int posToSlider(std::uint32_t pos, std::uint32_t length);
// The readout: "%d:%02d.%d", minutes, seconds and the tenth the unit falls in.
std::string formatReadout(std::uint32_t pos);
// The time scale's label under tick i of n (n > 2): "%d:%02d" of
// ((i x L) / 10) / (n - 2) seconds.
std::string scaleLabel(int i, int n, std::uint32_t length);

}  // namespace lirno
