#include "ctrl/trackrows.h"

#include <utility>

#include "ctrl/instruments.h"
#include "mmio/sequencer.h"

namespace lirno {

TrackRows::TrackRows(FileImage& image, MidiInfo& info, ChangeHook onChange)
    : image_(image), info_(info), onChange_(std::move(onChange))
{
    if (!onChange_) onChange_ = [] { mcimidiChange(); };
}

void TrackRows::fill()
{
    rows_.assign(static_cast<std::size_t>(std::min(getnumtracks(info_), kMaxTracks)), TrackRow{});
    for (int r = 0; r < count(); ++r) {
        TrackRow& row = rows_[static_cast<std::size_t>(r)];
        row.name = gettrackname(info_, r);
        const InstrumentList list = instrumentList(getinstr(info_, r));
        row.instrSpecial = list.special;
        row.instrEntry = list.entry;
        row.instrSel = list.selection;
        row.instrEnabled = !list.special;
        row.vol = getvol(info_, r);
        row.bal = getbal(info_, r);
    }
}

int TrackRows::soloRow() const
{
    for (int r = 0; r < count(); ++r)
        if (row(r).soloChecked) return r;
    return -1;
}

int TrackRows::fileTrack(int r) const { return info_.trackIndex[static_cast<std::size_t>(r)]; }

void TrackRows::toggle(int r) { settrack(image_, fileTrack(r), kEditNotes, 0); }

void TrackRows::enableRow(TrackRow& row, bool enabled)
{
    row.onEnabled = row.nameEnabled = row.volEnabled = row.balEnabled = enabled;
    row.instrEnabled = enabled && !row.instrSpecial;
}

void TrackRows::changed()
{
    if (onChange_) onChange_();
}

void TrackRows::clickOn(int r)
{
    TrackRow& row = rows_.at(static_cast<std::size_t>(r));
    row.onChecked = !row.onChecked;
    toggle(r);
    changed();
}

void TrackRows::clickSolo(int r)
{
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

void TrackRows::selectInstrument(int r, int sel)
{
    if (sel < 0 || sel > 127) return;
    rows_.at(static_cast<std::size_t>(r)).instrSel = sel;
    info_.track[static_cast<std::size_t>(fileTrack(r))].program = static_cast<std::uint8_t>(sel);
    settrack(image_, fileTrack(r), kEditProgram, static_cast<std::uint8_t>(sel));
    changed();
}

void TrackRows::endVolume(int r, int pos)
{
    if (pos < 0 || pos > 127) return;
    rows_.at(static_cast<std::size_t>(r)).vol = pos;
    info_.track[static_cast<std::size_t>(fileTrack(r))].volume = static_cast<std::uint8_t>(pos);
    settrack(image_, fileTrack(r), kEditVolume, static_cast<std::uint8_t>(pos));
    changed();
}

void TrackRows::endBalance(int r, int pos)
{
    if (pos < 0 || pos > 127) return;
    rows_.at(static_cast<std::size_t>(r)).bal = pos;
    info_.track[static_cast<std::size_t>(fileTrack(r))].balance = static_cast<std::uint8_t>(pos);
    settrack(image_, fileTrack(r), kEditBalance, static_cast<std::uint8_t>(pos));
    changed();
}

void TrackRows::typeName(int r, std::string_view text)
{
    rows_.at(static_cast<std::size_t>(r)).name = std::string(text.substr(0, kMaxTypedName));
}

}  // namespace lirno
