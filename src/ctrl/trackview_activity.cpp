// The rows' activity lights: a small lamp in each row's right margin that
// glows with the velocities of its track's notes and fades between them.
// A dark lamp is not drawn at all, so a list at rest looks as it always did.
#include <QCheckBox>
#include <QPainter>

#include <algorithm>
#include <span>

#include "ctrl/trackview.h"
#include "ctrl/trackview_controls.h"
#include "mmio/playback.h"

namespace lirno {

namespace {

constexpr int kLightSize = 7;
// Right of the balance slider, which ends 8 pixels short of the client's edge.
constexpr int kLightX = kColumns[kColBal].x + kColumns[kColBal].width + 1;
// Below this a light is too faint to tell from dark: it is not drawn.
constexpr float kVisibleLevel = 0.05F;

QColor lightColour(float level) {
    // From a dim to a bright green, as a mixer's signal lamp.
    const auto mix = [level](int dim, int bright) {
        return dim + static_cast<int>(static_cast<float>(bright - dim) * level);
    };
    return {mix(60, 90), mix(150, 255), mix(60, 90)};
}

}  // namespace

QRect TrackViewWndProc::lightRect(int r) const {
    const auto i = static_cast<std::size_t>(r);
    if (r < 0 || r >= items_ || !controls_.hwndOn[i]) return {};
    // The On box's place says where the row is after scrolling.
    const int top = controls_.hwndOn[i]->y() - kColumns[kColOn].dy;
    return {kLightX, top + (kRowPitch - kLightSize) / 2, kLightSize, kLightSize};
}

void TrackViewWndProc::showActivity(std::int64_t atNs) {
    if (items_ == 0) return;
    if (!activity_.isRead())
        activity_.read(
            std::span<const std::uint8_t>(loaded.image.data(), loaded.image.dwFileBufSize));
    std::vector<float> levels = rowLevels(activity_, rows_, loaded.MidiInfo, atNs);
    if (levels == levels_) return;
    levels_ = std::move(levels);
    client_->update(kLightX, 0, kLightSize, client_->height());
}

void TrackViewWndProc::darkenActivity() {
    if (levels_.empty()) return;
    levels_.clear();
    client_->update(kLightX, 0, kLightSize, client_->height());
}

void TrackViewWndProc::paintLights() {
    if (levels_.empty()) return;
    QPainter painter(client_);
    painter.setRenderHint(QPainter::Antialiasing);
    const int n = std::min(items_, static_cast<int>(levels_.size()));
    for (int r = 0; r < n; ++r) {
        const float level = levels_[static_cast<std::size_t>(r)];
        if (level < kVisibleLevel) continue;
        const QRect place = lightRect(r);
        if (!client_->rect().intersects(place)) continue;
        painter.setPen(QColor(0, 90, 0));
        painter.setBrush(lightColour(level));
        painter.drawEllipse(QRectF(place).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

}  // namespace lirno
