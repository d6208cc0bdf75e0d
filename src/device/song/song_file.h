// Reading a MIDI file from disk into a playable song.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "device/song/song.h"

namespace lirno::device {

// Returns 0 or one of the kErr* codes of errors.h.
int parseSong(std::span<const std::uint8_t> bytes, std::shared_ptr<const Song>& out);
// `previous`, when given, is a song read earlier from a former version of the
// same file: what did not change is taken from it (see rereadSmf).
int loadSongFile(const std::string& path, std::shared_ptr<const Song>& out,
                 const Song* previous = nullptr);

}  // namespace lirno::device
