// Track edits patched into the image in place, and the writer of saved files.
#pragma once

#include <cstdint>
#include <string>

#include "midi/vocabulary.h"
#include "mmio/midiinfo.h"

namespace lirno {

// Kinds of settrack edits.
inline constexpr std::uint8_t kEditNotes = midi::kNoteOff;  // flip Note-On/Note-Off (kNoteOn too)
inline constexpr std::uint8_t kEditVolume = midi::cc::kVolume;
inline constexpr std::uint8_t kEditBalance = midi::cc::kPan;
inline constexpr std::uint8_t kEditProgram = midi::kProgramChange;

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
