// The shell's process-wide state: the title, the current file's name and the
// main window (the owner of most message boxes).
#pragma once

#include <QPointer>
#include <QWidget>
#include <string>

namespace lirno {

// The marker that start-up passes with Open for a file named on the command
// line: load it without a dialog and play it at once.
inline constexpr int OPEN_AND_PLAY = 123;

struct Shell {
    std::string szTitle;         // the string table's title
    std::string szFileName;      // the current MIDI file; the command line's at start
    QPointer<QWidget> hWndMain;  // null until the main window exists
    bool fEnding = false;        // ended by a signal or a newer copy: nothing more is shown
};
extern Shell shell;  // resetGlobals() resets it with the model's records

// Ends the program at once and quietly, for a signal or a newer copy: every
// box and dialog on the screen closes, none opens any more, and every event
// loop ends. The window's shut-down (device stopped and closed, play file
// deleted) then runs as the program unwinds, after whatever code the boxes
// interrupted has finished with the loaded file.
void endProgram();

// The whole command-line argument string: every argument after the
// program's name, joined by single blanks, quotes and all.
std::string commandLineFileName(int argc, const char* const* argv);

}  // namespace lirno
