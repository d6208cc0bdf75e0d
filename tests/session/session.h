// What the session tests share: the real window on the real (silent) device,
// a log of what the window asked of the device, the file dialogs through
// their seam, short songs built byte by byte, and reading them back.
#pragma once

#include <QCheckBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ctrl/trackview.h"
#include "device/errors.h"
#include "device/engine/fluid_device.h"
#include "device/song/song_file.h"
#include "main/mainwnd.h"
#include "main/resload.h"
#include "main/shell.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "mmio/loadsave.h"
#include "mmio/playfile.h"
#include "mmio/sequencer.h"
#include "res/resource.h"
#include "support/recorder.h"

namespace lirno::test {

using smf::Bytes;
using smf::Track;

// Long enough for a slow machine; a working program is far quicker.
inline constexpr int kWaitMs = 10000;

// Passes every call on to the real device and writes it down, one line each:
// "open ID LENGTH", "play ID FROM", "stop ID", "pause ID", "close ID".
class LoggingDevice : public device::Device {
  public:
    explicit LoggingDevice(device::Device& real) : real_(real) {}

    int open(const std::string& path, device::DeviceId& id, std::uint32_t& length) override
    {
        if (refuseOpens) return note(device::kErrFileRead, "open " + path);
        const int r = real_.open(path, id, length);
        note(r, "open " + std::to_string(id) + ' ' + std::to_string(length));
        return r;
    }
    int play(device::DeviceId id, std::uint32_t from, device::Notifier n) override
    {
        const int r = real_.play(id, from, std::move(n));
        note(r, "play " + std::to_string(id) + ' ' + std::to_string(from));
        return r;
    }
    int stop(device::DeviceId id) override
    {
        return note(real_.stop(id), "stop " + std::to_string(id));
    }
    int pause(device::DeviceId id) override
    {
        return note(real_.pause(id), "pause " + std::to_string(id));
    }
    int close(device::DeviceId id) override
    {
        return note(real_.close(id), "close " + std::to_string(id));
    }
    int position(device::DeviceId id, std::uint32_t& pos) override
    {
        return real_.position(id, pos);
    }
    int failure(device::DeviceId id) const override { return real_.failure(id); }
    std::optional<std::string> errorText(int code) const override { return real_.errorText(code); }

    std::vector<std::string> calls;   // successful calls
    std::vector<std::string> failed;  // calls the device refused
    bool refuseOpens = false;         // as if no file could be read

    // The calls since the mark, and a new mark.
    std::vector<std::string> since()
    {
        std::vector<std::string> out(calls.begin() + long(mark_), calls.end());
        mark_ = calls.size();
        return out;
    }

  private:
    int note(int result, std::string call)
    {
        (result == 0 ? calls : failed).push_back(std::move(call));
        return result;
    }
    device::Device& real_;
    std::size_t mark_ = 0;
};

inline std::string call(const char* what, std::uint32_t id, std::optional<std::uint32_t> n = {})
{
    std::string s = std::string(what) + ' ' + std::to_string(id);
    if (n) s += ' ' + std::to_string(*n);
    return s;
}

// Answers the file dialogs from queues: nothing queued means Cancel.
struct DialogSeam {
    std::deque<std::string> openAnswers, saveAnswers;
    std::vector<std::string> savePreloads;  // what each save dialog started with
    int opens = 0;

    FileDialogs dialogs()
    {
        return {[this]() -> std::optional<std::string> {
                    ++opens;
                    return next(openAnswers);
                },
                [this](const std::string& current) -> std::optional<std::string> {
                    savePreloads.push_back(current);
                    return next(saveAnswers);
                }};
    }

  private:
    static std::optional<std::string> next(std::deque<std::string>& q)
    {
        if (q.empty()) return std::nullopt;
        std::string s = q.front();
        q.pop_front();
        return s;
    }
};

// The device playing on a silent real-time clock.
inline device::DeviceSettings silentSettings()
{
    device::DeviceSettings settings;
    settings.soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    settings.audioDriver = device::kAudioNone;
    return settings;
}

// Puts an environment variable back as it was.
class EnvGuard {
  public:
    explicit EnvGuard(const char* name)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), value_(qgetenv(name))
    {
    }
    ~EnvGuard()
    {
        if (had_)
            qputenv(name_, value_);
        else
            qunsetenv(name_);
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

  private:
    const char* name_;
    bool had_;
    QByteArray value_;
};

// A fresh process state, the main window shown on a silent real device,
// message boxes recorded, the file dialogs answered from the seam.
class Session {
  public:
    explicit Session(device::DeviceSettings settings = silentSettings()) : real(std::move(settings))
    {
        initResources();
        qputenv("TMPDIR", tmp.path().toLocal8Bit());
        playback.sTmpName = gettmpname();
        previousDialogs_ = setFileDialogs(seam.dialogs());
        window = std::make_unique<MainWndProc>(&device);
        shell.hWndMain = window.get();
        window->move(0, 0);
        window->show();
    }
    ~Session()
    {
        window.reset();
        setFileDialogs(std::move(previousDialogs_));
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // A file in the session's folder with these bytes; returns its path.
    std::string file(const std::string& name, const Bytes& bytes) const
    {
        const std::string path = (tmp.path() + '/').toStdString() + name;
        writeFile(path, bytes);
        return path;
    }
    // Open through the dialog, answered with path.
    void open(const std::string& path)
    {
        seam.openAnswers.push_back(path);
        window->command(res::IDM_OPEN);
    }
    void command(int id) { window->command(id); }
    void clickButton(int id) { QTest::mouseClick(toolbar()->button(id), Qt::LeftButton); }
    Toolbar* toolbar() const { return window->toolbar(); }
    TrackViewWndProc* view() const { return window->trackView(); }
    QString readout() const { return window->timeReadout()->text(); }
    bool checked(int id) const { return toolbar()->isButtonChecked(id); }
    bool enabled(int id) const { return toolbar()->button(id)->isEnabled(); }

    // Where the open device is, or nothing.
    std::optional<std::uint32_t> position() const
    {
        std::uint32_t p = 0;
        if (playback.wOutDeviceID == 0 || device.position(playback.wOutDeviceID, p) != 0) return {};
        return p;
    }
    bool reached(std::uint32_t units) const
    {
        const auto p = position();
        return p && *p >= units;
    }

    Recorder boxes;             // first: it resets the model's globals
    EnvGuard tmpdir{"TMPDIR"};  // the session's folder is the temporary folder
    QTemporaryDir tmp;
    device::FluidDevice real{silentSettings()};
    mutable LoggingDevice device{real};
    DialogSeam seam;
    std::unique_ptr<MainWndProc> window;

  private:
    FileDialogs previousDialogs_;
};

inline std::uint8_t u8(int v)
{
    return static_cast<std::uint8_t>(v);
}

// A song of `seconds` (120 beats a minute, 96 ticks a beat, so one device
// unit of an eighth of a second is 12 ticks): a tempo track, then one named
// track per channel given, each playing a note on every beat.
inline Bytes song(int seconds, const std::vector<int>& channels, const std::string& prefix = "Part")
{
    Track tempo;
    tempo.name("Tempo").tempo(0, 500000).end();
    std::vector<Track> tracks{tempo};
    for (std::size_t k = 0; k < channels.size(); ++k) {
        const int ch = channels[k];
        Track t;
        t.name(prefix + ' ' + std::to_string(k + 1)).ev(0, {u8(0xC0 | ch), u8(k * 8)});
        for (int beat = 0; beat < seconds * 2; ++beat)
            t.ev(0, {u8(0x90 | ch), u8(60 + k), 100}).ev(96, {u8(0x80 | ch), u8(60 + k), 64});
        tracks.push_back(std::move(t.end()));
    }
    return smf::file(1, 96, tracks);
}

// Sounding note-ons per track chunk (index 0 is the first chunk), as the
// device reads the file.
inline std::vector<int> soundingNotes(const std::string& path)
{
    std::shared_ptr<const device::Song> s;
    if (device::loadSongFile(path, s) != 0) return {};
    std::vector<int> perTrack(static_cast<std::size_t>(s->tracks), 0);
    for (const auto& e : s->events)
        if ((e.status & 0xF0) == 0x90 && e.data2 > 0 && e.track < perTrack.size())
            ++perTrack[e.track];
    return perTrack;
}

inline void click(QWidget* w)
{
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

}  // namespace lirno::test
