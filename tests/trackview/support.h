// What the track view's tests share: a stand-in for the main window, songs
// built byte by byte, loading them as the player does, real input events,
// and reading the mutes and controller values back from the image.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "ctrl/trackview.h"
#include "mmio/bytes.h"
#include "mmio/trackedit.h"
#include "support/recorder.h"
#include "support/songs.h"
#include "support/widgets.h"

namespace lirno::test {

// The height of the main window's menu bar and toolbar above the header.
inline constexpr int kToolbarHeight = 48;

// The main window as the view sees it: it stacks the header and the view
// under its toolbar on every resize.
class MainStandIn : public QWidget {
  public:
    MainStandIn() : view(CreateTrackView(this)) { ShowTrack(this); }
    TrackViewWndProc* const view;

  protected:
    void resizeEvent(QResizeEvent*) override { ResizeTrackView(view, this, kToolbarHeight); }
};

// A fresh process state, a message recorder and a shown main window.
struct Fixture {
    Fixture() { main->show(); }
    Recorder recorder;
    std::unique_ptr<MainStandIn> main = std::make_unique<MainStandIn>();
    TrackViewWndProc* view() const { return main->view; }
    const RowControls& controls() const { return main->view->controls(); }
};

// A track on one channel with two program changes (program, then program + 1).
inline Track melodic(int channel, int program, const std::string& name) {
    Track t;
    t.name(name);
    t.ev(0, {u8(0xC0 | channel), u8(program)});
    t.ev(0, {u8(0x90 | channel), 60, 100}).ev(10, {u8(0x80 | channel), 60, 40});
    t.ev(0, {u8(0xC0 | channel), u8(program + 1)});
    t.ev(0, {u8(0x90 | channel), 64, 90}).ev(10, {u8(0x80 | channel), 64, 40});
    return std::move(t.end());
}

inline Track drums() {
    Track t;
    t.name("Drums").ev(0, {0xC9, 0}).ev(0, {0x99, 36, 100}).ev(10, {0x89, 36, 0});
    return std::move(t.end());
}

inline Track mixedChannels() {
    Track t;
    t.name("Mixed").ev(0, {0xC3, 5}).ev(0, {0x93, 60, 100}).ev(10, {0x84, 60, 0});
    return std::move(t.end());
}

// A tempo track (never listed) and five rows: melodic, drums, melodic with
// its own volume and pan, mixed channels, melodic.
inline Bytes fiveRowSong() {
    Track tempo;
    tempo.tempo(0, 500000).end();
    Track levels = melodic(1, 20, "Strings");
    levels.data.insert(levels.data.begin(), {0x00, 0xB1, 0x07, 90, 0x00, 0xB1, 0x0A, 30});
    return smf::file(
        1, 96,
        {tempo, melodic(0, 10, "Lead"), drums(), levels, mixedChannels(), melodic(2, 0, "Piano")});
}

// n rows, each a melodic track of its own (none: a lone tempo track).
inline Bytes songWithRows(int n) {
    std::vector<Track> tracks;
    if (n == 0) tracks.push_back(std::move(Track().tempo(0, 500000).end()));
    for (int k = 0; k < n; ++k)
        tracks.push_back(melodic(k % 9, k % 100, "Track " + std::to_string(k)));
    return smf::file(1, 96, tracks);
}

// Loads bytes as an open does, then rebuilds the rows.
inline void load(TrackViewWndProc* view, const Bytes& bytes) {
    loaded.image = FileImage::fromBytes(bytes);
    loaded.MidiInfo = MidiInfo{};
    QCOMPARE(readmidiinfo(loaded.image, loaded.MidiInfo), 1);
    playback.fMidiChange = false;
    QCOMPARE(InsertTrackViewItems(view), 1);
}

// Where listed track r's chunk lies in an image (header included).
inline std::pair<std::size_t, std::size_t> chunkOf(const Bytes& image, int fileTrack) {
    std::size_t pos = 14;
    for (int k = 0; k < fileTrack; ++k) pos += 8 + getdword(image.data() + pos + 4);
    return {pos, pos + 8 + getdword(image.data() + pos + 4)};
}

// Tells, for each listed track, whether the image has its notes flipped,
// by comparing its chunk with the loaded (audible) and a flipped copy.
class MuteReader {
  public:
    MuteReader() : audible_(bytesOf(loaded.image)) {}

    // 1 muted, 0 audible, -1 neither (the image is damaged).
    int muted(int r) const {
        const Bytes now = bytesOf(loaded.image);
        const bool audible = sameChunk(r, now, audible_);
        const bool muted = sameChunk(r, now, flipped(r));
        if (audible == muted) return -1;
        return muted ? 1 : 0;
    }

    // Whether muting changes the track at all (a track may list for its
    // program changes alone).
    bool hasNotes(int r) const { return !sameChunk(r, audible_, flipped(r)); }

  private:
    Bytes flipped(int r) const {
        FileImage image = FileImage::fromBytes(audible_);
        settrack(image, loaded.MidiInfo.trackIndex[static_cast<std::size_t>(r)], kEditNotes, 0);
        return bytesOf(image);
    }

    bool sameChunk(int r, const Bytes& a, const Bytes& b) const {
        const auto [start, end] =
            chunkOf(audible_, loaded.MidiInfo.trackIndex[static_cast<std::size_t>(r)]);
        return std::equal(a.begin() + long(start), a.begin() + long(end), b.begin() + long(start));
    }

    Bytes audible_;
};

// The values of every event with this status (low nibble ignored) and first
// data byte in file track f; for program changes pass first = -1.
inline std::vector<int> eventValues(int fileTrack, int status, int first) {
    const Bytes image = bytesOf(loaded.image);
    const auto [start, end] = chunkOf(image, fileTrack);
    std::vector<int> values;
    for (std::size_t i = start + 8; i + 2 < end; ++i) {
        if ((image[i] & 0xF0) != status) continue;
        if (first < 0)
            values.push_back(image[i + 1]);
        else if (image[i + 1] == first)
            values.push_back(image[i + 2]);
    }
    return values;
}

// The centre of a slider's handle, where a drag starts.
inline QPoint handleCentre(QSlider* slider) {
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.orientation = slider->orientation();
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    opt.sliderValue = slider->value();
    opt.tickPosition = slider->tickPosition();
    opt.tickInterval = slider->tickInterval();
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    return slider->style()
        ->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider)
        .center();
}

// Every row control's top, row by row, column by column.
inline std::vector<int> controlTops(const TrackViewWndProc* view) {
    std::vector<int> tops;
    for (int r = 0; r < view->items(); ++r)
        for (int c = 0; c < 6; ++c) tops.push_back(view->controls().byId(100 * c + r)->y());
    return tops;
}

}  // namespace lirno::test
