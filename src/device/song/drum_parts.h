// Which channels play drum kits: channel 10 always, and any channel a GS
// "use for rhythm part" or an XG part-mode message turns into a drum part
// (or, after XG System On, a bank select of the drum bank 127), until a
// reset (GM, GS or XG) gives every other channel back its melodic
// instruments.
#pragma once

#include <cstdint>
#include <span>

#include "device/song/song.h"

namespace lirno::device {

// A GS "use for rhythm part" message: its part's channel, and whether the
// part now plays drums.
bool gsRhythmPart(std::span<const std::uint8_t> body, int& channel, bool& drum) noexcept;

class DrumParts {
  public:
    DrumParts() noexcept { reset(); }

    bool isDrum(int channel) const noexcept { return ((mask_ >> (channel & 0x0F)) & 1u) != 0; }
    std::uint16_t mask() const noexcept { return mask_; }

    // Follows the song, one event at a time, in time order.
    void see(const Song& song, const SongEvent& e) noexcept;
    void seeSysex(std::span<const std::uint8_t> body) noexcept;  // without F0 and F7
    void seeControl(int channel, int controller, int value) noexcept;
    void reset() noexcept;

  private:
    void set(int channel, bool drum) noexcept;

    std::uint16_t mask_ = 0;
    bool xg_ = false;  // XG System On seen: bank selects choose drum kits
};

}  // namespace lirno::device
