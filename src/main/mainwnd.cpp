#include "main/mainwnd.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenuBar>

#include "ctrl/trackview.h"
#include "main/aboutdlg.h"
#include "main/accessible.h"
#include "main/filedrop.h"
#include "main/keyboard.h"
#include "main/portchoice.h"
#include "main/resload.h"
#include "main/shell.h"
#include "main/soundchoice.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "mmio/message.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "mmio/sequencer.h"
#include "mmio/timeconv.h"
#include "res/resources.h"

namespace lirno {

namespace {
// Places on the toolbar, in its own coordinates.
constexpr QRect kTimeTrackRect(185, 1, 200, 31);
constexpr QRect kTimeCoordRect(185, 32, 205, 15);
constexpr QRect kTimeRect(137, 30, 47, 16);
constexpr QRect kLogoRect(395, 5, 40, 40);
// Speed and key, when not normal: the free place right of the first row.
constexpr QRect kBadgeRect(157, 2, 27, 26);
// The class background of the main window.
const QColor kLightGrey(192, 192, 192);
}  // namespace

MainWndProc::MainWndProc(device::Device* device, QWidget* parent) : QMainWindow(parent) {
    // Before any button exists: assistive tools' view of each is made once.
    installAccessibleButtons();
    shell.szTitle = res::LoadString(res::IDS_TITLE);
    setWindowTitle(QString::fromStdString(shell.szTitle));
    setWindowIcon(windowIcon());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kLightGrey);
    setPalette(pal);
    installDevice(device);
    // Before the first play: the chosen sound, read once.
    sound_ = std::make_unique<SoundChoice>(device);
    ports_ = std::make_unique<PortChoice>(device);
    device_ = device;

    createMenus();
    createToolBar();
    if (!createTrackView()) {
        MessageBox(Owner::None, "View not created!");
        return;
    }
    playback.nMode = kModeStopped;
    playback.fFileLoaded = false;
    playback.wOutDeviceID = 0;
    createTimer();
    createPositionDisplay();
    createLogo();
    createPracticeBadge();
    createLyricsPane();
    playback.dwPlayPos = 0;
    resize(kCompactWidth, kCompactHeight);
    // The desktop's ways in: keyboard and dropped files.
    setUpKeyboard(*this);
    new FileDrop(*this);
}

MainWndProc::~MainWndProc() {
    destroyWindow();
}

void MainWndProc::installDevice(device::Device* device) {
    // The device calls from its own thread: hand the notice to the GUI
    // thread. The application object outlives the device, the window may
    // not, so the call goes through the one and looks for the other there.
    QPointer<MainWndProc> self(this);
    link_.emplace(device, [self](device::DeviceId id, int flag) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, flag, id] {
                if (self) self->notice(flag, id);
            },
            Qt::QueuedConnection);
    });
}

void MainWndProc::createMenus() {
    for (const auto& popup : res::mainMenu()) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(popup.title));
        for (const auto& item : popup.items) {
            if (item.id == 0) {
                menu->addSeparator();
                continue;
            }
            if (item.id == res::IDM_EXIT) addRecentMenu(menu);
            QAction* action = menu->addAction(QString::fromUtf8(item.text));
            action->setEnabled(!item.grayed);
            const int id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { command(id); });
            menuActions_[id] = action;
        }
    }
}

void MainWndProc::createToolBar() {
    toolbar_ = new Toolbar(this);
    connect(toolbar_, &Toolbar::commandTriggered, this, [this](int id) { command(id); });
}

bool MainWndProc::createTrackView() {
    trackView_ = CreateTrackView(this);
    return trackView_ != nullptr;
}

void MainWndProc::createTimer() {
    connect(&timer_, &QTimer::timeout, this, &MainWndProc::timer);
    timer_.start(kTimerPeriodMs);
}

void MainWndProc::createPositionDisplay() {
    timeTrack_ = new TimeTrackWndProc(toolbar_);
    timeTrack_->setGeometry(kTimeTrackRect);
    timeTrack_->setRefresh([this] { timer(); });
    timeTrack_->setToolTip(loadString(res::IDS_TIMETRACK));
    timeTrack_->setAccessibleName(loadString(res::IDS_TIMETRACK));

    timeCoord_ = new TimeCoordWndProc(toolbar_, timeTrack_);
    timeCoord_->setGeometry(kTimeCoordRect);
    timeCoord_->setAccessibleName(QStringLiteral("Time scale"));

    time_ = new QLabel(toolbar_);
    time_->setGeometry(kTimeRect);
    time_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    time_->setAlignment(Qt::AlignCenter);
    time_->setFont(hfont());
    time_->setAccessibleName(QStringLiteral("Time"));
    setReadout(QStringLiteral("0:00.0"));
}

void MainWndProc::createLogo() {
    logo_ = new QToolButton(toolbar_);
    logo_->setGeometry(kLogoRect);
    logo_->setIcon(QIcon(loadIconPixmap(res::IDI_LOGO)));
    logo_->setIconSize(QSize(32, 32));
    logo_->setAccessibleName(loadString(res::IDM_ABOUT));
    connect(logo_, &QToolButton::clicked, this, [this] { command(res::IDM_ABOUT); });
}

void MainWndProc::createPracticeBadge() {
    badge_ = new QLabel(toolbar_);
    badge_->setGeometry(kBadgeRect);
    badge_->setAlignment(Qt::AlignCenter);
    QFont font = hfont();
    font.setBold(true);
    badge_->setFont(font);
    badge_->setAccessibleName(QStringLiteral("Speed and key"));
    badge_->hide();
}

void MainWndProc::setReadout(const QString& text) {
    time_->setText(text);
    time_->setAccessibleDescription(text);
}

QAction* MainWndProc::menuAction(int id) const {
    const auto it = menuActions_.find(id);
    return it == menuActions_.end() ? nullptr : it->second;
}

int MainWndProc::clientTop() const {
    const QMenuBar* bar = menuBar();
    return bar->heightForWidth(width()) > 0 ? bar->heightForWidth(width())
                                            : bar->sizeHint().height();
}

void MainWndProc::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    const int top = clientTop();
    toolbar_->setGeometry(0, top, width(), Toolbar::kHeight);
    if (trackView_) ResizeTrackView(trackView_, this, top + Toolbar::kHeight);
}

void MainWndProc::closeEvent(QCloseEvent* event) {
    destroyWindow();
    event->accept();
}

void MainWndProc::destroyWindow() {
    if (destroyed_) return;
    destroyed_ = true;
    timer_.stop();
    if (dialog_) dialog_->done(1);
    // What was played goes with the song: the window keeps nothing now.
    if (recording_ && device_) device_->stopRecording();
    recording_.reset();
    // The device goes first: it must not be playing from a file that is gone.
    if (playback.fFileLoaded) {
        if (playback.nMode == kModePlaying || playback.nMode == kModePaused) {
            mcimidiStop(playback.wOutDeviceID);
            mcimidiClose(playback.wOutDeviceID);
        }
        playback.nMode = kModeStopped;
    }
    loaded = LoadedFile{};
    deltmp(playback.sTmpName);
    playback.sTmpName.clear();
    link_.reset();
    emit windowDestroyed();
}

}  // namespace lirno
