// Track edits patched into the image in place, and the writer of saved files.
#pragma once

#include <cstdint>
#include <string>

#include "mmio/midiinfo.h"

namespace lirno {

// Kinds of settrack edits.
inline constexpr std::uint8_t kEditNotes = 0x80;  // flip Note-On/Note-Off (0x90 does the same)
inline constexpr std::uint8_t kEditVolume = 7;
inline constexpr std::uint8_t kEditBalance = 10;
inline constexpr std::uint8_t kEditProgram = 0xC0;

// Patches every event of a kind in file track fileTrack. Returns 1 when the
// track was scanned to its exact end, 0 otherwise (after a message); patches
// made before the failure stay.
int settrack(FileImage& image, int fileTrack, std::uint8_t kind, std::uint8_t value);

// What the writer needs to know of each listed track's row: whether it is
// muted and the text in its name box.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual bool isOnEnabled(int n) const = 0;
    virtual bool isOnChecked(int n) const = 0;
    virtual std::string nameText(int n) const = 0;
};

// Writes the image to fileName with every note audible and each listed
// track's first name event carrying its row's name. The image is left exactly
// as it was. Returns 1 when the file was written, 0 otherwise.
int writemidiinfo(const std::string& fileName, FileImage& image, const MidiInfo& info,
                  const RowSource& rows);

}  // namespace lirno
