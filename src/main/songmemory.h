// What the player remembers between runs (QSettings, "lirno" / "Lirno
// Player"): each song's speed, key and passage, and the songs played last.
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

#include "device/device.h"

namespace lirno {

// The program's settings, written out when the object goes.
QSettings settingsFile();

// What names a song: a hash of its file's bytes, so a moved or renamed copy
// is the same song and an edited one is not. Empty when it cannot be read.
QString songKeyOf(const QString& path);

// The settings remembered for a song, or the normal ones.
device::PlaybackSettings recallSong(const QString& key);
// Keeps them for the next time the song is opened; the normal settings
// leave no record behind.
void rememberSong(const QString& key, const device::PlaybackSettings& settings);

// The last songs played, newest first, at most res::kMaxRecentSongs; read
// once, written whenever it changes.
class RecentSongs {
  public:
    RecentSongs();
    const QStringList& files() const { return files_; }
    void add(const QString& path);
    void remove(const QString& path);
    void clear();

  private:
    void write() const;

    QStringList files_;
};

}  // namespace lirno
