// Loads that fail or are refused, and names that are odd: what the user is
// told, and that the window is left in a state that makes sense.
#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <QWindow>

#include "session.h"

using namespace lirno;
using namespace lirno::res;
using namespace lirno::test;

class FailuresTest : public QObject {
    Q_OBJECT
  private slots:
    void rejectedFileListsNothingButPlays();
    void failedLoadReturnsToTheStateWithoutAFile();
    void unopenableOrCancelledKeepsTheSongPlaying();
    void commandLineFilePlaysAtOnceWithoutADialog();
    void longAndOddNamesOpenAndShowWhole();
    void unplayableFileIsReportedOnceAndLeavesTheWindowStopped();
    void exitWhileTheOpenDialogIsUpLeavesNothingBehind();
};

namespace {

Bytes withUnknownChunk(Bytes bytes) {
    const Bytes extra = {'X', 'T', 'R', 'A', 0, 0, 0, 2, 1, 2};
    bytes.insert(bytes.begin() + 14, extra.begin(), extra.end());
    return bytes;
}

// The buttons, slider and readout as start-up leaves them.
void expectStartUpDisplay(Session& s) {
    for (int id : {IDM_NEW, IDM_SAVEAS, IDM_STOP, IDM_PLAY, IDM_PAUSE, IDM_LOOP, IDM_VIEWTRACKS})
        QVERIFY2(!s.enabled(id), qPrintable(QString::number(id)));
    for (int id : {IDM_OPEN, IDM_ABOUT, IDM_VOLUME, IDM_RECORD})
        QVERIFY2(s.enabled(id), qPrintable(QString::number(id)));
    QVERIFY(!s.checked(IDM_PLAY) && !s.checked(IDM_PAUSE));
    QVERIFY(!s.window->timeTrack()->isEnabled());
    QCOMPARE(s.window->timeTrack()->value(), 0);
    QCOMPARE(s.readout(), QString("0:00.0"));
    QVERIFY(s.window->timeCoord()->labels().empty());
    QCOMPARE(s.window->size(), kCompactSize);
    QVERIFY(!s.view()->isVisible());
    QCOMPARE(s.window->windowTitle(), QString("Lirno Player"));
}

}  // namespace

void FailuresTest::rejectedFileListsNothingButPlays() {
    Session s;
    const Bytes bytes = withUnknownChunk(song(2, {0, 1}));
    s.open(s.file("odd.mid", bytes));
    QCOMPARE(s.boxes.messages.size(), std::size_t(1));
    QCOMPARE(s.boxes.messages[0],
             (Message{Owner::Main, "This format is not supported! (Try Play only)", "Attention",
                      Icon::Exclamation}));
    QVERIFY(playback.fFileLoaded);
    QCOMPARE(s.view()->items(), 0);
    QCOMPARE(readFile(playback.sTmpName), bytes);
    QVERIFY(s.enabled(IDM_PLAY));
    s.clickButton(IDM_PLAY);
    QCOMPARE(playback.nMode, kModePlaying);
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(2), kWaitMs);
    QCOMPARE(s.boxes.messages.size(), std::size_t(1));
}

void FailuresTest::failedLoadReturnsToTheStateWithoutAFile() {
    Session s;
    // A kernel file claims a page but reads short, as a file that shrinks
    // under the load would; a file too big for the image cannot be held.
    const QString shortRead = QStringLiteral("/sys/devices/system/cpu/online");
    const QString huge = QString::fromStdString(s.tmp.file("huge.mid"));
    {
        QFile f(huge);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(1) << 32));  // sparse: costs no disk
    }
    const std::pair<QString, std::string> failures[] = {{shortRead, "Zero bytes read."},
                                                        {huge, "GlobalAlloc failed!"}};
    for (const auto& [path, text] : failures) {
        if (!QFileInfo::exists(path)) continue;
        s.boxes.messages.clear();
        s.open(s.file("good.mid", song(4, {0, 1})));
        s.command(IDM_PLAY);
        QTRY_VERIFY_WITH_TIMEOUT(s.reached(1), kWaitMs);
        const std::uint32_t id = playback.wOutDeviceID;
        s.device.since();

        s.open(path.toStdString());
        QCOMPARE(s.boxes.texts(), std::vector<std::string>{text});
        // The song stops and its device closes; nothing is left loaded.
        QCOMPARE(s.device.since(), (std::vector<std::string>{call("stop", id), call("close", id)}));
        QCOMPARE(playback.wOutDeviceID, 0u);
        QCOMPARE(playback.nMode, kModeStopped);
        QVERIFY(!playback.fFileLoaded);
        QCOMPARE(s.view()->items(), 0);
        QCOMPARE(s.view()->rows().count(), 0);
        QCOMPARE(loaded.image.dwFileBufSize, 0u);
        QCOMPARE(int(loaded.MidiInfo.nViewTracks), 0);
        QVERIFY(shell.szFileName.empty());
        expectStartUpDisplay(s);
        // Nothing plays, nothing of the old song is saved.
        s.command(IDM_PLAY);
        s.command(IDM_PAUSE);
        QCOMPARE(playback.nMode, kModeStopped);
        QVERIFY(s.device.since().empty());
        const std::string copy = s.tmp.file("copy.mid");
        s.seam.saveAnswers.push_back(copy);
        s.command(IDM_SAVEAS);
        QVERIFY(!QFileInfo::exists(QString::fromStdString(copy)));  // nothing to save: no file
        QCOMPARE(s.seam.savePreloads.back(), std::string());
        QCOMPARE(s.boxes.texts(), (std::vector<std::string>{text, "Error save file"}));
    }
    // And the next load is a load like the first.
    s.open(s.file("again.mid", song(1, {0, 1, 2})));
    QCOMPARE(s.view()->items(), 3);
    QVERIFY(s.enabled(IDM_PLAY));
    QCOMPARE(s.window->size(), kExpandedSize);
    QVERIFY(s.view()->isVisible());
}

void FailuresTest::unopenableOrCancelledKeepsTheSongPlaying() {
    Session s;
    const std::string path = s.file("song.mid", song(8, {0, 1}));
    s.open(path);
    s.command(IDM_PLAY);
    const QString caption = s.window->windowTitle();
    const Bytes image = bytesOf(loaded.image);
    s.device.since();

    // Missing, a folder, a FIFO (refused at once: nothing waits for a writer).
    const std::string fifo = s.tmp.file("pipe.mid");
    QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& bad : {s.tmp.file("missing.mid"), s.tmp.path().string(), fifo})
        s.open(bad);
    QCOMPARE(s.boxes.messages,
             (std::vector<Message>(3, Message{Owner::None, "File open failed.", "", Icon::None})));
    s.command(IDM_OPEN);  // cancelled
    QCOMPARE(s.boxes.messages.size(), std::size_t(3));
    QVERIFY(s.device.since().empty());
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(s.reached(0));
    QCOMPARE(s.view()->items(), 2);
    QCOMPARE(bytesOf(loaded.image), image);
    QCOMPARE(s.window->windowTitle(), caption);
    // After a cancelled dialog the name is empty: Save As starts empty.
    QVERIFY(shell.szFileName.empty());
}

void FailuresTest::commandLineFilePlaysAtOnceWithoutADialog() {
    Session s;
    const std::string path = s.file("tune.mid", song(4, {0}));
    shell.szFileName = path;
    s.window->command(IDM_OPEN, OPEN_AND_PLAY);
    QCOMPARE(s.seam.opens, 0);
    QCOMPARE(shell.szFileName, path);
    QCOMPARE(playback.nMode, kModePlaying);
    QVERIFY(s.checked(IDM_PLAY));
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(2), kWaitMs);
    // A file opened from the dialog waits for Play.
    s.open(s.file("other.mid", song(4, {0})));
    QCOMPARE(playback.nMode, kModeStopped);
    QVERIFY(s.boxes.messages.empty());
}

void FailuresTest::longAndOddNamesOpenAndShowWhole() {
    Session s;
    // A path beyond the 260 bytes of the original buffers.
    QString folder = s.folder();
    for (int level = 0; level < 5; ++level) folder += '/' + QString(60, QChar('a' + level));
    QVERIFY(QDir().mkpath(folder));
    const std::string longPath = folder.toStdString() + "/song [*] with blanks.mid";
    QVERIFY(longPath.size() > 300);
    writeFile(longPath, song(2, {0}));
    shell.szFileName = longPath;
    s.window->command(IDM_OPEN, OPEN_AND_PLAY);
    QVERIFY(s.boxes.messages.empty());
    QCOMPARE(playback.nMode, kModePlaying);
    // The caption shows the whole path, "[*]" included.
    const QString expected = QString::fromStdString("Lirno Player - " + longPath);
    QCOMPARE(s.window->windowHandle()->title(), expected);
    s.command(IDM_SAVEAS);
    QCOMPARE(s.seam.savePreloads, std::vector<std::string>{longPath});

    // A quoted name is taken as it stands, quotes and all.
    shell.szFileName = '"' + s.file("plain.mid", song(1, {0})) + '"';
    s.window->command(IDM_OPEN, OPEN_AND_PLAY);
    QCOMPARE(s.boxes.texts(), std::vector<std::string>{"File open failed."});
    QCOMPARE(playback.nMode, kModePlaying);
}

void FailuresTest::unplayableFileIsReportedOnceAndLeavesTheWindowStopped() {
    Session s;
    s.open(s.file("song.mid", song(2, {0})));
    // An empty file and a picture: refused by the analysis, then by the
    // device, and each says so once, whether opened or given to start with.
    const std::string empty = s.file("empty.mid", {});
    const std::string png =
        s.file("picture.mid", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0});
    for (const bool commandLine : {false, true}) {
        s.boxes.messages.clear();
        if (commandLine) {
            shell.szFileName = png;
            s.window->command(IDM_OPEN, OPEN_AND_PLAY);
        } else {
            s.open(empty);
        }
        QCOMPARE(s.boxes.messages.size(), std::size_t(2));
        QCOMPARE(s.boxes.messages[0].text,
                 std::string("This format is not supported! (Try Play only)"));
        QCOMPARE(s.boxes.messages[1].caption, std::string("Lirno Error"));
        QVERIFY(playback.fFileLoaded);
        // The scale shows this song's state, not the last song's length.
        QCOMPARE(playback.dwFileSize, 0u);
        for (const auto& label : s.window->timeCoord()->labels())
            QCOMPARE(label.text, QString("0:00"));
        // Play has nothing new to say and leaves the window stopped.
        s.command(IDM_PLAY);
        QCOMPARE(s.boxes.messages.size(), std::size_t(2));
        QCOMPARE(playback.nMode, kModeStopped);
        QVERIFY(!s.checked(IDM_PLAY));
        QCOMPARE(playback.wOutDeviceID, 0u);
        QCOMPARE(s.readout(), QString("0:00.0"));
    }
    // Nor does the way out.
    s.command(IDM_EXIT);
    QCOMPARE(s.boxes.messages.size(), std::size_t(2));
}

void FailuresTest::exitWhileTheOpenDialogIsUpLeavesNothingBehind() {
    Session s;
    const std::string path = s.file("song.mid", song(1, {0}));
    // Another copy starts while this one's open dialog is up: the window
    // runs its shut-down, then the dialog returns a file.
    setFileDialogs({[&s, path] {
                        s.command(IDM_EXIT);
                        return std::optional<std::string>(path);
                    },
                    {}});
    s.command(IDM_OPEN);
    QVERIFY(s.device.calls.empty() && s.device.failed.empty());
    QVERIFY(!playback.fFileLoaded);
    QCOMPARE(s.view()->items(), 0);
    QCOMPARE(s.window->windowTitle(), QString("Lirno Player"));
    QCOMPARE(QDir(s.folder()).entryList({"lq*"}, QDir::Files), QStringList());
    s.command(IDM_PLAY);
    QVERIFY(s.device.calls.empty());
}

QTEST_MAIN(FailuresTest)
#include "failures_test.moc"
