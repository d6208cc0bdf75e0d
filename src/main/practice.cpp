#include "main/practice.h"

#include <algorithm>
#include <span>

#include "device/song/song_file.h"
#include "device/song/timing.h"
#include "mmio/playback.h"
#include "res/resource.h"

namespace lirno {

using namespace res;

device::PlaybackSettings stepped(device::PlaybackSettings s, int command) {
    switch (command) {
        case IDM_FASTER:
            s.speed = std::min(s.speed + kSpeedStep, device::kMaxSpeed);
            break;
        case IDM_SLOWER:
            s.speed = std::max(s.speed - kSpeedStep, device::kMinSpeed);
            break;
        case IDM_NORMALSPEED:
            s.speed = 100;
            break;
        case IDM_KEYUP:
            s.transpose = std::min(s.transpose + 1, device::kMaxTranspose);
            break;
        case IDM_KEYDOWN:
            s.transpose = std::max(s.transpose - 1, device::kMinTranspose);
            break;
        case IDM_ORIGINALKEY:
            s.transpose = 0;
            break;
        case IDM_CLEARPASSAGE:
            s.passage.reset();
            break;
        default:
            break;
    }
    return s;
}

namespace {

QString signedNumber(int n) {
    // A real minus sign: a hyphen reads as a dash beside the percentage.
    return n > 0 ? QStringLiteral("+%1").arg(n) : QStringLiteral("\u2212%1").arg(-n);
}

}  // namespace

QString badgeText(const device::PlaybackSettings& s) {
    QStringList parts;
    if (s.speed != 100) parts << QStringLiteral("%1%").arg(s.speed);
    if (s.transpose != 0) parts << signedNumber(s.transpose);
    return parts.join(QLatin1Char('\n'));
}

QString badgeDescription(const device::PlaybackSettings& s) {
    QStringList parts;
    if (s.speed != 100) parts << QStringLiteral("Speed %1 %").arg(s.speed);
    if (s.transpose != 0)
        parts << QStringLiteral("Key %1 semitones").arg(signedNumber(s.transpose));
    return parts.join(QStringLiteral(", "));
}

SongClock::SongClock() = default;
SongClock::~SongClock() = default;

void SongClock::forget() {
    song_.reset();
    read_ = false;
}

const device::Song* SongClock::song() {
    if (!read_) {
        read_ = true;
        const std::span<const std::uint8_t> bytes(loaded.image.data(), loaded.image.dwFileBufSize);
        if (bytes.empty() || device::parseSong(bytes, song_) != 0 || !song_->timing) song_.reset();
    }
    return song_.get();
}

std::optional<std::uint64_t> SongClock::beatAt(std::uint32_t units) {
    const device::Song* s = song();
    if (!s) return std::nullopt;
    const device::SongTiming& t = *s->timing;
    return t.nearestBeat(t.nsToTick(device::unitsToNs(units)));
}

std::optional<device::Passage> SongClock::withStart(const std::optional<device::Passage>& now,
                                                    std::uint32_t units) {
    const auto beat = beatAt(units);
    if (!beat) return std::nullopt;
    const auto from = static_cast<std::uint32_t>(*beat);
    std::uint32_t to = now ? now->toTick : 0;
    if (to <= from) to = static_cast<std::uint32_t>(song()->timing->nsToTick(song()->endNs));
    if (to <= from) return std::nullopt;
    return device::Passage{from, to};
}

std::optional<device::Passage> SongClock::withEnd(const std::optional<device::Passage>& now,
                                                  std::uint32_t units) {
    const auto beat = beatAt(units);
    if (!beat) return std::nullopt;
    const auto to = static_cast<std::uint32_t>(*beat);
    const std::uint32_t from = now && now->fromTick < to ? now->fromTick : 0;
    if (to <= from) return std::nullopt;
    return device::Passage{from, to};
}

std::optional<UnitSpan> SongClock::unitsOf(const device::Passage& passage) {
    const device::Song* s = song();
    if (!s) return std::nullopt;
    const auto units = [s](std::uint32_t tick) {
        return static_cast<std::uint32_t>(s->timing->tickToNs(tick) / device::kNsPerUnit);
    };
    return UnitSpan{units(passage.fromTick), units(passage.toTick)};
}

}  // namespace lirno
