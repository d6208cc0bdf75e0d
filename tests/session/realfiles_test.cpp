// Files nobody here wrote, one after the other in one window, as a user
// would open them: musical files load, list and play with at most the
// analysis' own diagnostics; damaged ones are reported in the program's own
// boxes and leave a window that still works. Skipped when the shared folder
// is absent.
#include <QDir>

#include "session.h"

using namespace lirno;
using namespace lirno::res;
using namespace lirno::test;

namespace {

QStringList midiFiles(const char* sub) {
    const QDir dir(QStringLiteral(LIRNO_SHARED_MIDI) + '/' + sub);
    QStringList files;
    for (const QString& name : dir.entryList({"*.mid", "*.MID", "*.kar"}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

QString boxTexts(const Session& s) {
    QStringList texts;
    for (const std::string& t : s.boxes.texts()) texts << QString::fromStdString(t);
    return texts.join(" | ");
}

// Plays a moment and stops: a file the device opens plays from the start,
// one it refused stays stopped with Play up, and Stop brings every file back
// to the stopped state.
void playAndStop(Session& s) {
    s.command(IDM_PLAY);
    const bool plays = playback.fFileLoaded && playback.wOutDeviceID != 0;
    QCOMPARE(playback.nMode, plays ? kModePlaying : kModeStopped);
    QCOMPARE(s.checked(IDM_PLAY), plays);
    s.window->timer();
    s.command(IDM_STOP);
    QCOMPARE(playback.nMode, kModeStopped);
    QCOMPARE(s.readout(), QString("0:00.0"));
}

}  // namespace

class RealFilesTest : public QObject {
    Q_OBJECT
  private slots:
    void musicalFilesLoadListAndPlaySilently();
    void damagedFilesAreReportedAndLeaveAWorkingWindow();
};

void RealFilesTest::musicalFilesLoadListAndPlaySilently() {
    const QStringList files = midiFiles("real");
    if (files.isEmpty()) QSKIP("no shared MIDI files at " LIRNO_SHARED_MIDI);
    Session s;
    for (const QString& file : files) {
        s.open(file.toStdString());
        // The analysis may show its diagnostics ("Test"); nothing else is said.
        for (const Message& m : s.boxes.messages)
            QVERIFY2(m.caption == "Test", qPrintable(file + ": " + boxTexts(s)));
        s.boxes.messages.clear();
        QVERIFY2(s.view()->items() > 0, qPrintable(file));
        QCOMPARE(s.view()->items(), std::min<int>(loaded.MidiInfo.nViewTracks, kMaxTracks));
        QVERIFY2(playback.dwFileSize > 0, qPrintable(file));
        playAndStop(s);
        QVERIFY2(s.device.failed.empty(), qPrintable(file));
    }
}

void RealFilesTest::damagedFilesAreReportedAndLeaveAWorkingWindow() {
    const QStringList files = midiFiles("edge");
    if (files.isEmpty()) QSKIP("no shared MIDI files at " LIRNO_SHARED_MIDI);
    Session s;
    const std::vector<std::string> captions = {"", "Attention", "Test", "Lirno Error"};
    for (const QString& file : files) {
        s.boxes.messages.clear();
        s.open(file.toStdString());
        for (const Message& m : s.boxes.messages)
            QVERIFY2(std::find(captions.begin(), captions.end(), m.caption) != captions.end(),
                     qPrintable(file + ": " + QString::fromStdString(m.caption)));
        QVERIFY2(playback.fFileLoaded, qPrintable(file));  // every one of them can be read
        QCOMPARE(s.view()->items(), std::min<int>(loaded.MidiInfo.nViewTracks, kMaxTracks));
        QVERIFY(s.enabled(IDM_PLAY));
        playAndStop(s);
    }
    // After all of them a good song still loads and plays.
    s.open(s.file("after.mid", song(1, {0})));
    s.command(IDM_PLAY);
    QTRY_VERIFY_WITH_TIMEOUT(s.reached(1), kWaitMs);
}

QTEST_MAIN(RealFilesTest)
#include "realfiles_test.moc"
