// The play file (the temporary file the sequencer plays) and whole-file writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lirno {

// Makes a uniquely named, empty file "lq<pid>-XXXXXX.tmp" (mode 0600) in the
// temporary folder (TMPDIR, else /tmp) and returns its path; empty on failure.
// First removes this user's play files there whose program is gone (killed
// before it could delete its own).
std::string gettmpname();

// Replaces fileName with length bytes of data. The bytes go to a new file
// beside it that is renamed over the target once it is whole, so a failed
// write leaves an existing file as it was, and a program killed meanwhile
// leaves nothing (where the file system has unnamed files). A symbolic link
// is written through: the file it points at is replaced, the link stays. A
// replaced file keeps its permissions, and its owner and group where the
// process may give them. A file in a folder that takes no new file is
// written in place. Returns 1 on success, 0 after its own message.
int settmp(const std::string& fileName, const std::uint8_t* data, std::size_t length);

// Deletes the file; 0 when the name is empty or the deletion failed.
int deltmp(const std::string& fileName);

}  // namespace lirno
