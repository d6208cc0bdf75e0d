// The built program as separate processes: one copy per user, and the play
// file that lives exactly as long as its copy, however that copy ends.
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <memory>

#include "main/singlecopy.h"
#include "support/player_process.h"

namespace {

constexpr int kWaitMs = 20000;  // only a hung program takes this long

// Polls until done() holds; false when it never did.
template <typename Done>
bool waitUntil(Done done) {
    QDeadlineTimer deadline(kWaitMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(20);
    }
    return true;
}

// One user's world, and what these tests look at in it.
struct Session : lirno::test::PlayerWorld {
    QStringList allTemporaryFiles() const {
        return QDir(tmp()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QString socketName() const { return runtime() + "/lirno-Player"; }
    bool listening() const { return QFile::exists(socketName()); }
    // The title of the box the copy started last shows (from its state file).
    QString modal() const {
        QFile f(stateFile());
        if (!f.open(QIODevice::ReadOnly)) return {};
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("modal ")) return QString::fromUtf8(line.mid(6));
        return {};
    }
    // A file the player cannot list: a box comes up as it opens.
    QString notMidi() const {
        const QString path = runtime() + "/picture.mid";
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.write("\x89PNG\r\n\x1a\n not a song");
        return path;
    }

    // Up: its play file made and its window there for a new copy to find.
    bool ready(int playFilesExpected = 1) const {
        return waitUntil([&] { return listening() && playFiles().size() == playFilesExpected; });
    }
};

bool endedCleanly(QProcess& p) {
    return p.waitForFinished(kWaitMs) && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == 0;
}

}  // namespace

class ProcessTest : public QObject {
    Q_OBJECT
  private slots:
    void playFileLivesWhileRunningAndGoesOnSigterm();
    void sigintEndsTheProgramCleanly();
    void newCopyEndsTheRunningOneFirst();
    void anotherUsersCopyIsNotTouched();
    void killedCopysLeftoversGoAtTheNextStart();
    void aCopyShowingABoxGivesWayAtOnce();
    void aLateCopyRemovesOnlyItsOwnSocket();
    void withoutADisplayOneLineNamesTheCommandLinePlayer();
};

void ProcessTest::playFileLivesWhileRunningAndGoesOnSigterm() {
    Session s;
    auto p = s.start();
    QVERIFY(s.ready());
    const QString playFile = s.playFiles().value(0);
    QVERIFY(playFile.startsWith("lq"));
    QCOMPARE(QFileInfo(s.tmp() + "/" + playFile).size(), 0);
    p->terminate();
    QVERIFY(endedCleanly(*p));
    QCOMPARE(s.allTemporaryFiles(), QStringList());
    QVERIFY(!s.listening());
}

void ProcessTest::sigintEndsTheProgramCleanly() {
    Session s;
    auto p = s.start();
    QVERIFY(s.ready());
    ::kill(static_cast<pid_t>(p->processId()), SIGINT);
    QVERIFY(endedCleanly(*p));
    QCOMPARE(s.allTemporaryFiles(), QStringList());
}

void ProcessTest::newCopyEndsTheRunningOneFirst() {
    Session s;
    auto first = s.start();
    QVERIFY(s.ready());
    const QStringList firstFile = s.playFiles();
    // While the old copy cannot answer, the new one must not go ahead.
    const auto firstPid = static_cast<pid_t>(first->processId());
    ::kill(firstPid, SIGSTOP);
    // A signal to a copy that waits for the old one ends it at once.
    auto impatient = s.start();
    QVERIFY(impatient->waitForStarted(kWaitMs));
    QTest::qWait(500);
    impatient->terminate();
    QVERIFY(endedCleanly(*impatient));
    QCOMPARE(s.playFiles(), firstFile);
    QVERIFY(s.listening());  // it never took the old copy's place
    auto second = s.start();
    QVERIFY(second->waitForStarted(kWaitMs));
    QTest::qWait(1000);
    QCOMPARE(s.playFiles(), firstFile);
    QCOMPARE(second->state(), QProcess::Running);
    ::kill(firstPid, SIGCONT);
    // The old copy is gone, play file and all, before the new one makes its own.
    bool bothAtOnce = false;
    QVERIFY(waitUntil([&] {
        bothAtOnce = bothAtOnce || s.playFiles().size() > 1;
        return first->state() == QProcess::NotRunning && s.playFiles().size() == 1 &&
               s.playFiles() != firstFile && s.listening();
    }));
    QVERIFY(!bothAtOnce);
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QCOMPARE(second->state(), QProcess::Running);
    second->terminate();
    QVERIFY(endedCleanly(*second));
    QCOMPARE(s.allTemporaryFiles(), QStringList());
}

void ProcessTest::anotherUsersCopyIsNotTouched() {
    Session mine, theirs;
    auto other = theirs.start();
    QVERIFY(theirs.ready());
    auto own = mine.start();
    QVERIFY(mine.ready());
    QCOMPARE(other->state(), QProcess::Running);
    QCOMPARE(theirs.playFiles().size(), 1);
    for (auto* p : {other.get(), own.get()}) {
        p->terminate();
        QVERIFY(endedCleanly(*p));
    }
}

void ProcessTest::killedCopysLeftoversGoAtTheNextStart() {
    Session s;
    auto crashed = s.start();
    QVERIFY(s.ready());
    const QStringList leftover = s.playFiles();
    crashed->kill();
    QVERIFY(crashed->waitForFinished(kWaitMs));
    QVERIFY(s.listening());  // its socket stays behind, nobody answers on it
    QCOMPARE(s.playFiles(), leftover);
    // The next copy takes the socket over and removes the dead copy's play file.
    auto next = s.start();
    QVERIFY(waitUntil([&] { return s.playFiles().size() == 1 && s.playFiles() != leftover; }));
    next->terminate();
    QVERIFY(endedCleanly(*next));
    QCOMPARE(s.allTemporaryFiles(), QStringList());
}

void ProcessTest::aCopyShowingABoxGivesWayAtOnce() {
    // A newer copy, and each of the three signals: the box closes and the
    // copy runs its whole shut-down, showing nothing more.
    for (const int how : {0, SIGTERM, SIGINT, SIGHUP}) {
        Session s;
        auto boxed = s.start({s.notMidi()});
        QVERIFY(waitUntil([&] { return !s.modal().isEmpty() && s.listening(); }));
        std::unique_ptr<QProcess> newer;
        if (how == 0)
            newer = s.start();
        else
            ::kill(static_cast<pid_t>(boxed->processId()), how);
        QVERIFY2(endedCleanly(*boxed), qPrintable(QString::number(how)));
        if (newer) {
            // The newer copy runs alone, on its own play file and socket.
            QVERIFY(waitUntil([&] { return s.playFiles().size() == 1 && s.listening(); }));
            QVERIFY(newer->waitForStarted(kWaitMs));
            QCOMPARE(newer->state(), QProcess::Running);
            newer->terminate();
            QVERIFY(endedCleanly(*newer));
        }
        QCOMPARE(s.allTemporaryFiles(), QStringList());
        QVERIFY(!s.listening());
    }
}

void ProcessTest::aLateCopyRemovesOnlyItsOwnSocket() {
    Session s;
    auto late = s.start();
    QVERIFY(s.ready());
    // While the old copy cannot answer, a newer copy (this test) takes the
    // name over, as it does when its wait for the old one runs out.
    const auto latePid = static_cast<pid_t>(late->processId());
    ::kill(latePid, SIGSTOP);
    int exits = 0;
    lirno::SingleCopyServer newer([&exits] { ++exits; });
    QVERIFY(newer.listen(s.socketName()));
    ::kill(latePid, SIGCONT);
    ::kill(latePid, SIGTERM);
    QVERIFY(endedCleanly(*late));
    // The old copy's end left the newer copy's socket where later copies find it.
    QVERIFY(s.listening());
    QVERIFY(lirno::exitRunningCopy(s.socketName(), 100) || exits > 0);
    QVERIFY(waitUntil([&] { return exits == 1; }));
}

void ProcessTest::withoutADisplayOneLineNamesTheCommandLinePlayer() {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("LIRNO_AUDIO", "none");
    p.setProcessEnvironment(env);
    p.start(LIRNO_PLAYER_PATH, {});
    QVERIFY(p.waitForFinished(kWaitMs));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QCOMPARE(err.count(QLatin1Char('\n')), 1);
    QVERIFY2(err.contains("lirno-midi play"), qPrintable(err));
}

QTEST_GUILESS_MAIN(ProcessTest)
#include "process_test.moc"
