// The built program started with a file name: it loads the file without a
// dialog and plays it at once, to its end. Watched through the state file
// the program writes when LIRNO_STATE_FILE names one.
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <map>
#include <memory>

#include "common/smfwrite.h"
#include "mmio/midiinfo.h"
#include "support/player_process.h"
#include "support/recorder.h"

namespace {

constexpr int kWaitMs = 20000;  // only a hung program takes this long

using State = std::map<QString, QString>;

State readState(const QString& path) {
    QFile f(path);
    State state;
    if (!f.open(QIODevice::ReadOnly)) return state;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const int blank = line.indexOf(' ');
        if (blank > 0)
            state[QString::fromUtf8(line.left(blank))] = QString::fromUtf8(line.mid(blank + 1));
    }
    return state;
}

// A two-second song: a note on every beat at 120 beats a minute.
lirno::smf::Bytes twoSeconds() {
    lirno::smf::Track t;
    t.name("Melody").tempo(0, 500000).ev(0, {0xC0, 0});
    for (int beat = 0; beat < 4; ++beat) t.ev(0, {0x90, 64, 100}).ev(96, {0x80, 64, 50});
    t.end();
    return lirno::smf::file(0, 96, {t});
}

}  // namespace

class CommandLineTest : public QObject {
    Q_OBJECT
  private slots:
    void fileOnTheCommandLinePlaysAtOnceToItsEnd();
};

void CommandLineTest::fileOnTheCommandLinePlaysAtOnceToItsEnd() {
    const lirno::test::PlayerWorld world;
    const lirno::test::ScratchDir songs;
    // A name with a blank, given as two arguments: the program joins them.
    const QString song = QString::fromStdString(songs.file("my song.mid"));
    const lirno::smf::Bytes bytes = twoSeconds();
    lirno::test::writeFile(song.toStdString(), bytes);
    const QString stateFile = world.stateFile();

    const auto started = world.start({QString::fromStdString(songs.file("my")), "song.mid"});
    QProcess& player = *started;
    QVERIFY(player.waitForStarted(kWaitMs));

    QTRY_VERIFY_WITH_TIMEOUT(readState(stateFile)["mode"] == "1", kWaitMs);
    State s = readState(stateFile);
    QCOMPARE(s["caption"], "Lirno Player - " + song);
    QCOMPARE(s["loaded"], QString("1"));
    QCOMPARE(s["play"], QString("1"));
    QCOMPARE(s["length"], QString("16"));
    QCOMPARE(s["rows"], QString("1"));
    // Played as it is: normal speed and key, no passage.
    QCOMPARE(s["speed"], QString("100"));
    QCOMPARE(s["key"], QString("0"));
    QVERIFY(s.count("section") == 1);
    QCOMPARE(s["section"], QString());
    // The play file holds the file's normalised image.
    const QStringList playFiles = world.playFiles();
    QCOMPARE(playFiles.size(), 1);
    lirno::FileImage image = lirno::FileImage::fromBytes(bytes);
    lirno::MidiInfo info;
    QCOMPARE(lirno::readmidiinfo(image, info), 1);
    QCOMPARE(lirno::test::readFile((world.tmp() + '/' + playFiles[0]).toStdString()),
             lirno::test::bytesOf(image));

    // It plays on, then its end rewinds it: stopped at 0, Play released.
    QTRY_VERIFY_WITH_TIMEOUT(readState(stateFile)["pos"].toInt() > 0, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(readState(stateFile)["mode"] == "0", kWaitMs);
    s = readState(stateFile);
    QCOMPARE(s["play"], QString("0"));
    QCOMPARE(s["readout"], QString("0:00.0"));
    QCOMPARE(s["device"], QString("0"));
    QCOMPARE(player.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(player.processId()), SIGTERM);
    QVERIFY(player.waitForFinished(kWaitMs));
    QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(player.exitCode(), 0);
    QVERIFY(world.playFiles().isEmpty());
}

QTEST_MAIN(CommandLineTest)
#include "cmdline_test.moc"
