// The play file (the temporary file the sequencer plays) and whole-file writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lirno {

// Makes a uniquely named, empty file "lqXXXXXX.tmp" (mode 0600) in the
// temporary folder (TMPDIR, else /tmp) and returns its path; empty on failure.
std::string gettmpname();

// Replaces fileName with length bytes of data. The bytes go to a new file
// beside it that is renamed over the target once it is whole, so a failed
// write leaves an existing file as it was; a replaced file keeps its
// permissions. Returns 1 on success, 0 after its own message.
int settmp(const std::string& fileName, const std::uint8_t* data, std::size_t length);

// Deletes the file; 0 when the name is empty or the deletion failed.
int deltmp(const std::string& fileName);

}  // namespace lirno
