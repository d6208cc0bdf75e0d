#include "session.h"

#include <charconv>
#include <cstdio>

#include "mmio/playback.h"
#include "mmio/playfile.h"

namespace lirno::cli {

PlayFile::PlayFile() {
    playback.sTmpName = gettmpname();
}

PlayFile::~PlayFile() {
    deltmp(playback.sTmpName);
    playback.sTmpName.clear();
}

namespace {

bool parseInt(const std::string& s, int& out) {
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, out);
    return ec == std::errc() && p == end && !s.empty();
}

}  // namespace

bool parseEdit(Edit::Kind kind, const std::string& arg, Edit& edit, std::string& error) {
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

bool applyEdit(TrackRows& rows, const Edit& e, std::string& error) {
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
    struct Target {
        Control control;
        const char* name;
    };
    // By Edit::Kind: Mute, Unmute, Solo, Program, Volume, Balance, Name.
    static constexpr Target kTargets[] = {
        {Control::On, "the On box"},
        {Control::On, "the On box"},
        {Control::Solo, "the Solo button"},
        {Control::Instrument, "the instrument list"},
        {Control::Volume, "the volume slider"},
        {Control::Balance, "the balance slider"},
        {Control::Name, "the name box"},
    };
    const Target& target = kTargets[e.kind];
    if (!rows.editable(e.row, target.control)) {
        const bool special = target.control == Control::Instrument && rows.row(e.row).instrSpecial;
        error = std::string(target.name) + " of " + which + " is disabled" +
                (special ? " (it shows a special entry)" : " (another row holds the solo)");
        return false;
    }
    switch (e.kind) {
        case Edit::Mute:
        case Edit::Unmute:
            if (rows.row(e.row).onChecked != (e.kind == Edit::Unmute)) rows.clickOn(e.row);
            break;
        case Edit::Solo:
            rows.clickSolo(e.row);
            break;
        case Edit::Program:
            rows.selectInstrument(e.row, e.value);
            break;
        case Edit::Volume:
            rows.endVolume(e.row, e.value);
            break;
        case Edit::Balance:
            rows.endBalance(e.row, e.value);
            break;
        case Edit::Name:
            rows.typeName(e.row, e.text);
            break;
    }
    return true;
}

EditedSong::EditedSong(PlayFileUse use) : rows_(loaded.image, loaded.MidiInfo, [] {}) {
    if (use == PlayFileUse::Edited) playFile_.emplace();
}

int loadAndEdit(const std::string& file, const std::vector<Edit>& edits, TrackRows& rows) {
    if (!readmidifile(file)) return 1;
    rows.fill();
    for (const Edit& edit : edits) {
        std::string error;
        if (!applyEdit(rows, edit, error)) {
            std::fprintf(stderr, "lirno-midi: refused: %s; nothing was written\n", error.c_str());
            return 2;
        }
    }
    return 0;
}

int EditedSong::load(const std::string& file, const std::vector<Edit>& edits) {
    if (const int code = loadAndEdit(file, edits, rows_)) return code;
    // Written once, with the edits in it.
    if (playFile_ && !settmp(playback.sTmpName, loaded.image.data(), loaded.image.dwFileBufSize))
        return 1;
    return 0;
}

}  // namespace lirno::cli
