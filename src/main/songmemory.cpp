#include "main/songmemory.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "res/resource.h"

namespace lirno {

namespace {

const QString kRecentKey = QStringLiteral("recentSongs");

QString groupOf(const QString& key) {
    return QStringLiteral("song-") + key;
}

}  // namespace

QSettings settingsFile() {
    return QSettings(QStringLiteral("lirno"), QStringLiteral("Lirno Player"));
}

QString songKeyOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) return {};
    return QString::fromLatin1(hash.result().toHex());
}

device::PlaybackSettings recallSong(const QString& key) {
    device::PlaybackSettings s;
    if (key.isEmpty()) return s;
    QSettings file = settingsFile();
    file.beginGroup(groupOf(key));
    s.speed = file.value(QStringLiteral("speed"), s.speed).toInt();
    s.transpose = file.value(QStringLiteral("key"), s.transpose).toInt();
    if (file.contains(QStringLiteral("from")) && file.contains(QStringLiteral("to")))
        s.passage = device::Passage{file.value(QStringLiteral("from")).toUInt(),
                                    file.value(QStringLiteral("to")).toUInt()};
    // A record edited by hand into nonsense is no reason to refuse the song.
    return device::validPlayback(s) ? s : device::PlaybackSettings{};
}

void rememberSong(const QString& key, const device::PlaybackSettings& s) {
    if (key.isEmpty()) return;
    QSettings file = settingsFile();
    file.remove(groupOf(key));
    if (s == device::PlaybackSettings{}) return;
    file.beginGroup(groupOf(key));
    if (s.speed != 100) file.setValue(QStringLiteral("speed"), s.speed);
    if (s.transpose != 0) file.setValue(QStringLiteral("key"), s.transpose);
    if (s.passage) {
        file.setValue(QStringLiteral("from"), s.passage->fromTick);
        file.setValue(QStringLiteral("to"), s.passage->toTick);
    }
}

RecentSongs::RecentSongs() {
    files_ = settingsFile().value(kRecentKey).toStringList().mid(0, res::kMaxRecentSongs);
}

void RecentSongs::add(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    files_.removeAll(full);
    files_.prepend(full);
    files_ = files_.mid(0, res::kMaxRecentSongs);
    write();
}

void RecentSongs::remove(const QString& path) {
    if (files_.removeAll(path) > 0) write();
}

void RecentSongs::clear() {
    files_.clear();
    write();
}

void RecentSongs::write() const {
    QSettings file = settingsFile();
    if (files_.isEmpty())
        file.remove(kRecentKey);
    else
        file.setValue(kRecentKey, files_);
}

}  // namespace lirno
