// Small file-system checks shared by the whole device.
#pragma once

#include <filesystem>

namespace lirno::device {

// True for an existing regular file (or a link to one). Only such files are
// read: a FIFO or a device node would block a read for ever.
bool isRegularFile(const std::filesystem::path& path) noexcept;

}  // namespace lirno::device
