// How busy each track is at a moment of the song: the light beside its row.
// Read from the song's own notes, so it needs no sound and no Qt.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace lirno {

class TrackRows;
struct MidiInfo;

class TrackActivity {
  public:
    // How long a struck note keeps its light, fading, in the song's own time.
    static constexpr std::int64_t kDecayNs = 500'000'000;

    // The note starts of every track of a file's bytes. A muted track's notes
    // count too (its Note-Ons stand as Note-Offs with their velocity): the
    // rows, not the image, say what is heard.
    void read(std::span<const std::uint8_t> smf);
    void forget();
    bool isRead() const { return read_; }

    // 0..1: the loudest note of file track `track` struck within kDecayNs
    // before `atNs`, faded by its age.
    float level(int track, std::int64_t atNs) const;

  private:
    struct Strike {
        std::int64_t timeNs;
        std::uint8_t velocity;
    };
    std::vector<std::vector<Strike>> tracks_;
    bool read_ = false;
};

// Each row's light at a position: dark for a muted row and for one a solo
// elsewhere silences.
std::vector<float> rowLevels(const TrackActivity& activity, const TrackRows& rows,
                             const MidiInfo& info, std::int64_t atNs);

}  // namespace lirno
