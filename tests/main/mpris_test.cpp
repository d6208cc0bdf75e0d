// The player on a private session bus, asked as playerctl and the desktop's
// media controls ask: properties against the state, the media keys against
// the playback rules, seeking through the position slider's path.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include "main/mpris.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"
#include "res/resource.h"
#include "support/fake_device.h"
#include "support/shell_fixture.h"

using namespace lirno;
using namespace lirno::res;
using lirno::test::FakeDevice;
using lirno::test::ShellFixture;

namespace {

const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
constexpr qlonglong kUs = 125000;  // microseconds in a device unit

smf::Bytes song() {
    smf::Track t;
    t.name("Lead").ev(0, {0xC0, 0}).ev(0, {0x90, 60, 100}).ev(96, {0x80, 60, 64}).end();
    return smf::file(0, 96, {t});
}

}  // namespace

class MprisTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void propertiesBeforeASongAndQuit();
    void mediaKeysFollowThePlaybackRules();
    void seekingGoesThroughTheSliderPath();
    void rateIsTheSpeed();

  public slots:
    void propertiesChanged(const QString& iface, const QVariantMap& changed, const QStringList&);
    void seeked(qlonglong position) { seeks_.push_back(position); }

  private:
    QDBusMessage call(const QString& iface, const QString& method, const QVariantList& args = {});
    QVariant get(const QString& iface, const QString& name);
    QVariantMap metadata();
    void open();
    // The playback status the last PropertiesChanged signal carried.
    QString lastStatus() const {
        return changes_.empty()
                   ? QString()
                   : changes_.back().value(QStringLiteral("PlaybackStatus")).toString();
    }

    QProcess daemon_;
    QString address_;
    int round_ = 0;
    std::unique_ptr<ShellFixture> f_;
    FakeDevice device_;
    std::unique_ptr<MainWndProc> w_;
    QDBusConnection server_{QString()}, client_{QString()};
    std::vector<QVariantMap> changes_;
    std::vector<qlonglong> seeks_;
};

void MprisTest::initTestCase() {
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (exe.isEmpty()) QSKIP("dbus-daemon is not installed");
    daemon_.start(exe, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                        QStringLiteral("--print-address")});
    QVERIFY(daemon_.waitForStarted());
    QTRY_VERIFY(daemon_.canReadLine());
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    QVERIFY(!address_.isEmpty());
}

void MprisTest::cleanupTestCase() {
    if (daemon_.state() == QProcess::NotRunning) return;
    daemon_.terminate();
    daemon_.waitForFinished();
}

void MprisTest::init() {
    ++round_;
    f_ = std::make_unique<ShellFixture>();
    device_ = FakeDevice{};
    playback.sTmpName = gettmpname();
    w_ = f_->makeWindow(&device_);
    server_ = QDBusConnection::connectToBus(address_, QStringLiteral("server%1").arg(round_));
    client_ = QDBusConnection::connectToBus(address_, QStringLiteral("client%1").arg(round_));
    QVERIFY(server_.isConnected() && client_.isConnected());
    auto* service = new MprisService(*w_);  // owned by the window
    QVERIFY(service->registerOn(server_));
    QVERIFY(!service->registerOn(server_));
    const QString name = QString::fromLatin1(kMprisService), path = QString::fromLatin1(kMprisPath);
    QVERIFY(client_.connect(name, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("PropertiesChanged"), this,
                            SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
    QVERIFY(client_.connect(name, path, kPlayer, QStringLiteral("Seeked"), this,
                            SLOT(seeked(qlonglong))));
    changes_.clear();
    seeks_.clear();
}

void MprisTest::cleanup() {
    w_.reset();
    QDBusConnection::disconnectFromBus(server_.name());
    QDBusConnection::disconnectFromBus(client_.name());
    f_.reset();
}

void MprisTest::propertiesChanged(const QString& iface, const QVariantMap& changed,
                                  const QStringList&) {
    if (iface == kPlayer) changes_.push_back(changed);
}

// Asynchronous: the player answers on this same thread.
QDBusMessage MprisTest::call(const QString& iface, const QString& method,
                             const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(QString::fromLatin1(kMprisService),
                                                    QString::fromLatin1(kMprisPath), iface, method);
    m.setArguments(args);
    QDBusPendingCall pending = client_.asyncCall(m);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 5000)) return {};
    return pending.reply();
}

QVariant MprisTest::get(const QString& iface, const QString& name) {
    const QDBusMessage reply = call(QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {iface, name});
    if (reply.type() != QDBusMessage::ReplyMessage) return {};
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

QVariantMap MprisTest::metadata() {
    return qdbus_cast<QVariantMap>(get(kPlayer, QStringLiteral("Metadata")).value<QDBusArgument>());
}

void MprisTest::open() {
    const QString path = QString::fromStdString(f_->tmp.file("my song.mid"));
    test::writeFile(path.toStdString(), song());
    shell.szFileName = path.toStdString();
    w_->command(IDM_OPEN, OPEN_AND_PLAY);
}

void MprisTest::propertiesBeforeASongAndQuit() {
    QCOMPARE(get(kRoot, QStringLiteral("Identity")).toString(), QStringLiteral("Lirno Player"));
    QCOMPARE(get(kRoot, QStringLiteral("DesktopEntry")).toString(),
             QStringLiteral("io.github.lirno.Player"));
    QCOMPARE(get(kRoot, QStringLiteral("CanQuit")).toBool(), true);
    QCOMPARE(get(kRoot, QStringLiteral("HasTrackList")).toBool(), false);
    QCOMPARE(get(kPlayer, QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Stopped"));
    QCOMPARE(get(kPlayer, QStringLiteral("CanPlay")).toBool(), false);
    QCOMPARE(get(kPlayer, QStringLiteral("CanSeek")).toBool(), false);
    QCOMPARE(get(kPlayer, QStringLiteral("CanGoNext")).toBool(), false);
    QCOMPARE(get(kPlayer, QStringLiteral("CanGoPrevious")).toBool(), false);
    QCOMPARE(get(kPlayer, QStringLiteral("Rate")).toDouble(), 1.0);
    QCOMPARE(get(kPlayer, QStringLiteral("MinimumRate")).toDouble(), 0.25);
    QCOMPARE(get(kPlayer, QStringLiteral("MaximumRate")).toDouble(), 2.0);
    QCOMPARE(metadata().value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path(),
             QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    // Nothing to play yet: Play is a no-op, as the disabled button is.
    call(kPlayer, QStringLiteral("Play"));
    QTest::qWait(20);
    QVERIFY(device_.plays.empty());
    QCOMPARE(playback.nMode, kModeStopped);

    // No bus: nothing happens, nothing is said.
    MprisService* other = new MprisService(*w_);
    QVERIFY(!other->registerOn(QDBusConnection(QStringLiteral("no such bus"))));
    QVERIFY(f_->boxes.messages.empty());

    // Quit is File > Exit.
    QSignalSpy ended(w_.get(), &MainWndProc::windowDestroyed);
    call(kRoot, QStringLiteral("Quit"));
    QTRY_COMPARE(ended.count(), 1);
}

void MprisTest::mediaKeysFollowThePlaybackRules() {
    open();
    QCOMPARE(playback.nMode, kModePlaying);
    QCOMPARE(get(kPlayer, QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Playing"));
    // The change reaches the bus with the timer's next tick at the latest.
    QTRY_COMPARE(lastStatus(), QStringLiteral("Playing"));
    QVERIFY(changes_.back().contains(QStringLiteral("Metadata")));

    const QVariantMap m = metadata();
    QCOMPARE(m.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("my song.mid"));
    QVERIFY(
        m.value(QStringLiteral("xesam:url")).toString().endsWith(QStringLiteral("/my%20song.mid")));
    QCOMPARE(m.value(QStringLiteral("mpris:length")).toLongLong(), qlonglong(device_.length) * kUs);
    QVERIFY(m.value(QStringLiteral("mpris:trackid"))
                .value<QDBusObjectPath>()
                .path()
                .startsWith(QStringLiteral("/io/github/lirno/Player/")));
    device_.position_ = 80;
    QCOMPARE(get(kPlayer, QStringLiteral("Position")).toLongLong(), 80 * kUs);

    // Pause pauses; Play while paused resumes through Pause, from where it was.
    call(kPlayer, QStringLiteral("Pause"));
    QTRY_COMPARE(playback.nMode, kModePaused);
    QCOMPARE(device_.pauses.size(), 1u);
    QTRY_COMPARE(lastStatus(), QStringLiteral("Paused"));
    QVERIFY(w_->toolbar()->isButtonChecked(IDM_PAUSE));
    call(kPlayer, QStringLiteral("Pause"));  // paused already: nothing
    QTest::qWait(20);
    QCOMPARE(playback.nMode, kModePaused);
    call(kPlayer, QStringLiteral("Play"));
    QTRY_COMPARE(playback.nMode, kModePlaying);
    QCOMPARE(device_.plays.back().from, 80u);
    QVERIFY(!w_->toolbar()->isButtonChecked(IDM_PAUSE));
    const auto plays = device_.plays.size();
    call(kPlayer, QStringLiteral("Play"));  // playing already: nothing
    QTest::qWait(20);
    QCOMPARE(device_.plays.size(), plays);

    call(kPlayer, QStringLiteral("PlayPause"));
    QTRY_COMPARE(playback.nMode, kModePaused);
    call(kPlayer, QStringLiteral("Stop"));
    QTRY_COMPARE(playback.nMode, kModeStopped);
    QCOMPARE(w_->timeReadout()->text(), QStringLiteral("0:00.0"));
    QTRY_COMPARE(lastStatus(), QStringLiteral("Stopped"));
    call(kPlayer, QStringLiteral("PlayPause"));
    QTRY_COMPARE(playback.nMode, kModePlaying);
    QCOMPARE(device_.plays.back().from, 0u);
}

void MprisTest::seekingGoesThroughTheSliderPath() {
    open();
    const QDBusObjectPath track =
        metadata().value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>();
    const auto id = playback.wOutDeviceID;

    // Playing: the song restarts at the new place, as after letting go of the slider.
    call(kPlayer, QStringLiteral("SetPosition"), {QVariant::fromValue(track), 60 * 8 * kUs});
    QTRY_COMPARE(device_.plays.back(), (FakeDevice::Play{id, 480}));
    QCOMPARE(playback.nMode, kModePlaying);
    QCOMPARE(w_->timeReadout()->text(), QStringLiteral("1:00.0"));
    QTRY_COMPARE(seeks_.size(), 1u);
    QCOMPARE(seeks_.back(), 480 * kUs);

    // Another song's id, or a place outside the song: let go.
    const auto plays = device_.plays.size();
    call(kPlayer, QStringLiteral("SetPosition"),
         {QVariant::fromValue(QDBusObjectPath(QStringLiteral("/io/github/lirno/Player/Song/999"))),
          qlonglong(0)});
    call(kPlayer, QStringLiteral("SetPosition"),
         {QVariant::fromValue(track), qlonglong(device_.length + 1) * kUs});
    QTest::qWait(20);
    QCOMPARE(device_.plays.size(), plays);

    // Paused: the position moves and the song stays paused; the thumb follows.
    device_.position_ = 480;
    call(kPlayer, QStringLiteral("Pause"));
    QTRY_COMPARE(playback.nMode, kModePaused);
    call(kPlayer, QStringLiteral("Seek"), {qlonglong(10 * 8 * kUs)});
    QTRY_COMPARE(playback.dwPlayPos, 560u);
    QCOMPARE(playback.nMode, kModePaused);
    QCOMPARE(device_.plays.size(), plays);
    QCOMPARE(w_->timeTrack()->value(), 560 * 200 / 2400 + 1);
    QCOMPARE(w_->timeReadout()->text(), QStringLiteral("1:10.0"));
    call(kPlayer, QStringLiteral("Seek"),
         {qlonglong(device_.length) * kUs});                              // past the end: nothing
    call(kPlayer, QStringLiteral("Seek"), {qlonglong(-1000) * 8 * kUs});  // before the start: 0
    QTRY_COMPARE(playback.dwPlayPos, 0u);
    call(kPlayer, QStringLiteral("PlayPause"));
    QTRY_COMPARE(playback.nMode, kModePlaying);
    QCOMPARE(device_.plays.back().from, 0u);
}

// Rate is the speed, heard and remembered as the Music menu's; a rate out
// of the range, or one before a song is loaded, is let go.
void MprisTest::rateIsTheSpeed() {
    const auto setRate = [this](double rate) {
        call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
             {kPlayer, QStringLiteral("Rate"), QVariant::fromValue(QDBusVariant(rate))});
        QTest::qWait(20);
    };
    setRate(0.5);
    QCOMPARE(device_.playback.speed, 100);
    open();
    setRate(0.6);
    QTRY_COMPARE(device_.playback.speed, 60);
    QCOMPARE(get(kPlayer, QStringLiteral("Rate")).toDouble(), 0.6);
    QTRY_VERIFY(!changes_.empty() && changes_.back().value(QStringLiteral("Rate")) == 0.6);
    setRate(1.37);
    QTRY_COMPARE(device_.playback.speed, 137);
    setRate(2.5);
    setRate(0.2);
    QCOMPARE(device_.playback.speed, 137);
    w_->command(IDM_SLOWER);
    QCOMPARE(get(kPlayer, QStringLiteral("Rate")).toDouble(), 1.32);
    // 0 is a pause, as the interface has it.
    setRate(0);
    QTRY_COMPARE(playback.nMode, kModePaused);
    QCOMPARE(device_.playback.speed, 132);
}

QTEST_MAIN(MprisTest)
#include "mpris_test.moc"
