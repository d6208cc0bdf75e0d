#include "mmio/timeconv.h"

#include <algorithm>
#include <cstdio>

namespace lirno {

std::uint32_t sliderToPos(int step, std::uint32_t length) {
    const auto s = static_cast<std::uint64_t>(std::clamp(step, 0, kSliderMax));
    return static_cast<std::uint32_t>(s * length / kSliderMax);
}

int posToSlider(std::uint32_t pos, std::uint32_t length) {
    if (length == 0) return 0;
    const std::uint64_t step = std::uint64_t{pos} * kSliderMax / length + 1;
    return static_cast<int>(std::min<std::uint64_t>(step, kSliderMax));
}

std::string formatReadout(std::uint32_t pos) {
    const std::uint64_t p = pos;
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%u", static_cast<unsigned>(p / 480),
                  static_cast<unsigned>((p / 8) % 60), static_cast<unsigned>((p * 5 / 4) % 10));
    return text;
}

std::string scaleLabel(int i, int n, std::uint32_t length) {
    if (n <= 2 || i < 0) return {};
    const std::uint64_t seconds =
        std::uint64_t(i) * length / 10 / static_cast<std::uint64_t>(n - 2);
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}

}  // namespace lirno
