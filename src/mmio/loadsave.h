// Moving MIDI files between disk and the image.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "mmio/trackedit.h"

namespace lirno {

// The file dialogs, installed by whoever has a window system. Each returns
// the chosen path, or nothing when cancelled. Without them no dialog exists.
struct FileDialogs {
    std::function<std::optional<std::string>()> open;
    std::function<std::optional<std::string>(const std::string& current)> save;
};
FileDialogs setFileDialogs(FileDialogs dialogs);

// Loads a file into the image, analyses it and writes the play file. An empty
// name asks the open dialog (and receives the chosen path). Returns 1 when a
// file was read, also when the analysis rejected it; 0 when cancelled or the
// load failed (after its message).
int mcimidiSelectFile(std::string& name, struct LoadDetails* details = nullptr);

// The load without the dialog and without the play file: reads the named
// file into the image and analyses it, with mcimidiSelectFile's messages and
// result. Only regular files are read: a FIFO, a device or a folder is
// refused at once ("File open failed."), never waited on.
int readmidifile(const std::string& name, LoadDetails* details = nullptr);

// What a load found before it settled the track list, for callers that
// report on the file (the command-line tool).
struct LoadDetails {
    int analysis = 0;        // readmidiinfo's result
    int analysedTracks = 0;  // nTracks as the analysis left it, before a rejection cleared it
};

// Asks for a name (the dialog starts at name) and writes the edited file
// there. Returns 1 and updates name when saved, 0 when cancelled or failed
// (also when there is no image to save: nothing is written then).
int mcimidiSaveFile(std::string& name, const RowSource& rows);

}  // namespace lirno
