#include "device/song/timing.h"

#include <algorithm>
#include <charconv>

#include "device/song/song.h"

namespace lirno::device {
namespace {

constexpr double kDefaultTempoNs = 500'000'000.0;  // a quarter at 120 beats a minute

std::int64_t clampNs(double ns) {
    return ns < static_cast<double>(kMaxSongNs) ? static_cast<std::int64_t>(ns + 0.5) : kMaxSongNs;
}

std::optional<std::uint32_t> parseNumber(std::string_view text) {
    std::uint32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return v;
}

}  // namespace

SongTiming::SongTiming() : SongTiming(480, {}, {}) {}

SongTiming::SongTiming(int ppq, std::vector<Tempo> tempos, std::vector<Meter> meters)
    : ppq_(ppq), tempos_(std::move(tempos)), meters_(std::move(meters)) {
    if (tempos_.empty() || tempos_.front().tick != 0) {
        const double perTick = kDefaultTempoNs / (ppq_ > 0 ? ppq_ : 1000);
        tempos_.insert(tempos_.begin(), Tempo{0, 0.0, perTick});
    }
    if (meters_.empty() || meters_.front().tick != 0) meters_.insert(meters_.begin(), Meter{});
    for (Meter& m : meters_) {
        m.numerator = std::max<std::uint32_t>(m.numerator, 1);
        m.denominator = std::clamp<std::uint32_t>(m.denominator, 1, 64);
    }
    // Bars count on across meters; a meter that comes in mid-bar starts a new bar.
    firstBar_.reserve(meters_.size());
    std::uint64_t bar = 1;
    for (std::size_t i = 0; i < meters_.size(); ++i) {
        firstBar_.push_back(bar);
        if (i + 1 < meters_.size()) {
            const std::uint64_t span = meters_[i + 1].tick - meters_[i].tick;
            const std::uint64_t len = barTicks(meters_[i]);
            bar += (span + len - 1) / len;
        }
    }
}

std::size_t SongTiming::tempoAt(std::uint64_t tick) const {
    const auto it = std::upper_bound(tempos_.begin() + 1, tempos_.end(), tick,
                                     [](std::uint64_t t, const Tempo& s) { return t < s.tick; });
    return static_cast<std::size_t>(it - tempos_.begin()) - 1;
}

std::size_t SongTiming::meterAt(std::uint64_t tick) const {
    const auto it = std::upper_bound(meters_.begin() + 1, meters_.end(), tick,
                                     [](std::uint64_t t, const Meter& m) { return t < m.tick; });
    return static_cast<std::size_t>(it - meters_.begin()) - 1;
}

std::int64_t SongTiming::tickToNs(std::uint64_t tick) const {
    const Tempo& s = tempos_[tempoAt(tick)];
    return clampNs(s.ns + static_cast<double>(tick - s.tick) * s.nsPerTick);
}

std::uint64_t SongTiming::nsToTick(std::int64_t ns) const {
    if (ns <= 0) return 0;
    const auto it = std::upper_bound(tempos_.begin() + 1, tempos_.end(), static_cast<double>(ns),
                                     [](double t, const Tempo& s) { return t < s.ns; });
    const Tempo& s = *(it - 1);
    const double ticks = (static_cast<double>(ns) - s.ns) / s.nsPerTick;
    std::uint64_t tick = s.tick + static_cast<std::uint64_t>(std::max(ticks, 0.0));
    // Rounding either way: settle on the last tick whose time is not past ns.
    while (tick > 0 && tickToNs(tick) > ns) --tick;
    while (tickToNs(tick + 1) <= ns && tickToNs(tick + 1) < kMaxSongNs) ++tick;
    return tick;
}

std::uint64_t SongTiming::beatTicks(const Meter& m) const {
    // Without ticks per quarter (SMPTE time), a beat is a second.
    const double quarter = ppq_ > 0 ? ppq_ : 1e9 / tempos_.front().nsPerTick;
    return std::max<std::uint64_t>(static_cast<std::uint64_t>(quarter * 4 / m.denominator + 0.5),
                                   1);
}

std::uint64_t SongTiming::barTicks(const Meter& m) const {
    return beatTicks(m) * m.numerator;
}

std::uint64_t SongTiming::nearestBeat(std::uint64_t tick) const {
    const std::size_t i = meterAt(tick);
    const Meter& m = meters_[i];
    const std::uint64_t beat = beatTicks(m);
    const std::uint64_t lower = m.tick + (tick - m.tick) / beat * beat;
    std::uint64_t upper = lower + beat;
    if (i + 1 < meters_.size()) upper = std::min(upper, meters_[i + 1].tick);
    return tick - lower < upper - tick ? lower : upper;
}

BarBeat SongTiming::barBeatOf(std::uint64_t tick) const {
    const std::size_t i = meterAt(tick);
    const Meter& m = meters_[i];
    const std::uint64_t rel = tick - m.tick;
    const std::uint64_t bar = firstBar_[i] + rel / barTicks(m);
    const std::uint64_t beat = 1 + rel % barTicks(m) / beatTicks(m);
    return {static_cast<std::uint32_t>(std::min<std::uint64_t>(bar, UINT32_MAX)),
            static_cast<std::uint32_t>(beat)};
}

std::optional<std::uint64_t> SongTiming::tickOf(BarBeat at) const {
    if (at.bar == 0 || at.beat == 0) return std::nullopt;
    const auto it = std::upper_bound(firstBar_.begin() + 1, firstBar_.end(), std::uint64_t{at.bar});
    const auto i = static_cast<std::size_t>(it - firstBar_.begin()) - 1;
    const Meter& m = meters_[i];
    if (at.beat > m.numerator) return std::nullopt;
    return m.tick + (at.bar - firstBar_[i]) * barTicks(m) + (at.beat - 1) * beatTicks(m);
}

std::optional<BarBeat> parseBarBeat(const std::string& text) {
    const std::string_view t = text;
    const std::size_t colon = t.find(':');
    const auto bar = parseNumber(t.substr(0, colon));
    if (!bar || *bar == 0) return std::nullopt;
    if (colon == std::string_view::npos) return BarBeat{*bar, 1};
    const auto beat = parseNumber(t.substr(colon + 1));
    if (!beat || *beat == 0) return std::nullopt;
    return BarBeat{*bar, *beat};
}

std::string formatBarBeat(BarBeat at) {
    return std::to_string(at.bar) + ":" + std::to_string(at.beat);
}

}  // namespace lirno::device
