#include "resources.h"

#include <array>

namespace lirno::res {

namespace {

struct StringEntry {
    int id;
    std::string_view text;
};

constexpr std::array kStrings{
    StringEntry{IDS_TITLE, "Lirno Player"},
    StringEntry{IDS_TIMETRACK, "Set Music Position"},
    StringEntry{IDM_NEW, "New midi file"},
    StringEntry{IDM_OPEN, "Open midi file"},
    StringEntry{IDM_SAVEAS, "Save midi file as..."},
    StringEntry{IDM_STOP, "Stop Playing Music (Go to begining)"},
    StringEntry{IDM_PLAY, "Play Music"},
    StringEntry{IDM_PAUSE, "Pause Music"},
    StringEntry{IDM_RECORD, "Record Track"},
    StringEntry{IDM_LOOP, "Loop Music"},
    StringEntry{IDM_VIEWTRACKS, "View Track List"},
    StringEntry{IDM_VOLUME, "Volume Control"},
    StringEntry{IDM_ABOUT, "About"},
};

constexpr std::array kFileItems{
    MenuItem{"&New", IDM_NEW, true},     MenuItem{"&Open...", IDM_OPEN},
    MenuItem{"Save &As...", IDM_SAVEAS}, MenuItem{},
    MenuItem{"E&xit", IDM_EXIT},
};
constexpr std::array kMusicItems{
    MenuItem{"&Play", IDM_PLAY},
    MenuItem{"&Stop", IDM_STOP},
    MenuItem{"P&ause", IDM_PAUSE},
    MenuItem{},
    MenuItem{"&Record Track", IDM_RECORD},
    MenuItem{},
    // Usable once a song is loaded.
    MenuItem{"&Faster", IDM_FASTER, true},
    MenuItem{"S&lower", IDM_SLOWER, true},
    MenuItem{"&Normal Speed", IDM_NORMALSPEED, true},
    MenuItem{"Key &Up", IDM_KEYUP, true},
    MenuItem{"Key &Down", IDM_KEYDOWN, true},
    MenuItem{"&Original Key", IDM_ORIGINALKEY, true},
    MenuItem{"Passage S&tart Here", IDM_PASSAGESTART, true},
    MenuItem{"Passage &End Here", IDM_PASSAGEEND, true},
    MenuItem{"&Clear Passage", IDM_CLEARPASSAGE, true},
    MenuItem{},
    // Every letter of it is taken above: Ctrl+Shift+F reaches it.
    MenuItem{"Sound...", IDM_SOUND},
    MenuItem{"MIDI Output...", IDM_MIDIOUTPUT},
    MenuItem{},
    // A check item: the lyrics pane is shown.
    MenuItem{"&Lyrics", IDM_LYRICS},
};
constexpr std::array kHelpItems{
    MenuItem{"&Help", IDM_HELP, true},
    MenuItem{},
    MenuItem{"&About Lirno Player...", IDM_ABOUT},
};
constexpr std::array kMenu{
    MenuPopup{"&File", kFileItems},
    MenuPopup{"&Music", kMusicItems},
    MenuPopup{"&Help", kHelpItems},
};

using enum ControlKind;

constexpr std::array kAboutControls{
    DialogControl{DefButton, 200, 5, 40, 15, "OK"},
    DialogControl{Icon, 5, 5, 20, 20, IDI_DLG},
    DialogControl{CenteredText, 40, 5, 150, 30,
                  "Lirno MIDI Player. Version: 1.00 (98.6)\n"
                  "Plays MIDI files and mixes their tracks."},
    DialogControl{CenteredText, 20, 30, 210, 20,
                  "Free to use, copy and pass on.\n"
                  "It comes without any warranty."},
    DialogControl{CenteredText, 20, 50, 210, 30,
                  "Written by the Lirno Player developers.\n"
                  "Questions and reports: see the README file."},
};

// The record notice: why recording cannot start now (two lines), what
// recording does, and what to do about it.
constexpr std::array<DialogControl, 6> recordControls(std::string_view why,
                                                      std::string_view whatToDo) {
    return {{
        DialogControl{DefButton, 200, 5, 40, 15, "OK"},
        DialogControl{Icon, 5, 5, 20, 20, IDI_DLG},
        DialogControl{LeftText, 40, 5, 150, 50, why},
        DialogControl{LeftText, 20, 40, 200, 50,
                      "Recording takes the notes you play on a MIDI keyboard "
                      "into a new track of the open song, in time with the tracks "
                      "you hear, so that you can mix it like any other track."},
        DialogControl{LeftText, 20, 90, 200, 50, whatToDo},
        DialogControl{CenteredText, 20, 140, 200, 30,
                      "Written by the Lirno Player developers.\n"
                      "Questions and reports: see the README file."},
    }};
}

constexpr auto kRecordNoSong = recordControls(
    "Recording is not available now:\n"
    "no song is open.",
    "Open a song first (File > Open...), then press Record Track: "
    "the song plays and what you play goes into a new track.");
constexpr auto kRecordNoInput = recordControls(
    "Recording is not available now:\n"
    "no MIDI keyboard is connected.",
    "Plug the keyboard in: it is connected by itself. With JACK or another "
    "program, connect its output to \"Lirno Player\"'s input. "
    "\"lirno-midi ports\" lists the ports.");
constexpr auto kRecordFull = recordControls(
    "Recording is not available now:\n"
    "the song is full (100 tracks).",
    "A song holds at most 100 tracks. Save it, then record into a song "
    "with fewer tracks.");
constexpr auto kRecordUnfit = recordControls(
    "Recording is not available now:\n"
    "this song cannot take a new track.",
    "The song could only be opened for playing, or its tracks play one "
    "after another (format 2). Open another song to record into it.");

constexpr std::string_view kRecordTitle = "About Lirno Melvanto";

constexpr std::array kDialogs{
    DialogTemplate{IDD_ABOUT, "About Lirno Player", 20, 10, 250, 80, kAboutControls},
    DialogTemplate{IDD_RECORD, kRecordTitle, 20, 10, 250, 170, kRecordNoSong},
};

}  // namespace

std::string_view LoadString(int id) {
    for (const auto& s : kStrings)
        if (s.id == id) return s.text;
    return {};
}

std::span<const MenuPopup> mainMenu() {
    return kMenu;
}

const DialogTemplate& recordNotice(RecordNotice why) {
    static constexpr std::array kNotices{
        DialogTemplate{IDD_RECORD, kRecordTitle, 20, 10, 250, 170, kRecordNoSong},
        DialogTemplate{IDD_RECORD, kRecordTitle, 20, 10, 250, 170, kRecordNoInput},
        DialogTemplate{IDD_RECORD, kRecordTitle, 20, 10, 250, 170, kRecordFull},
        DialogTemplate{IDD_RECORD, kRecordTitle, 20, 10, 250, 170, kRecordUnfit},
    };
    return kNotices[static_cast<std::size_t>(why)];
}

const DialogTemplate* findDialog(int id) {
    for (const auto& d : kDialogs)
        if (d.id == id) return &d;
    return nullptr;
}

}  // namespace lirno::res
