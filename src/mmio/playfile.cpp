#include "mmio/playfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <random>
#include <string_view>
#include <vector>

#include "mmio/message.h"

namespace lirno {

namespace {

constexpr std::string_view kPlayPrefix = "lq";
constexpr std::string_view kPlaySuffix = ".tmp";

std::string temporaryFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    return path;
}

// The process that made a play file, from its name "lq<pid>-XXXXXX.tmp";
// 0 for any other name.
pid_t playFileOwner(std::string_view name) {
    if (name.size() < kPlayPrefix.size() + kPlaySuffix.size() || !name.starts_with(kPlayPrefix) ||
        !name.ends_with(kPlaySuffix))
        return 0;
    name.remove_prefix(kPlayPrefix.size());
    pid_t pid = 0;
    std::size_t digits = 0;
    for (; digits < name.size() && name[digits] >= '0' && name[digits] <= '9' && digits < 9;
         ++digits)
        pid = pid * 10 + (name[digits] - '0');
    const bool shaped = digits > 0 && digits < name.size() && name[digits] == '-' &&
                        name.size() == digits + 1 + 6 + kPlaySuffix.size();
    return shaped ? pid : 0;
}

// Play files of this user whose program is gone (killed before its shut-down
// could delete them). A live process with the same number keeps its file.
void removeStalePlayFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    const uid_t me = ::getuid();
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t pid = playFileOwner(entry->d_name);
        if (pid <= 0 || pid == ::getpid()) continue;
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == me)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

}  // namespace

std::string gettmpname() {
    const std::string folder = temporaryFolder();
    removeStalePlayFiles(folder);
    std::string name = folder + std::string(kPlayPrefix) + std::to_string(::getpid()) + "-XXXXXX" +
                       std::string(kPlaySuffix);
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    const int fd = ::mkstemps(buf.data(), static_cast<int>(kPlaySuffix.size()));
    if (fd < 0) return {};
    ::close(fd);
    return buf.data();
}

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file a name stands for: symbolic links are followed to what they point
// at, as editors write through them, also to a file that does not exist yet.
// Empty for a loop of links.
std::string followLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::vector<char> target(PATH_MAX);
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return {};
        const std::string link(target.data(), static_cast<std::size_t>(n));
        path = link.front() == '/' ? link : folderOf(path) + link;
    }
    return {};
}

// A name in folder for a file that becomes the target when whole.
std::string hiddenName(const std::string& folder) {
    static thread_local std::mt19937 random{std::random_device{}()};
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    std::string name = folder + ".lqsave-";
    for (int i = 0; i < 6; ++i) name += kChars[pick(random)];
    return name;
}

// The new file, not yet in place. Unnamed (only the open file knows it)
// where the file system allows, so that a program killed while writing
// leaves nothing behind; else a hidden name beside the target. Either way
// made with mode 0666 less the umask, as any new file.
struct NewFile {
    int fd = -1;
    std::string name;  // empty while unnamed
};

NewFile createBeside(const std::string& folder) {
    const std::string dir = folder.empty() ? "." : folder;
    NewFile f;
    f.fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (f.fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return f;
    for (int tries = 0; tries < 100; ++tries) {
        f.name = hiddenName(folder);
        f.fd = ::open(f.name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (f.fd >= 0 || errno != EEXIST) break;
    }
    if (f.fd < 0) f.name.clear();
    return f;
}

// Gives an unnamed file a hidden name, so that it can be renamed.
bool nameIt(NewFile& f, const std::string& folder) {
    if (!f.name.empty()) return true;
    const std::string self = "/proc/self/fd/" + std::to_string(f.fd);
    for (int tries = 0; tries < 100; ++tries) {
        const std::string name = hiddenName(folder);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            f.name = name;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// A file whose folder takes no new file can still be written where it is
// (not atomically: this is the only way left).
int writeInPlace(const std::string& target, const std::uint8_t* data, std::size_t length) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        MessageBox(Owner::None, "Tmp File create failed.");
        return 0;
    }
    const bool whole =
        writeAll(fd, data, length) && ::ftruncate(fd, static_cast<off_t>(length)) == 0;
    if (!(::close(fd) == 0 && whole)) {
        MessageBox(Owner::None, "TMP bytes no write.");
        return 0;
    }
    return 1;
}

}  // namespace

int settmp(const std::string& fileName, const std::uint8_t* data, std::size_t length) {
    const std::string target = fileName.empty() ? std::string() : followLinks(fileName);
    struct stat st {};
    const bool exists = !target.empty() && ::stat(target.c_str(), &st) == 0;
    if (target.empty() || (exists && !S_ISREG(st.st_mode))) {
        MessageBox(Owner::None, "Tmp File create failed.");
        return 0;
    }
    const std::string folder = folderOf(target);
    NewFile f = createBeside(folder);
    if (f.fd < 0 && exists && (errno == EACCES || errno == EPERM))
        return writeInPlace(target, data, length);
    if (f.fd < 0) {
        MessageBox(Owner::None, "Tmp File create failed.");
        return 0;
    }
    if (exists) {
        // The replaced file's owner and group where this process may give
        // them (root may; a member of the group may keep the group), then
        // its permissions (a change of owner clears set-id bits).
        if (::fchown(f.fd, st.st_uid, st.st_gid) != 0 &&
            ::fchown(f.fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
            // Neither: the file becomes this user's, as any file it writes.
        }
        ::fchmod(f.fd, st.st_mode & 07777);
    }
    const bool whole = writeAll(f.fd, data, length);
    const bool named = whole && nameIt(f, folder);
    const bool closed = ::close(f.fd) == 0;
    if (!whole || !closed) {
        if (!f.name.empty()) ::unlink(f.name.c_str());
        MessageBox(Owner::None, "TMP bytes no write.");
        return 0;
    }
    if (!named || ::rename(f.name.c_str(), target.c_str()) != 0) {
        if (!f.name.empty()) ::unlink(f.name.c_str());
        MessageBox(Owner::None, "Tmp File create failed.");
        return 0;
    }
    return 1;
}

int deltmp(const std::string& fileName) {
    if (fileName.empty()) return 0;
    return ::unlink(fileName.c_str()) == 0 ? 1 : 0;
}

}  // namespace lirno
