// What the Space key, the media keys and the desktop's media controls mean
// in terms of the window's commands and the position slider.
#pragma once

#include <cstdint>

namespace lirno {

class MainWndProc;

// The mode the user sees: while the position slider is held, the one the
// gesture interrupted.
int shownMode(const MainWndProc& w);

// Stopped: Play. Paused: Pause, which resumes. Otherwise nothing.
void mediaPlay(MainWndProc& w);
// Playing: Pause. Otherwise nothing.
void mediaPause(MainWndProc& w);
// Stopped: Play. Playing or paused: Pause.
void mediaPlayPause(MainWndProc& w);

// Where the song stands, in device units: the device's position while it
// plays, else where the next play starts.
std::uint32_t songPosition(const MainWndProc& w);
// Moves the play position as letting go of the position slider does. Does
// nothing (false) with no song loaded, a position past its end, or while
// the user holds the slider.
bool mediaSeek(MainWndProc& w, std::uint32_t pos);

}  // namespace lirno
