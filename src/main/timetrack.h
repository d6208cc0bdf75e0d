// The position slider and the time scale under it.
#pragma once

#include <QFont>
#include <QSlider>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace lirno {

// The position slider: shows the play position and lets the user set it.
// While the user holds it (mouse or key) the mode is "seeking", so that the
// timer leaves the thumb where the user puts it; letting go applies the
// thumb's position and restarts a playing song there.
class TimeTrackWndProc : public QSlider {
  public:
    explicit TimeTrackWndProc(QWidget* toolbar);

    // Refreshes the readout at once (the main window's timer handler).
    void setRefresh(std::function<void()> refresh) { refresh_ = std::move(refresh); }
    // The mode saved when the current (or last) gesture began.
    int pMode() const { return pMode_; }
    // The x range the thumb's centre travels, widened by the thumb's margin
    // of 5 on either side (the scale places its labels from it).
    QRect channelRect() const;
    // The number of tick marks, both ends included.
    int numTicks() const;
    // Sets the play position as letting go of the slider at it would, with
    // the thumb brought there. False (nothing done) while the user holds
    // the slider.
    bool seekTo(std::uint32_t pos);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void beginGesture();
    void endGesture();
    void applyPosition(std::uint32_t pos);

    int pMode_ = 0;
    std::function<void()> refresh_;
};

// The time scale: the clock time under each tick mark of the slider, on
// light grey.
class TimeCoordWndProc : public QWidget {
  public:
    TimeCoordWndProc(QWidget* toolbar, const TimeTrackWndProc* slider);

    struct Label {
        QString text;
        int right;  // the x of the text's right end
        int index;  // the tick mark it stands for
    };
    struct Layout {
        QFont font;
        std::vector<Label> labels;
    };
    // The smallest font the labels are ever drawn in: below it a label that
    // would collide with its neighbour is left out instead.
    static constexpr int kMinLabelPixels = 7;

    // What a paint draws: nothing before a file is loaded. Labels never
    // overlap one another or leave the scale: long texts get a smaller font
    // (down to kMinLabelPixels), then labels between the ends are dropped.
    Layout layout() const;
    std::vector<Label> labels() const { return layout().labels; }

    // The passage on repeat, from and to in units, marked under the labels.
    void setPassage(std::optional<std::pair<std::uint32_t, std::uint32_t>> units);
    // Where the marks stand, from and to in x; nothing when none is drawn.
    std::optional<std::pair<int, int>> passageMarks() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const TimeTrackWndProc* slider_;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> passage_;
};

}  // namespace lirno
