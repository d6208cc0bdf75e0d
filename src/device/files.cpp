#include "device/files.h"

#include <system_error>

namespace lirno::device {

bool isRegularFile(const std::filesystem::path& path) noexcept {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

}  // namespace lirno::device
