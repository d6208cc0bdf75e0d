// The track list: a scrollable view with one row of controls per listed
// track, and the column header above it.
//
// The rows' state and what a click does live in TrackRows (Qt-free); the
// widgets here mirror it and pass the user's gestures to its handlers.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

#include "ctrl/trackrows.h"

namespace lirno {

// The track view window. Owned by the main window (a child widget).
class TrackViewWndProc : public QWidget {
    Q_OBJECT
public:
    explicit TrackViewWndProc(QWidget* mainWindow);
    ~TrackViewWndProc() override;

    // The column header: a child of the main window, so it never scrolls.
    QLabel* header() const { return header_; }
    // The rows' state; what Save As reads the On boxes and names from.
    TrackRows& rows() { return rows_; }
    const TrackRows& rows() const { return rows_; }

private:
    QPointer<QLabel> header_;
    TrackRows rows_;
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

}  // namespace lirno
