// The track view window: its frame, client area and scroll bar, scrolling in
// whole rows, and its place in the main window.
#include "ctrl/trackview.h"

#include <QApplication>
#include <QScrollBar>
#include <QStringListModel>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>

#include "ctrl/instruments.h"
#include "ctrl/trackview_controls.h"
#include "mmio/playback.h"
#include "mmio/sequencer.h"

namespace lirno {

namespace {

// The stock light-grey brush the list's background was always painted with.
const QColor kLightGrey(192, 192, 192);
const QColor kDisabledText(112, 112, 112);

QStringList programNames() {
    QStringList names;
    for (int p = 0; p < 128; ++p)
        names.append(QString::fromLatin1(gmprogname[static_cast<std::size_t>(p)]));
    return names;
}

ScrollRequest requestFor(int action, bool thumbHeld) {
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            return ScrollRequest::LineUp;
        case QAbstractSlider::SliderSingleStepAdd:
            return ScrollRequest::LineDown;
        case QAbstractSlider::SliderPageStepSub:
            return ScrollRequest::PageUp;
        case QAbstractSlider::SliderPageStepAdd:
            return ScrollRequest::PageDown;
        case QAbstractSlider::SliderToMinimum:
            return ScrollRequest::Top;
        case QAbstractSlider::SliderToMaximum:
            return ScrollRequest::Bottom;
        case QAbstractSlider::SliderMove:
            return thumbHeld ? ScrollRequest::ThumbTrack : ScrollRequest::ThumbPosition;
        default:
            return ScrollRequest::EndScroll;
    }
}

}  // namespace

TrackViewWndProc::TrackViewWndProc(QWidget* mainWindow)
    : QFrame(mainWindow),
      client_(new QWidget(this)),
      scrollBar_(new QScrollBar(Qt::Vertical, this)),
      programNames_(new QStringListModel(programNames(), this)),
      header_(new TrackHeader(mainWindow)),
      rows_(loaded.image, loaded.MidiInfo, [] { mcimidiChange(); }) {
    hide();
    header_->hide();
    header_->setColumnOrigin(client_);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(kFrameWidth);
    setFont(trackViewFont());
    setAccessibleName(QStringLiteral("Track list"));

    QPalette grey = client_->palette();
    grey.setColor(QPalette::Window, kLightGrey);
    // Rows disabled by a solo stay readable: grey text, not a faint trace.
    for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        grey.setColor(QPalette::Disabled, role, kDisabledText);
    client_->setPalette(grey);
    client_->setAutoFillBackground(true);
    client_->installEventFilter(this);

    // Nothing moves while the thumb is dragged: its position counts once let go.
    scrollBar_->setTracking(false);
    scrollBar_->setRange(0, 0);
    connect(scrollBar_, &QAbstractSlider::actionTriggered, this, &TrackViewWndProc::onScrollAction);
    connect(scrollBar_, &QAbstractSlider::valueChanged, this, &TrackViewWndProc::onScrollValue);
    layoutClient();
}

TrackViewWndProc::~TrackViewWndProc() {
    delete header_;
}

QLabel* TrackViewWndProc::header() const {
    return header_;
}

void TrackViewWndProc::layoutClient() {
    const QRect area = contentsRect();
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scrollBar_);
    const int clientWidth = std::max(0, area.width() - bar);
    scrollBar_->setGeometry(area.left() + clientWidth, area.top(), std::min(bar, area.width()),
                            area.height());
    client_->setGeometry(area.left(), area.top(), clientWidth, area.height());
}

void TrackViewWndProc::updateScrollBar() {
    scrollBar_->setRange(0, scroll_.nRange);
    scrollBar_->setPageStep(std::max(1, scroll_.visibleRows()));
    scrollBar_->setValue(scroll_.nScrollPos);
}

void TrackViewWndProc::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    layoutClient();
    scroll_.resize(client_->height(), items_);
    updateScrollBar();
}

void TrackViewWndProc::onScrollAction(int action) {
    const std::optional<int> dy = scroll_.request(requestFor(action, scrollBar_->isSliderDown()),
                                                  scrollBar_->sliderPosition());
    if (!dy) return;
    // The scroll bar takes this position once the action is over.
    scrollBar_->setSliderPosition(scroll_.nScrollPos);
    moveRows(*dy);
}

// A position set on the bar without an action (its "Scroll here" menu entry,
// assistive technology) counts as the thumb let go there.
void TrackViewWndProc::onScrollValue(int value) {
    if (value == scroll_.nScrollPos) return;
    const std::optional<int> dy = scroll_.request(ScrollRequest::ThumbPosition, value);
    scrollBar_->setValue(scroll_.nScrollPos);
    if (dy) moveRows(*dy);
}

void TrackViewWndProc::moveRows(int dy) {
    if (dy == 0) return;
    for (int r = 0; r < items_; ++r) {
        for (int c = 0; c < kColumnCount; ++c) {
            QWidget* control = controls_.byId(controlId(c, r));
            control->move(control->x(), control->y() + dy);
        }
    }
}

// The wheel scrolls the list by rows wherever it turns over the view, also
// over a slider or an instrument list, which would otherwise take it.
void TrackViewWndProc::wheelEvent(QWheelEvent* event) {
    QCoreApplication::sendEvent(scrollBar_, event);
}

bool TrackViewWndProc::eventFilter(QObject* watched, QEvent* event) {
    // The client's background is filled by now; the lights go on top.
    if (watched == client_ && event->type() == QEvent::Paint) paintLights();
    if (event->type() == QEvent::Wheel) {
        QCoreApplication::sendEvent(scrollBar_, event);
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

TrackViewWndProc* CreateTrackView(QWidget* mainWindow) {
    auto* view = new TrackViewWndProc(mainWindow);
    ResizeTrackView(view, mainWindow, 0);
    return view;
}

void ResizeTrackView(TrackViewWndProc* view, QWidget* mainWindow, int top) {
    if (!view || !mainWindow) return;
    const int width = mainWindow->width();
    view->header()->setGeometry(0, top, width, kHeaderHeight);
    view->setGeometry(0, top + kHeaderHeight, width,
                      std::max(0, mainWindow->height() - top - kHeaderHeight));
}

int InsertTrackViewItems(TrackViewWndProc* view) {
    return view ? view->fillRows() : 0;
}

namespace {

// Sets the window's outer size (frame included where a window manager draws
// one), keeping its top-left corner where it is.
// The sizes are the window's own (menu bar included, frame excluded): a
// window manager's title bar must not eat into the two-row toolbar.
int setWindowSize(QWidget* window, QSize size) {
    if (!window) return 1;
    const QPoint topLeft = window->pos();
    window->resize(size);
    if (window->isVisible()) window->move(topLeft);
    return 1;
}

}  // namespace

int ShowTrack(QWidget* mainWindow) {
    return setWindowSize(mainWindow, kExpandedSize);
}

int HideTrack(QWidget* mainWindow) {
    return setWindowSize(mainWindow, kCompactSize);
}

}  // namespace lirno
