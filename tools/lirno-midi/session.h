// What every lirno-midi command shares: the program's load of a file into the
// process-wide image, the rows and their edits, and a play file for the run.
#pragma once

#include <optional>
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

// Loads the file as the player loads it (no play file is written) and
// applies the edits through rows as the same clicks in the track list would.
// Returns 0, or the exit code to stop with (after saying why).
int loadAndEdit(const std::string& file, const std::vector<Edit>& edits, TrackRows& rows);

// A file loaded and edited (loadAndEdit) with rows of its own, and the run's
// play file when the command plays it.
class EditedSong {
  public:
    enum class PlayFileUse { None, Edited };

    // Edited: the run gets a play file (removed at the end) that holds the
    // edited image once load has succeeded. None: nothing is written.
    explicit EditedSong(PlayFileUse use);

    // Returns 0, or the exit code to stop with (after saying why).
    int load(const std::string& file, const std::vector<Edit>& edits);
    const TrackRows& rows() const { return rows_; }

  private:
    std::optional<PlayFile> playFile_;
    TrackRows rows_;
};

}  // namespace lirno::cli
