// Placeholder until the track view's rows are built: an empty view and header.
#include "ctrl/trackview.h"

#include "mmio/playback.h"

namespace lirno {

TrackViewWndProc::TrackViewWndProc(QWidget* mainWindow)
    : QWidget(mainWindow), header_(new QLabel(mainWindow)), rows_(loaded.image, loaded.MidiInfo)
{
    hide();
    header_->hide();
}

TrackViewWndProc::~TrackViewWndProc() = default;

TrackViewWndProc* CreateTrackView(QWidget* mainWindow) { return new TrackViewWndProc(mainWindow); }

void ResizeTrackView(TrackViewWndProc* view, QWidget* mainWindow, int top)
{
    view->header()->setGeometry(0, top, mainWindow->width(), 20);
    view->setGeometry(0, top + 20, mainWindow->width(), std::max(0, mainWindow->height() - top - 20));
}

int InsertTrackViewItems(TrackViewWndProc* view)
{
    view->rows().fill();
    view->show();
    view->header()->show();
    return 1;
}

int ShowTrack(QWidget* mainWindow)
{
    mainWindow->resize(585, 417);
    return 1;
}

int HideTrack(QWidget* mainWindow)
{
    mainWindow->resize(445, 95);
    return 1;
}

}  // namespace lirno
