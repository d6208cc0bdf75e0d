#include "device/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>

namespace lirno::device {
namespace {

// Tries at a free hidden name before giving up: a clash is already rare.
constexpr int kNameTries = 50;

std::string hiddenName(const std::filesystem::path& folder, const std::filesystem::path& target) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string suffix(6, 'x');
    for (char& c : suffix) c = kLetters[random() % (sizeof kLetters - 1)];
    return (folder / ("." + target.filename().string() + "." + suffix)).string();
}

}  // namespace

bool isRegularFile(const std::filesystem::path& path) noexcept {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

FileBeside::FileBeside(const std::filesystem::path& target, Use use)
    : target_(target), folder_(target.has_parent_path() ? target.parent_path() : ".") {
    // An unnamed file is named later through /proc; without it, a replacement
    // has a hidden name from the start.
    const bool linkable = use == Use::Scratch || ::access("/proc/self/fd", X_OK) == 0;
    if (linkable) fd_ = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    const bool unsupported = !linkable || errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
    if (fd_ < 0 && unsupported && openHidden() && use == Use::Scratch) {
        ::unlink(name_.c_str());
        name_.clear();
    }
    struct stat st {};
    if (fd_ >= 0 && use == Use::Replacement && ::stat(target_.c_str(), &st) == 0)
        ::fchmod(fd_, st.st_mode & 07777);
}

FileBeside::~FileBeside() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlink(name_.c_str());
}

bool FileBeside::openHidden() {
    for (int tries = 0; tries < kNameTries && fd_ < 0; ++tries) {
        name_ = hiddenName(folder_, target_);
        fd_ = ::open(name_.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) name_.clear();
    return fd_ >= 0;
}

// An unnamed file is given a hidden name, which the rename then replaces.
bool FileBeside::giveName() {
    if (!name_.empty()) return true;
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int tries = 0; tries < kNameTries; ++tries) {
        std::string name = hiddenName(folder_, target_);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            name_ = std::move(name);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool FileBeside::replaceTarget() {
    if (fd_ < 0 || !giveName()) return false;
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0 || ::rename(name_.c_str(), target_.c_str()) != 0) return false;
    name_.clear();
    return true;
}

}  // namespace lirno::device
