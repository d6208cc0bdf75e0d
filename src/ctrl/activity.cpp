#include "ctrl/activity.h"

#include <algorithm>
#include <memory>

#include "ctrl/trackrows.h"
#include "device/song/song.h"
#include "device/song/song_file.h"
#include "midi/vocabulary.h"
#include "mmio/midiinfo.h"

namespace lirno {

namespace {
// A dense track (a drum roll) need not be walked back further than this.
constexpr int kMaxStrikesLooked = 32;
}  // namespace

void TrackActivity::read(std::span<const std::uint8_t> smf) {
    forget();
    read_ = true;
    std::shared_ptr<const device::Song> song;
    if (smf.empty() || device::parseSong(smf, song) != 0 || !song) return;
    tracks_.resize(static_cast<std::size_t>(std::max(song->tracks, 0)));
    for (const device::SongEvent& e : song->events) {
        const std::uint8_t kind = midi::statusKind(e.status);
        if ((kind != midi::kNoteOn && kind != midi::kNoteOff) || e.data2 == 0) continue;
        if (e.track >= tracks_.size()) tracks_.resize(e.track + std::size_t{1});
        tracks_[e.track].push_back({e.timeNs, e.data2});
    }
}

void TrackActivity::forget() {
    tracks_.clear();
    read_ = false;
}

float TrackActivity::level(int track, std::int64_t atNs) const {
    if (track < 0 || static_cast<std::size_t>(track) >= tracks_.size()) return 0.0F;
    const std::vector<Strike>& strikes = tracks_[static_cast<std::size_t>(track)];
    // The events are in time order: walk back from the last strike at or before atNs.
    auto it = std::upper_bound(strikes.begin(), strikes.end(), atNs,
                               [](std::int64_t t, const Strike& s) { return t < s.timeNs; });
    float best = 0.0F;
    for (int n = 0; it != strikes.begin() && n < kMaxStrikesLooked; ++n) {
        --it;
        const std::int64_t age = atNs - it->timeNs;
        if (age >= kDecayNs) break;
        const float fade = 1.0F - static_cast<float>(age) / static_cast<float>(kDecayNs);
        best = std::max(best, fade * static_cast<float>(it->velocity) / 127.0F);
    }
    return best;
}

std::vector<float> rowLevels(const TrackActivity& activity, const TrackRows& rows,
                             const MidiInfo& info, std::int64_t atNs) {
    std::vector<float> levels(static_cast<std::size_t>(rows.count()), 0.0F);
    for (int r = 0; r < rows.count() && r < info.nViewTracks; ++r) {
        if (rows.row(r).muted()) continue;
        levels[static_cast<std::size_t>(r)] =
            activity.level(info.trackIndex[static_cast<std::size_t>(r)], atNs);
    }
    return levels;
}

}  // namespace lirno
