// Resource and command ids. The menu, the toolbar and the string table share
// the command ids: a toolbar button's tooltip is the string with its id.
#pragma once

namespace lirno::res {

// Commands.
inline constexpr int IDM_NEW = 100;
inline constexpr int IDM_OPEN = 101;
inline constexpr int IDM_SAVEAS = 103;
inline constexpr int IDM_EXIT = 106;
inline constexpr int IDM_STOP = 204;
inline constexpr int IDM_PLAY = 205;
inline constexpr int IDM_PAUSE = 206;
inline constexpr int IDM_RECORD = 207;
inline constexpr int IDM_LOOP = 300;
inline constexpr int IDM_VIEWTRACKS = 301;
inline constexpr int IDM_VOLUME = 302;
inline constexpr int IDM_ABOUT = 400;
inline constexpr int IDM_HELP = 401;
// Practice: speed, key and a passage on repeat (Music menu); the recent songs (File menu).
inline constexpr int IDM_FASTER = 500;
inline constexpr int IDM_SLOWER = 501;
inline constexpr int IDM_NORMALSPEED = 502;
inline constexpr int IDM_KEYUP = 503;
inline constexpr int IDM_KEYDOWN = 504;
inline constexpr int IDM_ORIGINALKEY = 505;
inline constexpr int IDM_PASSAGESTART = 506;
inline constexpr int IDM_PASSAGEEND = 507;
inline constexpr int IDM_CLEARPASSAGE = 508;
inline constexpr int IDM_CLEARRECENT = 509;
inline constexpr int IDM_RECENTFIRST = 510;  // the recent songs, newest first
inline constexpr int kMaxRecentSongs = 10;
// The words of the song being played (Music menu).
inline constexpr int IDM_LYRICS = 530;
// Sound: the SoundFonts, reverb and chorus (Music menu).
inline constexpr int IDM_SOUND = 520;
// Where songs play: the synthesizer or a MIDI port (Music menu).
inline constexpr int IDM_MIDIOUTPUT = 521;

// Strings that are not tooltips.
inline constexpr int IDS_TITLE = 1;
inline constexpr int IDS_TIMETRACK = 7;

// Menu, dialogs, pictures.
inline constexpr int IDR_MENU = 10;
inline constexpr int IDD_ABOUT = 998;
inline constexpr int IDD_RECORD = 999;
inline constexpr int IDI_LOGO = 400;   // large icon, logo button
inline constexpr int IDI_SMALL = 401;  // small icon, shown at 16 x 16
inline constexpr const char* IDI_DLG = "DLG_ICON";
inline constexpr int IDB_TOOLBAR = 404;  // the 11-image strip

}  // namespace lirno::res
