// The built program as separate processes: one copy per user, and the play
// file that lives exactly as long as its copy, however that copy ends.
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

namespace {

constexpr int kWaitMs = 20000;  // only a hung program takes this long

// Polls until done() holds; false when it never did.
template <typename Done>
bool waitUntil(Done done)
{
    QDeadlineTimer deadline(kWaitMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(20);
    }
    return true;
}

// One user's world: a private runtime folder and temporary folder.
struct Session {
    QTemporaryDir runtime;
    QTemporaryDir tmp;

    Session() { QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); }

    QStringList playFiles() const
    {
        return QDir(tmp.path()).entryList({"lq*.tmp"}, QDir::Files, QDir::Name);
    }
    QStringList allTemporaryFiles() const
    {
        return QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    bool listening() const { return QFile::exists(runtime.path() + "/lirno-Player"); }

    std::unique_ptr<QProcess> start(const QStringList& args = {}) const
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LIRNO_AUDIO", "none");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("TMPDIR", tmp.path());
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(LIRNO_PLAYER_PATH, args);
        return p;
    }

    // Up: its play file made and its window there for a new copy to find.
    bool ready(int playFilesExpected = 1) const
    {
        return waitUntil([&] { return listening() && playFiles().size() == playFilesExpected; });
    }
};

bool endedCleanly(QProcess& p)
{
    return p.waitForFinished(kWaitMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
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
};

void ProcessTest::playFileLivesWhileRunningAndGoesOnSigterm()
{
    Session s;
    auto p = s.start();
    QVERIFY(s.ready());
    const QString playFile = s.playFiles().value(0);
    QVERIFY(playFile.startsWith("lq"));
    QCOMPARE(QFileInfo(s.tmp.path() + "/" + playFile).size(), 0);
    p->terminate();
    QVERIFY(endedCleanly(*p));
    QCOMPARE(s.allTemporaryFiles(), QStringList());
    QVERIFY(!s.listening());
}

void ProcessTest::sigintEndsTheProgramCleanly()
{
    Session s;
    auto p = s.start();
    QVERIFY(s.ready());
    ::kill(static_cast<pid_t>(p->processId()), SIGINT);
    QVERIFY(endedCleanly(*p));
    QCOMPARE(s.allTemporaryFiles(), QStringList());
}

void ProcessTest::newCopyEndsTheRunningOneFirst()
{
    Session s;
    auto first = s.start();
    QVERIFY(s.ready());
    const QStringList firstFile = s.playFiles();
    // While the old copy cannot answer, the new one must not go ahead.
    const auto firstPid = static_cast<pid_t>(first->processId());
    ::kill(firstPid, SIGSTOP);
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

void ProcessTest::anotherUsersCopyIsNotTouched()
{
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

void ProcessTest::killedCopysLeftoversGoAtTheNextStart()
{
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
    QVERIFY(s.ready(1));
    QVERIFY(!s.playFiles().contains(leftover.value(0)));
    next->terminate();
    QVERIFY(endedCleanly(*next));
    QCOMPARE(s.allTemporaryFiles(), QStringList());
}

QTEST_GUILESS_MAIN(ProcessTest)
#include "process_test.moc"
