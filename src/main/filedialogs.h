// The open and save dialogs on the screen: what the shell installs through
// the file model's dialog seam.
#pragma once

#include <QFileDialog>
#include <cstddef>
#include <string>

#include "mmio/loadsave.h"

namespace lirno {

// The longest text the save dialog's name field starts with, in bytes.
inline constexpr std::size_t kDialogNameMax = 255;

// Both dialogs, owned by the main window, shown modally.
FileDialogs qtFileDialogs();

// The dialogs as they are shown, for a look without showing them.
// Open: existing files only. Save: asks before replacing a file and adds no
// extension to a name typed without one; starts at current.
void setUpOpenDialog(QFileDialog& dialog);
void setUpSaveDialog(QFileDialog& dialog, const std::string& current);

// The SoundFonts to add (.sf2, .sf3, several at once), for the sound
// dialog's Add; empty when cancelled.
QStringList chooseSoundFonts(QWidget* parent);

// The start of name that fits the name field, cut where a character begins.
std::string fitNameField(const std::string& name);

}  // namespace lirno
