#include "main/timetrack.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <algorithm>

#include "main/resload.h"
#include "mmio/playback.h"
#include "mmio/sequencer.h"
#include "mmio/timeconv.h"

namespace lirno {

namespace {
constexpr int kChannelMargin = 5;
const QColor kLightGrey(192, 192, 192);
}  // namespace

TimeTrackWndProc::TimeTrackWndProc(QWidget* toolbar) : QSlider(Qt::Horizontal, toolbar) {
    setRange(0, kSliderMax);
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(kSliderTicks);
    // A click beside the thumb moves it a fifth of the range, as the
    // desktop's own track bars do.
    setPageStep(kSliderMax / 5);
    setSingleStep(1);
    setValue(0);
    setEnabled(false);
}

QRect TimeTrackWndProc::channelRect() const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.sliderPosition = minimum();
    const QRect first =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    opt.sliderPosition = maximum();
    const QRect last =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    return QRect(QPoint(first.center().x() - kChannelMargin, groove.top()),
                 QPoint(last.center().x() + kChannelMargin, groove.bottom()));
}

int TimeTrackWndProc::numTicks() const {
    if (tickPosition() == QSlider::NoTicks || tickInterval() <= 0) return 2;
    return (maximum() - minimum()) / tickInterval() + 1;
}

void TimeTrackWndProc::beginGesture() {
    // A press during a gesture (a held key repeating, a click while a key is
    // down) keeps the mode saved at its start.
    if (playback.nMode != kModeSeeking) {
        pMode_ = playback.nMode;
        playback.nMode = kModeSeeking;
    }
}

void TimeTrackWndProc::endGesture() {
    // A release with no gesture under way (a key pressed elsewhere) is ignored.
    if (playback.nMode != kModeSeeking) return;
    applyPosition(sliderToPos(value(), playback.dwFileSize));
}

bool TimeTrackWndProc::seekTo(std::uint32_t pos) {
    if (playback.nMode == kModeSeeking) return false;
    beginGesture();
    if (playback.dwFileSize != 0) setValue(posToSlider(pos, playback.dwFileSize));
    applyPosition(pos);
    return true;
}

void TimeTrackWndProc::applyPosition(std::uint32_t pos) {
    playback.dwPlayPos = pos;
    if (refresh_) refresh_();
    if (pMode_ == kModePlaying && playback.wOutDeviceID != 0)
        mcimidiPlay(sequencer.hWndMain, playback.wOutDeviceID);
    playback.nMode = pMode_;
}

void TimeTrackWndProc::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) beginGesture();
    QSlider::mousePressEvent(event);
}

void TimeTrackWndProc::mouseReleaseEvent(QMouseEvent* event) {
    // The slider settles the thumb first, so the position read is the one
    // the gesture produced.
    QSlider::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) endGesture();
}

void TimeTrackWndProc::keyPressEvent(QKeyEvent* event) {
    beginGesture();
    QSlider::keyPressEvent(event);
}

void TimeTrackWndProc::keyReleaseEvent(QKeyEvent* event) {
    QSlider::keyReleaseEvent(event);
    // A held key sends a release before each repeated press; only the last
    // release ends the gesture.
    if (!event->isAutoRepeat()) endGesture();
}

void TimeTrackWndProc::wheelEvent(QWheelEvent* event) {
    // A turn of the wheel moves the thumb like a key: it is a whole gesture,
    // or the thumb would stray from the position the next play starts at.
    beginGesture();
    QSlider::wheelEvent(event);
    endGesture();
}

void TimeTrackWndProc::focusOutEvent(QFocusEvent* event) {
    // A key that moved the focus elsewhere releases there: end the gesture
    // here, or the timer would leave the thumb alone for good.
    endGesture();
    QSlider::focusOutEvent(event);
}

TimeCoordWndProc::TimeCoordWndProc(QWidget* toolbar, const TimeTrackWndProc* slider)
    : QWidget(toolbar), slider_(slider) {}

namespace {

constexpr int kLabelGap = 3;  // the least room between two labels

using Label = TimeCoordWndProc::Label;

// The labels in font, each with its right end half a short label right of
// its tick, so that short labels stand centred under their ticks; the end
// labels stay whole inside the scale.
std::vector<Label> place(const QStringList& texts, const QRect& channel, const QFont& font,
                         int width) {
    const QFontMetrics fm(font);
    const int n = static_cast<int>(texts.size());
    const int offset = kChannelMargin + fm.horizontalAdvance(QStringLiteral("0:00")) / 2;
    const int span = channel.right() - channel.left() - 2 * kChannelMargin;
    std::vector<Label> result;
    for (int i = 0; i < n; ++i) {
        const int x = channel.left() + (span * i) / (n - 1) + offset;
        const int right = std::clamp(x, std::min(fm.horizontalAdvance(texts[i]), width), width);
        result.push_back({texts[i], right, i});
    }
    return result;
}

int leftOf(const Label& l, const QFontMetrics& fm) {
    return l.right - fm.horizontalAdvance(l.text);
}

bool fitsApart(const std::vector<Label>& labels, const QFontMetrics& fm) {
    for (std::size_t i = 1; i < labels.size(); ++i)
        if (leftOf(labels[i], fm) < labels[i - 1].right + kLabelGap) return false;
    return true;
}

// Keeps both ends and each label between them that has room beside the
// labels kept before it and the last one.
std::vector<Label> dropColliding(const std::vector<Label>& labels, const QFontMetrics& fm) {
    std::vector<Label> kept;
    const Label& last = labels.back();
    for (const Label& l : labels) {
        const bool end = &l == &labels.front() || &l == &last;
        const bool roomLeft = kept.empty() || leftOf(l, fm) >= kept.back().right + kLabelGap;
        const bool roomRight = &l == &last || l.right + kLabelGap <= leftOf(last, fm);
        if ((end && roomLeft) || (roomLeft && roomRight)) kept.push_back(l);
    }
    return kept;
}

}  // namespace

TimeCoordWndProc::Layout TimeCoordWndProc::layout() const {
    const int n = slider_->numTicks();
    if (!playback.fFileLoaded || n <= 2) return {hfont(), {}};
    QStringList texts;
    for (int i = 0; i < n; ++i)
        texts << QString::fromStdString(scaleLabel(i, n, playback.dwFileSize));
    const QRect channel = slider_->channelRect();
    QFont font = hfont();
    const int start = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    for (int px = start; px >= kMinLabelPixels; --px) {
        font.setPixelSize(px);
        std::vector<Label> placed = place(texts, channel, font, width());
        if (fitsApart(placed, QFontMetrics(font))) return {font, std::move(placed)};
    }
    return {font, dropColliding(place(texts, channel, font, width()), QFontMetrics(font))};
}

void TimeCoordWndProc::setPassage(std::optional<std::pair<std::uint32_t, std::uint32_t>> units) {
    if (units == passage_) return;
    passage_ = units;
    update();
}

std::optional<std::pair<int, int>> TimeCoordWndProc::passageMarks() const {
    if (!passage_ || !playback.fFileLoaded || playback.dwFileSize == 0) return std::nullopt;
    const QRect channel = slider_->channelRect();
    const int left = channel.left() + kChannelMargin;
    const qint64 span = channel.right() - channel.left() - 2 * kChannelMargin;
    const auto x = [&](std::uint32_t pos) {
        return left + int(span * std::min(pos, playback.dwFileSize) / playback.dwFileSize);
    };
    return std::pair{x(passage_->first), x(passage_->second)};
}

void TimeCoordWndProc::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kLightGrey);
    const Layout l = layout();
    p.setFont(l.font);
    p.setPen(Qt::black);
    for (const auto& label : l.labels)
        p.drawText(QRect(0, 0, label.right, height()), Qt::AlignRight | Qt::AlignTop, label.text);
    // The passage: a bar along the foot of the scale, raised at both ends.
    if (const auto marks = passageMarks()) {
        const auto [from, to] = *marks;
        const QColor navy(0, 0, 128);
        p.fillRect(QRect(QPoint(from, height() - 3), QPoint(to, height() - 1)), navy);
        p.fillRect(QRect(QPoint(from, height() - 7), QPoint(from + 1, height() - 1)), navy);
        p.fillRect(QRect(QPoint(to - 1, height() - 7), QPoint(to, height() - 1)), navy);
    }
}

}  // namespace lirno
