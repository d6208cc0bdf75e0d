// Practice settings as the window shows and sets them: speed and key in
// steps, a passage set on the song's beats from the play position.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "device/device.h"

namespace lirno {

namespace device {
struct Song;
}

inline constexpr int kSpeedStep = 5;  // percent, per Faster or Slower

// The settings after a practice command (faster, slower, ... original key);
// the passage commands go through SongClock.
device::PlaybackSettings stepped(device::PlaybackSettings s, int command);

// What the toolbar shows of speed and key ("60%", "-2"), and says in full
// ("Speed 60 %, key -2 semitones"); empty at 100 % and key 0.
QString badgeText(const device::PlaybackSettings& s);
QString badgeDescription(const device::PlaybackSettings& s);

// Positions in units, from and to.
using UnitSpan = std::pair<std::uint32_t, std::uint32_t>;

// The loaded song's own time: its ticks, beats and units. Read from the
// image when first asked, since most songs are never given a passage.
class SongClock {
  public:
    SongClock();
    ~SongClock();
    // A new song is loaded.
    void forget();
    // The passage with its start (or end) on the beat nearest to a position,
    // keeping the other bound where it still makes sense (else the song's
    // start or end). Nothing when the image cannot be read or the passage
    // would be empty.
    std::optional<device::Passage> withStart(const std::optional<device::Passage>& now,
                                             std::uint32_t units);
    std::optional<device::Passage> withEnd(const std::optional<device::Passage>& now,
                                           std::uint32_t units);
    // Where a passage lies in units; nothing without a readable image.
    std::optional<UnitSpan> unitsOf(const device::Passage& passage);

  private:
    const device::Song* song();
    std::optional<std::uint64_t> beatAt(std::uint32_t units);

    std::shared_ptr<const device::Song> song_;
    bool read_ = false;
};

}  // namespace lirno
