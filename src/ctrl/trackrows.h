// The state of the track list's rows and what a click on them does.
//
// Each listed track has one row: On box, Solo button, name box, instrument
// list, volume and balance sliders. The rows keep every track's mute state in
// step with the image: a listed track is muted in the image exactly when its
// On box is unchecked or disabled (disabled meaning another row holds the
// solo). The track view's widgets mirror this record and call its handlers;
// the command-line tool drives it directly.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mmio/midiinfo.h"
#include "mmio/trackedit.h"

namespace lirno {

inline constexpr std::size_t kMaxTypedName = 255;

// The controls of a row, left to right.
enum class Control { On, Solo, Name, Instrument, Volume, Balance };

struct TrackRow {
    bool onChecked = true;
    bool soloChecked = false;
    // The five controls a solo elsewhere disables (the Solo button never is).
    bool onEnabled = true;
    bool nameEnabled = true;
    bool instrEnabled = true;
    bool volEnabled = true;
    bool balEnabled = true;
    std::string name;             // the name box's text
    bool instrSpecial = false;    // the list holds one special entry, never enabled
    std::string_view instrEntry;  // that entry
    int instrSel = 0;             // the list's selection (the program for the 128 names)
    int vol = 127;                // slider positions
    int bal = 64;

    bool muted() const { return !onChecked || !onEnabled; }
};

class TrackRows : public RowSource {
  public:
    using ChangeHook = std::function<void()>;

    // onChange runs after every edit of the image (the player passes
    // mcimidiChange, which restarts a playing song with the change).
    TrackRows(FileImage& image, MidiInfo& info, ChangeHook onChange);

    // One fresh row per listed track: all On, no solo, names from the file.
    void fill();
    // A fresh row for a listed track added after the rows (a recorded one);
    // while another row holds the solo it is out of the sound like the rest.
    void addRow();
    // The last row's track now holds notes: muted like its row says.
    void lastTrackFilled();
    // The last row goes with its track; a solo it held ends first.
    void dropRow();
    int count() const { return static_cast<int>(rows_.size()); }
    const TrackRow& row(int r) const { return rows_.at(static_cast<std::size_t>(r)); }
    // The row that holds the solo, or -1.
    int soloRow() const;
    // Whether row r's control takes the user's input: a solo elsewhere
    // disables all but the Solo button, and an instrument list that shows a
    // special entry (drums, mixed) is never enabled.
    bool editable(int r, Control control) const;

    // A click on an enabled On box (it flips its own mark).
    void clickOn(int r);
    // A click on a Solo button: starts, moves or ends the solo.
    void clickSolo(int r);
    // A choice in the instrument list; positions outside 0..127 change nothing.
    void selectInstrument(int r, int sel);
    // The end of a slider gesture at pos; positions outside 0..127 are ignored.
    void endVolume(int r, int pos);
    void endBalance(int r, int pos);
    // Typing into the name box; cut at kMaxTypedName bytes. Changes nothing
    // in the image: names are read when the file is saved.
    void typeName(int r, std::string_view text);

    // A listed track without a row (the rows not built yet) is audible and
    // keeps its stored name.
    bool isOnEnabled(int n) const override { return n >= count() || row(n).onEnabled; }
    bool isOnChecked(int n) const override { return n >= count() || row(n).onChecked; }
    std::string nameText(int n) const override {
        return n < count() ? row(n).name : gettrackname(info_, n);
    }

  private:
    struct ValueControl;
    TrackRow freshRow(int n) const;
    void setValue(int r, const ValueControl& control, int value);
    int fileTrack(int r) const;
    void toggle(int r);  // flips the track's notes: muted <-> audible
    void enableRow(TrackRow& row, bool enabled);
    void changed();

    FileImage& image_;
    MidiInfo& info_;
    ChangeHook onChange_;
    std::vector<TrackRow> rows_;
};

}  // namespace lirno
