#include "ctrl/trackrows.h"

#include <algorithm>
#include <utility>

#include "ctrl/instruments.h"

namespace lirno {

TrackRows::TrackRows(FileImage& image, MidiInfo& info, ChangeHook onChange)
    : image_(image), info_(info), onChange_(std::move(onChange)) {}

TrackRow TrackRows::freshRow(int n) const {
    TrackRow row;
    row.name = gettrackname(info_, n);
    const InstrumentList list = instrumentList(getinstr(info_, n));
    row.instrSpecial = list.special;
    row.instrEntry = list.entry;
    row.instrSel = list.selection;
    row.instrEnabled = !list.special;
    row.vol = getvol(info_, n);
    row.bal = getbal(info_, n);
    return row;
}

void TrackRows::fill() {
    rows_.clear();
    const int n = std::min(getnumtracks(info_), kMaxTracks);
    for (int r = 0; r < n; ++r) rows_.push_back(freshRow(r));
}

void TrackRows::addRow() {
    if (count() >= std::min(getnumtracks(info_), kMaxTracks)) return;
    const bool soloElsewhere = soloRow() >= 0;
    rows_.push_back(freshRow(count()));
    if (soloElsewhere) enableRow(rows_.back(), false);
}

void TrackRows::lastTrackFilled() {
    if (count() > 0 && row(count() - 1).muted()) toggle(count() - 1);
}

void TrackRows::dropRow() {
    if (rows_.empty()) return;
    if (rows_.back().soloChecked) clickSolo(count() - 1);
    rows_.pop_back();
}

int TrackRows::soloRow() const {
    for (int r = 0; r < count(); ++r)
        if (row(r).soloChecked) return r;
    return -1;
}

bool TrackRows::editable(int r, Control control) const {
    const TrackRow& row = this->row(r);
    switch (control) {
        case Control::On:
            return row.onEnabled;
        case Control::Solo:
            return true;
        case Control::Name:
            return row.nameEnabled;
        case Control::Instrument:
            return row.instrEnabled;
        case Control::Volume:
            return row.volEnabled;
        case Control::Balance:
            return row.balEnabled;
    }
    return false;
}

int TrackRows::fileTrack(int r) const {
    return info_.trackIndex[static_cast<std::size_t>(r)];
}

void TrackRows::toggle(int r) {
    settrack(image_, fileTrack(r), kEditNotes, 0);
}

void TrackRows::enableRow(TrackRow& row, bool enabled) {
    row.onEnabled = row.nameEnabled = row.volEnabled = row.balEnabled = enabled;
    row.instrEnabled = enabled && !row.instrSpecial;
}

void TrackRows::changed() {
    if (onChange_) onChange_();
}

void TrackRows::clickOn(int r) {
    TrackRow& row = rows_.at(static_cast<std::size_t>(r));
    row.onChecked = !row.onChecked;
    toggle(r);
    changed();
}

void TrackRows::clickSolo(int r) {
    const int s = soloRow();
    TrackRow& clicked = rows_.at(static_cast<std::size_t>(r));
    const bool wasChecked = clicked.soloChecked;
    clicked.soloChecked = !wasChecked;

    if (wasChecked || s < 0) {
        // The solo ends (every other row comes back) or begins on r (every other row goes).
        const bool enable = wasChecked;
        for (int j = 0; j < count(); ++j) {
            if (j == r) continue;
            enableRow(rows_[static_cast<std::size_t>(j)], enable);
            if (row(j).onChecked) toggle(j);
        }
    } else {
        // The solo moves from s to r.
        TrackRow& old = rows_[static_cast<std::size_t>(s)];
        old.soloChecked = false;
        enableRow(clicked, true);
        if (clicked.onChecked) toggle(r);
        enableRow(old, false);
        if (old.onChecked) toggle(s);
    }
    changed();
}

// The instrument list and the two sliders: what the row shows, what the
// track's record says, and the bytes of the image, all set to one value.
struct TrackRows::ValueControl {
    int TrackRow::*shown;
    std::uint8_t TrackInfo::*known;
    std::uint8_t edit;
};

void TrackRows::setValue(int r, const ValueControl& control, int value) {
    if (value < 0 || value > 127) return;
    const auto v = static_cast<std::uint8_t>(value);
    rows_.at(static_cast<std::size_t>(r)).*control.shown = value;
    info_.track[static_cast<std::size_t>(fileTrack(r))].*control.known = v;
    settrack(image_, fileTrack(r), control.edit, v);
    changed();
}

void TrackRows::selectInstrument(int r, int sel) {
    setValue(r, {&TrackRow::instrSel, &TrackInfo::program, kEditProgram}, sel);
}

void TrackRows::endVolume(int r, int pos) {
    setValue(r, {&TrackRow::vol, &TrackInfo::volume, kEditVolume}, pos);
}

void TrackRows::endBalance(int r, int pos) {
    setValue(r, {&TrackRow::bal, &TrackInfo::balance, kEditBalance}, pos);
}

void TrackRows::typeName(int r, std::string_view text) {
    rows_.at(static_cast<std::size_t>(r)).name = std::string(text.substr(0, kMaxTypedName));
}

}  // namespace lirno
