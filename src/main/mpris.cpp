#include "main/mpris.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "main/filedrop.h"
#include "main/mainwnd.h"
#include "main/mediacontrol.h"
#include "main/shell.h"
#include "mmio/playback.h"
#include "res/resource.h"

namespace lirno {

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
// The bus counts microseconds; the device counts eighths of a second.
constexpr qlonglong kMicrosecondsPerUnit = 125000;

// The player's properties that are announced when they change (the
// position is not: it changes all the time, and is asked for).
const char* const kAnnounced[] = {"PlaybackStatus", "Metadata", "CanPlay",
                                  "CanPause",       "CanSeek",  "Rate"};

qlonglong lengthUs() {
    return qlonglong(playback.dwFileSize) * kMicrosecondsPerUnit;
}

}  // namespace

MprisService::MprisService(MainWndProc& window)
    : QObject(&window), window_(window), bus_(QString()) {
    new MprisRoot(this);  // the adaptors belong to the object they serve
    player_ = new MprisPlayer(this);
    connect(&window.tickTimer(), &QTimer::timeout, this, &MprisService::refresh);
}

MprisService::~MprisService() {
    unregister();
}

bool MprisService::registerOn(QDBusConnection bus) {
    if (registered_ || !bus.isConnected()) return false;
    if (!bus.registerObject(QString::fromLatin1(kMprisPath), this, QDBusConnection::ExportAdaptors))
        return false;
    // The newest copy takes the name, as it takes the player's place.
    bool named = false;
    if (QDBusConnectionInterface* daemon = bus.interface()) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
            daemon->registerService(QString::fromLatin1(kMprisService),
                                    QDBusConnectionInterface::ReplaceExistingService,
                                    QDBusConnectionInterface::AllowReplacement);
        named = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
    }
    if (!named) {
        bus.unregisterObject(QString::fromLatin1(kMprisPath));
        return false;
    }
    bus_ = bus;
    registered_ = true;
    announced_ = playerState();
    return true;
}

void MprisService::unregister() {
    if (!registered_) return;
    registered_ = false;
    bus_.unregisterObject(QString::fromLatin1(kMprisPath));
    bus_.unregisterService(QString::fromLatin1(kMprisService));
}

void MprisService::later(std::function<void(MainWndProc&)> fn) {
    QMetaObject::invokeMethod(
        this,
        [this, fn = std::move(fn)] {
            fn(window_);
            refresh();
        },
        Qt::QueuedConnection);
}

QDBusObjectPath MprisService::trackId() const {
    if (!playback.fFileLoaded)
        return QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    const auto key = std::make_tuple(true, shell.szFileName, playback.dwFileSize);
    if (key != songKey_) {
        songKey_ = key;
        ++songNumber_;
    }
    return QDBusObjectPath(QStringLiteral("/io/github/lirno/Player/Song/%1").arg(songNumber_));
}

QVariantMap MprisService::playerState() const {
    QVariantMap state;
    for (const char* name : kAnnounced)
        state.insert(QString::fromLatin1(name), player_->property(name));
    return state;
}

void MprisService::refresh() {
    if (!registered_) return;
    const QVariantMap now = playerState();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (announced_.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    announced_ = now;
    if (changed.isEmpty()) return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kMprisPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    bus_.send(signal);
}

namespace {

// A session bus is there when its address is given or the user's runtime
// folder holds its socket. Asking for the bus without either would have the
// bus library start a bus of its own, which outlives the player.
bool hasSessionBus() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

}  // namespace

void publishOnSessionBus(MainWndProc& window) {
    if (!hasSessionBus()) return;
    auto* service = new MprisService(window);  // owned by the window
    QObject::connect(&window, &MainWndProc::windowDestroyed, service, &MprisService::unregister);
    service->registerOn(QDBusConnection::sessionBus());
}

MprisRoot::MprisRoot(MprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}

QString MprisRoot::identity() const {
    return QString::fromStdString(shell.szTitle);
}

void MprisRoot::Raise() {
    service_->later([](MainWndProc& w) {
        w.showNormal();
        w.raise();
        w.activateWindow();
    });
}

void MprisRoot::Quit() {
    service_->later([](MainWndProc& w) { w.command(res::IDM_EXIT); });
}

MprisPlayer::MprisPlayer(MprisService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

QString MprisPlayer::playbackStatus() const {
    switch (shownMode(service_->window())) {
        case kModePlaying:
            return QStringLiteral("Playing");
        case kModePaused:
            return QStringLiteral("Paused");
        default:
            return QStringLiteral("Stopped");
    }
}

QVariantMap MprisPlayer::metadata() const {
    QVariantMap m;
    m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(service_->trackId()));
    if (!playback.fFileLoaded) return m;
    const QFileInfo file(QFile::decodeName(shell.szFileName.c_str()));
    m.insert(QStringLiteral("xesam:title"), file.fileName());
    m.insert(QStringLiteral("xesam:url"),
             QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded));
    m.insert(QStringLiteral("mpris:length"), lengthUs());
    return m;
}

qlonglong MprisPlayer::position() const {
    return qlonglong(songPosition(service_->window())) * kMicrosecondsPerUnit;
}

double MprisPlayer::rate() const {
    return playback.playSettings.speed / 100.0;
}

double MprisPlayer::minimumRate() const {
    return device::kMinSpeed / 100.0;
}

double MprisPlayer::maximumRate() const {
    return device::kMaxSpeed / 100.0;
}

void MprisPlayer::setRate(double rate) {
    if (rate == 0) {
        Pause();
        return;
    }
    // Any whole percent in the range; a value a hair outside it (from a
    // rounding client) counts as the nearest end.
    const long percent = std::lround(rate * 100);
    if (!std::isfinite(rate) || percent < device::kMinSpeed || percent > device::kMaxSpeed) return;
    service_->later([percent](MainWndProc& w) {
        device::PlaybackSettings s = playback.playSettings;
        s.speed = int(percent);
        w.changePlayback(s);
    });
}

bool MprisPlayer::canPlay() const {
    return playback.fFileLoaded;
}
bool MprisPlayer::canPause() const {
    return playback.fFileLoaded;
}
bool MprisPlayer::canSeek() const {
    return playback.fFileLoaded && playback.dwFileSize != 0;
}

void MprisPlayer::Play() {
    service_->later(mediaPlay);
}
void MprisPlayer::Pause() {
    service_->later(mediaPause);
}
void MprisPlayer::PlayPause() {
    service_->later(mediaPlayPause);
}
void MprisPlayer::Stop() {
    service_->later([](MainWndProc& w) { w.command(res::IDM_STOP); });
}

void MprisPlayer::Seek(qlonglong offset) {
    // Before the start means the start; past the end means the next song,
    // and there is none.
    const qlonglong to = std::max<qlonglong>(0, position() + offset);
    if (to <= lengthUs()) seekTo(to);
}

void MprisPlayer::SetPosition(const QDBusObjectPath& trackId, qlonglong position) {
    // A position for a song no longer loaded, or outside this one, is let go.
    if (trackId != service_->trackId() || position < 0 || position > lengthUs()) return;
    seekTo(position);
}

void MprisPlayer::seekTo(qlonglong us) {
    const auto pos = static_cast<std::uint32_t>(us / kMicrosecondsPerUnit);
    service_->later([this, pos](MainWndProc& w) {
        if (mediaSeek(w, pos)) emit Seeked(qlonglong(pos) * kMicrosecondsPerUnit);
    });
}

void MprisPlayer::OpenUri(const QString& uri) {
    const QUrl url(uri);
    if (!url.isLocalFile() || !isMidiFile(url.toLocalFile())) return;
    service_->later([path = url.toLocalFile()](MainWndProc& w) { openAndPlay(w, path); });
}

}  // namespace lirno
