// What every lirno-midi command shares: the program's load of a file into the
// process-wide image, a play file for the run, and the rows and their edits.
#pragma once

#include <string>
#include <vector>

#include "ctrl/trackrows.h"
#include "mmio/loadsave.h"
#include "mmio/message.h"

namespace lirno::cli {

// The run's play file, made as the player makes it and removed at the end.
class PlayFile {
public:
    PlayFile();
    ~PlayFile();
    PlayFile(const PlayFile&) = delete;
    PlayFile& operator=(const PlayFile&) = delete;
};

// One edit as the track view would make it.
struct Edit {
    enum Kind { Mute, Unmute, Solo, Program, Volume, Balance, Name } kind = Mute;
    int row = 0;
    int value = 0;
    std::string text;
};

// Parses "N" or "N=V" / "N=TEXT" of an edit option; false when malformed.
bool parseEdit(Edit::Kind kind, const std::string& arg, Edit& edit, std::string& error);

// Applies one edit through the rows; refuses (false, with the reason) what
// the view would not allow.
bool applyEdit(TrackRows& rows, const Edit& edit, std::string& error);

}  // namespace lirno::cli
