// The track list: a scrollable view with one row of controls per listed
// track, and the column header above it.
//
// The rows' state and what a click does live in TrackRows (Qt-free); the
// widgets here mirror it and pass the user's gestures to its handlers.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

#include "ctrl/activity.h"
#include "ctrl/trackrows.h"
#include "ctrl/trackview_scroll.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QScrollBar;
class QSlider;
class QStringListModel;

namespace lirno {

class TrackHeader;

// The six controls of every row, indexed by row (listed track) number.
struct RowControls {
    std::array<QCheckBox*, kMaxTracks> hwndOn{};
    std::array<QRadioButton*, kMaxTracks> hwndOnly{};
    std::array<QLineEdit*, kMaxTracks> hwndName{};
    std::array<QComboBox*, kMaxTracks> hwndInstr{};
    std::array<QSlider*, kMaxTracks> hwndVol{};
    std::array<QSlider*, kMaxTracks> hwndBal{};

    // The control with id 100 x column + r, or null.
    QWidget* byId(int id) const;
};

// The track view window. Owned by the main window (a child widget).
class TrackViewWndProc : public QFrame {
    Q_OBJECT
  public:
    explicit TrackViewWndProc(QWidget* mainWindow);
    ~TrackViewWndProc() override;

    // The column header: a child of the main window, so it never scrolls.
    QLabel* header() const;
    // The rows' state; what Save As reads the On boxes and names from.
    TrackRows& rows() { return rows_; }
    const TrackRows& rows() const { return rows_; }

    // Destroys the old rows and builds one per listed track of the loaded
    // file, unscrolled and without solo. Returns 1.
    int fillRows();
    // A row for the listed track added last (a recorded one), the other
    // rows as they stand; the last row taken away again; the last row's
    // track filled (its notes now heard, or muted as the row says).
    void addRow();
    void dropRow();
    void lastRowFilled();
    // Rows built.
    int items() const { return items_; }
    const RowControls& controls() const { return controls_; }
    const TrackScroll& scroll() const { return scroll_; }
    // The client area the rows live in (their coordinates are its own).
    QWidget* client() const { return client_; }
    QScrollBar* scrollBar() const { return scrollBar_; }

    // The rows' activity lights at a song position (the loaded song's notes
    // are read at the first call after a fill), and all of them dark.
    void showActivity(std::int64_t atNs);
    void darkenActivity();
    // Each row's light, 0 (dark) to 1; empty when darkened.
    const std::vector<float>& activityLevels() const { return levels_; }
    // Where row r's light is drawn in the client area: the free margin right
    // of its balance slider, clear of every control.
    QRect lightRect(int r) const;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class Notice { Clicked, SelChange, Edited };

    void layoutClient();
    void updateScrollBar();
    void destroyRows();
    void destroyRow(int r);
    void rowsChanged();
    void makeRow(int r);
    QWidget* adopt(QWidget* control, int column, int r, const QString& what);
    void makeInstrumentList(int r);
    void makeSlider(int column, int r, int value);
    void onCommand(int id, Notice code);
    void onSliderEnd(QSlider* slider);
    void onScrollAction(int action);
    void onScrollValue(int value);
    void moveRows(int dy);
    void mirrorRows();
    void paintLights();

    QWidget* client_ = nullptr;
    QScrollBar* scrollBar_ = nullptr;
    QStringListModel* programNames_ = nullptr;
    QPointer<TrackHeader> header_;
    TrackRows rows_;
    RowControls controls_;
    int items_ = 0;
    TrackScroll scroll_;
    TrackActivity activity_;
    std::vector<float> levels_;
};

// Creates the hidden view and header as children of mainWindow and lays them
// out; returns the view.
TrackViewWndProc* CreateTrackView(QWidget* mainWindow);
// Stacks the header and the view from y = top of the main window's client
// area (under the toolbar) to its bottom.
void ResizeTrackView(TrackViewWndProc* view, QWidget* mainWindow, int top);
// Rebuilds the rows from the loaded file; 1 on success.
int InsertTrackViewItems(TrackViewWndProc* view);
// The expanded (585 x 417) and compact (445 x 95) main window, keeping its
// top-left corner. Both return 1.
int ShowTrack(QWidget* mainWindow);
int HideTrack(QWidget* mainWindow);

// The sizes ShowTrack and HideTrack give the main window (its own size,
// without the window manager's frame).
inline constexpr QSize kExpandedSize{585, 417};
inline constexpr QSize kCompactSize{445, 95};

}  // namespace lirno
