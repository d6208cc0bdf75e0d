// Writes the session screenshots for docs/screenshots (run under Xvfb):
//   LIRNO_AUDIO=none xvfb-run -a -s "-screen 0 1024x768x24" session_screenshots DIR SONG.mid
// The compact window playing SONG, the track list with SONG half played,
// the box a file the analysis refuses brings, and SONG practised: at 60 %,
// two semitones down, bars 9 to 12 on repeat, with the Music menu and the
// recent songs. Then a karaoke song in Windows-1251 sung along in the lyrics
// pane, with the rows' lights on (one row switched off) for the session's
// activity shot; a part recorded into it as a new row, and the MIDI Output
// dialog. The program's settings go to a folder of its own.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "ctrl/trackview.h"
#include "device/engine/fluid_device.h"
#include "device/song/song_file.h"
#include "device/song/timing.h"
#include "main/lyricspane.h"
#include "main/mainwnd.h"
#include "main/messagebox_qt.h"
#include "main/outputdialog.h"
#include "main/portchoice.h"
#include "main/resload.h"
#include "main/shell.h"
#include "main/toolbar.h"
#include "mmio/loadsave.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "res/resource.h"
#include "support/fake_device.h"
#include "support/recorder.h"

namespace {

using namespace lirno;

void save(const QPixmap& picture, const QString& dir, const char* name) {
    const QString path = dir + QLatin1Char('/') + QLatin1String(name);
    if (!picture.save(path)) qWarning("could not write %s", qPrintable(path));
}

QPixmap grabScreenArea(QRect area) {
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                        area.height());
}

// Opens a file as from the command line, without playing it.
void load(MainWndProc& window, const std::string& path) {
    shell.szFileName = path;
    setFileDialogs({[path] { return std::optional<std::string>(path); }, {}});
    window.command(res::IDM_OPEN);
}

// Plays from a fraction of the song and lets the timer catch up.
void playFrom(MainWndProc& window, double fraction) {
    playback.dwPlayPos = static_cast<std::uint32_t>(playback.dwFileSize * fraction);
    window.command(res::IDM_PLAY);
    QTest::qWait(700);
}

// A song the analysis refuses: an unknown chunk before its track.
std::string refusedSong() {
    smf::Track t;
    t.tempo(0, 500000).ev(0, {0x90, 60, 100}).ev(96, {0x80, 60, 0}).end();
    smf::Bytes bytes = smf::file(0, 96, {t});
    const smf::Bytes extra = {'X', 'T', 'R', 'A', 0, 0, 0, 2, 1, 2};
    bytes.insert(bytes.begin() + 14, extra.begin(), extra.end());
    const std::string path = QDir::tempPath().toStdString() + "/karaoke-extra.mid";
    test::writeFile(path, bytes);
    return path;
}

void messageShot(MainWndProc& window, const QString& dir) {
    const std::string path = refusedSong();
    QTimer::singleShot(400, [&window, dir] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box) return;
        box->move(window.x() + 60, window.y() + 40);
        QTest::qWait(300);
        save(grabScreenArea(window.frameGeometry().united(box->frameGeometry())), dir,
             "session-message.png");
        static_cast<QDialog*>(box)->accept();
    });
    load(window, path);
    std::remove(path.c_str());
}

// Where a bar starts in the song, in units; 0 when the song cannot say.
std::uint32_t barUnits(const std::string& path, std::uint32_t bar) {
    std::shared_ptr<const device::Song> song;
    if (device::loadSongFile(path, song) != 0 || !song->timing) return 0;
    const auto tick = song->timing->tickOf({bar, 1});
    return tick ? std::uint32_t(song->timing->tickToNs(*tick) / device::kNsPerUnit) : 0;
}

void commandTimes(MainWndProc& window, int id, int times) {
    for (int i = 0; i < times; ++i) window.command(id);
}

// The menu of the menu bar whose title is `title`, opened under it.
QMenu* openMenu(MainWndProc& window, const QString& title) {
    for (QAction* a : window.menuBar()->actions()) {
        if (a->text() != title || !a->menu()) continue;
        const QRect at = window.menuBar()->actionGeometry(a);
        a->menu()->popup(window.mapToGlobal(at.bottomLeft()));
        QTest::qWait(300);
        return a->menu();
    }
    return nullptr;
}

void saveWithPopups(MainWndProc& window, const QString& dir, const char* name) {
    QRect area = window.frameGeometry();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMenu*>(w) && w->isVisible()) area = area.united(w->geometry());
    save(grabScreenArea(area), dir, name);
}

void practiceShots(MainWndProc& window, const std::string& song, const QString& dir) {
    load(window, song);
    commandTimes(window, res::IDM_SLOWER, 8);
    commandTimes(window, res::IDM_KEYDOWN, 2);
    playback.dwPlayPos = barUnits(song, 9);
    window.command(res::IDM_PASSAGESTART);
    playback.dwPlayPos = barUnits(song, 13);
    window.command(res::IDM_PASSAGEEND);
    window.command(res::IDM_PLAY);
    QTest::qWait(1500);
    save(window.grab(), dir, "session-practice.png");

    QMenu* music = openMenu(window, QStringLiteral("&Music"));
    saveWithPopups(window, dir, "session-practice-menu.png");
    if (music) music->close();
    if (QMenu* file = openMenu(window, QStringLiteral("&File"))) {
        window.recentMenu()->popup(
            file->geometry().topRight() +
            QPoint(0, file->actionGeometry(window.recentMenu()->menuAction()).y()));
        QTest::qWait(300);
        saveWithPopups(window, dir, "session-recent-songs.png");
        window.recentMenu()->close();
        file->close();
    }
    window.command(res::IDM_STOP);
}

// Cyrillic text in Windows-1251, as an old karaoke file has it: the letters
// A..ya sit in one block from 0xC0.
std::string cp1251(const QString& text) {
    std::string bytes;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        bytes += u >= 0x410 && u <= 0x44F ? char(0xC0 + (u - 0x410)) : char(u);
    }
    return bytes;
}

// "Kalinka" (a folk song), its refrain twice: the words as a karaoke file's
// text events with its tags, a tune note per syllable, bass, chords, drums.
std::string karaokeSong() {
    const QStringList syllables =
        QStringLiteral(
            "\\Ка|лин|ка, |ка|лин|ка, |ка|лин|ка |мо|я!|/В са|ду |я|го|да |ма|лин|ка, |ма|лин|ка "
            "|мо|я!")
            .split(QLatin1Char('|'));
    const int tune[] = {76, 74, 72, 76, 74, 72, 76, 74, 72, 71, 69, 69, 71,
                        72, 74, 76, 77, 76, 74, 72, 71, 72, 74, 72, 69};
    smf::Track words, melody, bass, chords, drums;
    words.tempo(0, 500000).text(0, "@KMIDI KARAOKE FILE").text(0, cp1251("@TКалинка"));
    words.text(0, cp1251("@Iнародная песня"));
    melody.name("Melody").program(0, 0, 73);
    bass.name("Bass").program(0, 1, 33);
    chords.name("Chords").program(0, 2, 0);
    drums.name("Drums");
    std::uint32_t since = 0;  // ticks since the last syllable began
    std::uint32_t gap = 0;    // ticks since the last note ended
    for (int verse = 0; verse < 2; ++verse) {
        // A verse is four bars: 23 eighths, two half notes and an eighth's rest.
        for (int i = 0; i < syllables.size(); ++i) {
            const std::uint32_t len = i == 10 || i == 24 ? 192 : 48;
            words.text(since, cp1251(syllables[i]));
            melody.on(gap, 0, tune[i], 110).off(len, 0, tune[i]);
            since = len;
            gap = 0;
        }
        since += 48;
        gap = 48;
        for (int beat = 0; beat < 16; ++beat) {
            const int bassKey = beat % 2 ? 45 : 40;
            const int drumKey = beat % 2 ? 38 : 36;
            bass.on(0, 1, bassKey, 100).off(96, 1, bassKey);
            drums.on(0, 9, drumKey, 90).off(96, 9, drumKey);
        }
        for (int bar = 0; bar < 4; ++bar)
            chords.on(0, 2, 57, 70).on(0, 2, 64, 70).off(384, 2, 57).off(0, 2, 64);
    }
    for (smf::Track* t : {&words, &melody, &bass, &chords, &drums}) t->end();
    const std::string path = QDir::tempPath().toStdString() + "/kalinka.kar";
    test::writeFile(path, smf::file(1, 96, {words, melody, bass, chords, drums}));
    return path;
}

// The karaoke song played with the lyrics pane open below the window, and
// the rows lighting up with the bass row off.
void karaokeShots(MainWndProc& window, const QString& dir) {
    const std::string song = karaokeSong();
    load(window, song);
    window.command(res::IDM_LYRICS);
    QTest::mouseClick(window.trackView()->controls().hwndOn[1], Qt::LeftButton);
    playback.dwPlayPos = 14;  // into the second line
    window.command(res::IDM_PLAY);
    QTest::qWait(1100);
    save(grabScreenArea(window.frameGeometry().united(window.lyricsPane()->frameGeometry())), dir,
         "session-lyrics.png");
    save(window.grab(), dir, "session-activity.png");
    window.command(res::IDM_STOP);
    window.command(res::IDM_LYRICS);
    std::remove(song.c_str());
}

// A keyboard's part recorded into the karaoke song as a new row (on a
// silent device that stands in for the keyboard), and the MIDI Output
// dialog with a synthesizer program and a hardware port listed.
void recordShots(const QString& dir) {
    test::FakeDevice device;
    device.keyboard = true;
    device.openablePorts = {"jack:qsynth:midi_00"};
    playback.sTmpName = gettmpname();
    MainWndProc window(&device);
    shell.hWndMain = &window;
    window.move(0, 0);
    window.show();
    const std::string song = karaokeSong();
    load(window, song);
    window.command(res::IDM_RECORD);
    QComboBox* instrument = window.trackView()->controls().hwndInstr[4];
    instrument->setCurrentIndex(11);  // Vibraphone
    emit instrument->activated(11);
    device.toRecord = {{0, 0x93, 76, 90}, {48, 0x83, 76, 0}, {48, 0x93, 79, 90}, {96, 0x83, 79, 0}};
    device.position_ = 40;
    QTest::qWait(300);
    save(window.grab(), dir, "session-recording.png");
    window.command(res::IDM_STOP);
    window.trackView()->rows().typeName(4, "Vibes");
    window.trackView()->controls().hwndName[4]->setText("Vibes");
    QTest::qWait(200);
    save(window.grab(), dir, "session-recorded.png");

    window.ports().setLister([] {
        return std::vector<device::PortInfo>{
            {"jack:qsynth:midi_00", "qsynth: midi_00"},
            {"alsa:24:0", "Digital Piano: MIDI 1", true},
        };
    });
    window.ports().change("jack:qsynth:midi_00");
    OutputDialog dialog(window.ports(), &window);
    dialog.move(40, 40);
    dialog.show();
    QTest::qWait(300);
    save(dialog.grab(), dir, "main-midi-output.png");
    dialog.close();
    window.close();
    std::remove(song.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        qWarning("usage: session_screenshots DIR SONG.mid");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const std::string song = argv[2];
    initResources();
    const QTemporaryDir config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    setMessageBoxHandler(qtMessageBoxes());
    playback.sTmpName = gettmpname();
    const std::unique_ptr<device::Device> device = device::makeDevice();
    {
        MainWndProc window(device.get());
        shell.hWndMain = &window;
        window.move(0, 0);
        window.show();
        QTest::qWait(300);

        load(window, song);
        QTest::mouseClick(window.toolbar()->button(res::IDM_VIEWTRACKS), Qt::LeftButton);
        playFrom(window, 0.3);
        save(window.grab(), dir, "session-compact.png");

        window.command(res::IDM_STOP);
        QTest::mouseClick(window.toolbar()->button(res::IDM_VIEWTRACKS), Qt::LeftButton);
        playFrom(window, 0.5);
        save(window.grab(), dir, "session-playing.png");

        messageShot(window, dir);
        practiceShots(window, song, dir);
        karaokeShots(window, dir);
        window.close();
    }
    recordShots(dir);
    deltmp(playback.sTmpName);
    return 0;
}
