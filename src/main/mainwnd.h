// The main window: menu, two-row toolbar with the position display and the
// logo, the track view under it, and the 100 ms timer.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <map>
#include <memory>
#include <optional>

#include "device/device.h"
#include "main/practice.h"
#include "main/songmemory.h"
#include "mmio/sequencer.h"

namespace lirno {

class AboutDlgProc;
class LyricsPane;
class PortChoice;
class SoundChoice;
class TimeCoordWndProc;
class TimeTrackWndProc;
class Toolbar;
class TrackViewWndProc;

class MainWndProc : public QMainWindow {
    Q_OBJECT
  public:
    static constexpr int kCompactWidth = 445;
    static constexpr int kCompactHeight = 95;
    static constexpr int kTimerPeriodMs = 100;

    // The window talks to the sequencer through device (not owned; it must
    // outlive the window's shut-down). nullptr: no device.
    explicit MainWndProc(device::Device* device, QWidget* parent = nullptr);
    ~MainWndProc() override;

    // A command from the menu, the toolbar, the logo, or another copy.
    void command(int id, int param = 0);
    // The timer's tick; also called directly to refresh the readout at once.
    void timer();
    // The device's end-of-play notice, delivered on the GUI thread; from is
    // the device that sent it (0: the open one).
    void notice(int flag, device::DeviceId from = 0);

    // The children, for the commands and for tests.
    Toolbar* toolbar() const { return toolbar_; }
    TimeTrackWndProc* timeTrack() const { return timeTrack_; }
    TimeCoordWndProc* timeCoord() const { return timeCoord_; }
    QLabel* timeReadout() const { return time_; }
    QToolButton* logo() const { return logo_; }
    TrackViewWndProc* trackView() const { return trackView_; }
    const QTimer& tickTimer() const { return timer_; }
    // The menu item of a command, or nullptr.
    QAction* menuAction(int id) const;
    // Sets the readout's text (and what assistive tools read from it).
    void setReadout(const QString& text);

    // Speed, key and passage for the loaded song, as the Music menu sets
    // them: heard at once and remembered for the song. False with no song
    // loaded, or when the device refused them (and said so).
    bool changePlayback(const device::PlaybackSettings& settings);
    // Where the passage lies, in units; nothing without one.
    std::optional<UnitSpan> passageUnits() const { return passageUnits_; }
    // Speed and key at a glance: hidden at 100 % and key 0.
    QLabel* practiceBadge() const { return badge_; }
    QMenu* recentMenu() const { return recentMenu_; }
    const RecentSongs& recentSongs() const { return recent_; }
    LyricsPane* lyricsPane() const { return lyrics_; }
    // SoundFonts and effects, as Music > Sound... sets them.
    SoundChoice& sound() { return *sound_; }
    const SoundChoice& sound() const { return *sound_; }
    // Where songs play, as Music > MIDI Output... sets it.
    PortChoice& ports() { return *ports_; }
    const PortChoice& ports() const { return *ports_; }
    // Whether Record Track is taking what the keyboard plays into a new row.
    bool recording() const { return recording_.has_value(); }
    // The device the window plays on, or nullptr.
    device::Device* device() const { return device_; }

  signals:
    // The window has run its shut-down; the program ends (the quit message).
    void windowDestroyed();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // Creation, in order.
    void createMenus();
    void createToolBar();
    bool createTrackView();
    void createTimer();
    void createPositionDisplay();
    void createLogo();
    void createPracticeBadge();
    void installDevice(device::Device* device);

    // Shut-down: runs once, whichever way the window ends.
    void destroyWindow();
    int clientTop() const;

    // Commands.
    void openFile(int param);
    void saveAs();
    void exitProgram();
    void stop();
    void play();
    void pause();
    void loopMusic();
    void viewTrackList();
    void showTrackRows(bool show);
    void volumeControl();
    void showDialog(int dialogId);
    bool musicCommand(int id);

    // Record Track (recordcommands.cpp).
    void recordTrack();
    void startRecording();
    void finishRecording(bool playsOn = false);
    void showRecordNotice(int why);
    void markRecording(bool on);
    void followRecordChannel();

    // What the commands share (opencommands.cpp, playcommands.cpp).
    void setCaption();
    void closeDevice();
    void measureSong();
    void refreshReadout(int nextMode);
    void rewind();
    void enableFileButtons(bool enable);
    void unloadFile();
    bool isFromEarlierPlay(int flag, device::DeviceId from) const;
    void endOfPlay();

    // Practice and recent songs (practicecommands.cpp).
    void practiceCommand(int id);
    void openRecent(int index);
    void fillRecentMenu();
    void addRecentMenu(QMenu* file);
    void enablePracticeItems(bool enable);
    void recallPlayback();
    bool applyPlayback(const device::PlaybackSettings& settings);
    void showPractice();
    void startInPassage();

    // The words and the rows' lights (lyricscommands.cpp).
    void createLyricsPane();
    void followSong(std::uint32_t units);

    Toolbar* toolbar_ = nullptr;
    TrackViewWndProc* trackView_ = nullptr;
    TimeTrackWndProc* timeTrack_ = nullptr;
    TimeCoordWndProc* timeCoord_ = nullptr;
    QLabel* time_ = nullptr;
    QToolButton* logo_ = nullptr;
    QTimer timer_;
    std::map<int, QAction*> menuActions_;
    QPointer<AboutDlgProc> dialog_;         // the modal dialog being shown
    std::optional<SequencerInstall> link_;  // the device, until the shut-down
    bool destroyed_ = false;
    bool songRefused_ = false;  // the device could not open the play file when measuring it
    QLabel* badge_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    QAction* clearRecent_ = nullptr;
    RecentSongs recent_;
    QString songKey_;  // what the loaded song's settings are remembered by
    SongClock clock_;
    std::optional<UnitSpan> passageUnits_;
    LyricsPane* lyrics_ = nullptr;
    std::unique_ptr<SoundChoice> sound_;
    std::unique_ptr<PortChoice> ports_;
    device::Device* device_ = nullptr;
    // The track a recording goes into, and the song's format before it came.
    struct Recording {
        int fileTrack = 0;
        std::uint16_t formatBefore = 0;
    };
    std::optional<Recording> recording_;
};

}  // namespace lirno
