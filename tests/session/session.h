// What the session tests share: the real window on the real (silent) device,
// a log of what the window asked of the device, the file dialogs through
// their seam, short songs built byte by byte, and reading them back.
#pragma once

#include <QCheckBox>
#include <QRadioButton>
#include <QTest>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ctrl/trackview.h"
#include "device/engine/fluid_device.h"
#include "device/errors.h"
#include "device/song/song_file.h"
#include "main/mainwnd.h"
#include "main/timetrack.h"
#include "main/toolbar.h"
#include "mmio/loadsave.h"
#include "mmio/playfile.h"
#include "mmio/sequencer.h"
#include "res/resource.h"
#include "support/fake_device.h"
#include "support/shell_fixture.h"
#include "support/songs.h"
#include "support/widgets.h"

namespace lirno::test {

// Long enough for a slow machine; a working program is far quicker.
inline constexpr int kWaitMs = 10000;

// Answers the file dialogs from queues: nothing queued means Cancel.
struct DialogSeam {
    std::deque<std::string> openAnswers, saveAnswers;
    std::vector<std::string> savePreloads;  // what each save dialog started with
    int opens = 0;

    FileDialogs dialogs() {
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
    static std::optional<std::string> next(std::deque<std::string>& q) {
        if (q.empty()) return std::nullopt;
        std::string s = q.front();
        q.pop_front();
        return s;
    }
};

// The device playing on a silent real-time clock.
inline device::DeviceSettings silentSettings() {
    device::DeviceSettings settings;
    settings.soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    settings.audioDriver = device::kAudioNone;
    return settings;
}

// The shell's fixture with the main window shown on a silent real device and
// the file dialogs answered from the seam.
class Session : public ShellFixture {
  public:
    explicit Session(device::DeviceSettings settings = silentSettings())
        : real(std::move(settings)) {
        playback.sTmpName = gettmpname();
        previousDialogs_ = setFileDialogs(seam.dialogs());
        window = makeWindow(&device);
        window->move(0, 0);
        window->show();
    }
    ~Session() {
        window.reset();
        setFileDialogs(std::move(previousDialogs_));
    }

    // Open through the dialog, answered with path.
    void open(const std::string& path) {
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
    std::optional<std::uint32_t> position() const {
        std::uint32_t p = 0;
        if (playback.wOutDeviceID == 0 || device.position(playback.wOutDeviceID, p) != 0) return {};
        return p;
    }
    bool reached(std::uint32_t units) const {
        const auto p = position();
        return p && *p >= units;
    }

    device::FluidDevice real;
    mutable FakeDevice device{real};  // every call written down on its way to the real one
    DialogSeam seam;
    std::unique_ptr<MainWndProc> window;

  private:
    FileDialogs previousDialogs_;
};

// A song of `seconds` (120 beats a minute, 96 ticks a beat, so one device
// unit of an eighth of a second is 12 ticks): a tempo track, then one named
// track per channel given, each playing a note on every beat.
inline Bytes song(int seconds, const std::vector<int>& channels,
                  const std::string& prefix = "Part") {
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
inline std::vector<int> soundingNotes(const std::string& path) {
    std::shared_ptr<const device::Song> s;
    if (device::loadSongFile(path, s) != 0) return {};
    std::vector<int> perTrack(static_cast<std::size_t>(s->tracks), 0);
    for (const auto& e : s->events)
        if ((e.status & 0xF0) == 0x90 && e.data2 > 0 && e.track < perTrack.size())
            ++perTrack[e.track];
    return perTrack;
}

}  // namespace lirno::test
