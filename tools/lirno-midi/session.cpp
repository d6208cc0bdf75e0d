#include "session.h"

#include <charconv>

#include "mmio/playback.h"
#include "mmio/playfile.h"

namespace lirno::cli {

PlayFile::PlayFile() { playback.sTmpName = gettmpname(); }

PlayFile::~PlayFile()
{
    deltmp(playback.sTmpName);
    playback.sTmpName.clear();
}

namespace {

bool parseInt(const std::string& s, int& out)
{
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, out);
    return ec == std::errc() && p == end && !s.empty();
}

}  // namespace

bool parseEdit(Edit::Kind kind, const std::string& arg, Edit& edit, std::string& error)
{
    edit = Edit{};
    edit.kind = kind;
    const bool single = kind == Edit::Mute || kind == Edit::Unmute || kind == Edit::Solo;
    const auto eq = arg.find('=');
    const std::string row = single ? arg : arg.substr(0, eq);
    if ((!single && eq == std::string::npos) || !parseInt(row, edit.row)) {
        error = "malformed edit '" + arg + "': expected " + (single ? "N" : "N=VALUE");
        return false;
    }
    if (single) return true;
    const std::string rest = arg.substr(eq + 1);
    if (kind == Edit::Name) {
        edit.text = rest;
        return true;
    }
    if (!parseInt(rest, edit.value)) {
        error = "malformed value in '" + arg + "': expected a number 0..127";
        return false;
    }
    return true;
}

bool applyEdit(TrackRows& rows, const Edit& e, std::string& error)
{
    const std::string which = "row " + std::to_string(e.row);
    if (e.row < 0 || e.row >= rows.count()) {
        error = "no " + which + " (the file lists " + std::to_string(rows.count()) + " tracks)";
        return false;
    }
    if ((e.kind == Edit::Program || e.kind == Edit::Volume || e.kind == Edit::Balance) &&
        (e.value < 0 || e.value > 127)) {
        error = "value " + std::to_string(e.value) + " for " + which + " is outside 0..127";
        return false;
    }
    const TrackRow& r = rows.row(e.row);
    auto refuse = [&](const char* control) {
        error = std::string(control) + " of " + which + " is disabled" +
                (r.instrSpecial && e.kind == Edit::Program ? " (it shows a special entry)"
                                                           : " (another row holds the solo)");
        return false;
    };
    switch (e.kind) {
    case Edit::Mute:
    case Edit::Unmute:
        if (!r.onEnabled) return refuse("the On box");
        if (r.onChecked == (e.kind == Edit::Unmute)) return true;
        rows.clickOn(e.row);
        return true;
    case Edit::Solo:
        rows.clickSolo(e.row);
        return true;
    case Edit::Program:
        if (!r.instrEnabled) return refuse("the instrument list");
        rows.selectInstrument(e.row, e.value);
        return true;
    case Edit::Volume:
        if (!r.volEnabled) return refuse("the volume slider");
        rows.endVolume(e.row, e.value);
        return true;
    case Edit::Balance:
        if (!r.balEnabled) return refuse("the balance slider");
        rows.endBalance(e.row, e.value);
        return true;
    case Edit::Name:
        if (!r.nameEnabled) return refuse("the name box");
        rows.typeName(e.row, e.text);
        return true;
    }
    return false;
}

}  // namespace lirno::cli
