// Reading a MIDI file from disk into a playable song.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "device/song.h"

namespace lirno::device {

// Returns 0 or one of the kErr* codes of errors.h.
int parseSong(std::span<const std::uint8_t> bytes, std::shared_ptr<const Song>& out);
int loadSongFile(const std::string& path, std::shared_ptr<const Song>& out);

}  // namespace lirno::device
