// The player on the session bus as an MPRIS 2 media player, so that media
// keys, the desktop's media controls and playerctl reach it. Every request
// runs through the window's own commands, after the call has been answered,
// so a message box the command brings never keeps the caller waiting.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <string>
#include <tuple>

namespace lirno {

class MainWndProc;
class MprisPlayer;

inline constexpr char kMprisService[] = "org.mpris.MediaPlayer2.lirno";
inline constexpr char kMprisPath[] = "/org/mpris/MediaPlayer2";
inline constexpr char kDesktopId[] = "io.github.lirno.Player";

// The object at /org/mpris/MediaPlayer2; its two interfaces are the
// adaptors below.
class MprisService : public QObject {
    Q_OBJECT
  public:
    explicit MprisService(MainWndProc& window);
    ~MprisService() override;

    // Takes the bus name (from an older copy too) and shows the object.
    // False, silently, when the bus is not there or refuses.
    bool registerOn(QDBusConnection bus);
    void unregister();
    // Tells the bus what changed since the last look. The window's timer
    // calls it; so does every request, once it has run.
    void refresh();

    MainWndProc& window() const { return window_; }
    // Runs fn after the current event, then tells what changed.
    void later(std::function<void(MainWndProc&)> fn);
    // The current song's id: a new one for each song loaded.
    QDBusObjectPath trackId() const;
    // What the player interface shows and announces when it changes.
    QVariantMap playerState() const;

  private:
    MainWndProc& window_;
    const MprisPlayer* player_ = nullptr;
    QDBusConnection bus_;
    bool registered_ = false;
    QVariantMap announced_;
    // What tells one song from the next, and the count of songs so far.
    mutable std::tuple<bool, std::string, std::uint32_t> songKey_;
    mutable unsigned songNumber_ = 0;
};

// Puts the window on the session bus for the rest of its life; without a
// session bus the player runs as before, silently.
void publishOnSessionBus(MainWndProc& window);

// org.mpris.MediaPlayer2
class MprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)
  public:
    explicit MprisRoot(MprisService* service);

    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const;
    QString desktopEntry() const { return QString::fromLatin1(kDesktopId); }
    QStringList uriSchemes() const { return {QStringLiteral("file")}; }
    QStringList mimeTypes() const {
        return {QStringLiteral("audio/midi"), QStringLiteral("audio/x-midi")};
    }

  public slots:
    void Raise();
    void Quit();

  private:
    MprisService* service_;
};

// org.mpris.MediaPlayer2.Player
class MprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ minimumRate)
    Q_PROPERTY(double MaximumRate READ maximumRate)
    Q_PROPERTY(bool CanGoNext READ no)
    Q_PROPERTY(bool CanGoPrevious READ no)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ yes)
  public:
    explicit MprisPlayer(MprisService* service);

    QString playbackStatus() const;
    QVariantMap metadata() const;
    qlonglong position() const;
    bool canPlay() const;
    bool canPause() const;
    bool canSeek() const;
    // The speed: 1 is 100 %. A rate outside the range is let go, 0 pauses
    // (as the interface asks), and none is taken without a song.
    double rate() const;
    void setRate(double rate);
    double minimumRate() const;
    double maximumRate() const;
    // The program has no volume of its own: it stays at 1 and what is set
    // is let go.
    double volume() const { return 1.0; }
    void setVolume(double) {}
    bool yes() const { return true; }
    bool no() const { return false; }

  public slots:
    void Next() {}
    void Previous() {}
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Seek(qlonglong offset);
    void SetPosition(const QDBusObjectPath& trackId, qlonglong position);
    void OpenUri(const QString& uri);

  signals:
    void Seeked(qlonglong position);

  private:
    void seekTo(qlonglong us);

    MprisService* service_;
};

}  // namespace lirno
