#include "mmio/playfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "mmio/message.h"

namespace lirno {

std::string gettmpname()
{
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    std::string name = path + "lqXXXXXX.tmp";
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    const int fd = ::mkstemps(buf.data(), 4);
    if (fd < 0) return {};
    ::close(fd);
    return buf.data();
}

namespace {

mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int settmp(const std::string& fileName, const std::uint8_t* data, std::size_t length)
{
    const auto slash = fileName.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
    std::string temp = dir + ".lqsave-XXXXXX";
    std::vector<char> buf(temp.begin(), temp.end());
    buf.push_back('\0');

    struct stat st {};
    const bool exists = ::stat(fileName.c_str(), &st) == 0;
    if (fileName.empty() || (exists && !S_ISREG(st.st_mode))) {
        MessageBox(Owner::None, "Tmp File create failed.");
        return 0;
    }
    const int fd = ::mkstemp(buf.data());
    if (fd < 0) {
        MessageBox(Owner::None, "Tmp File create failed.");
        return 0;
    }
    temp = buf.data();
    ::fchmod(fd, exists ? (st.st_mode & 07777) : newFileMode());
    const bool whole = writeAll(fd, data, length);
    const bool closed = ::close(fd) == 0;
    if (!whole || !closed) {
        ::unlink(temp.c_str());
        MessageBox(Owner::None, "TMP bytes no write.");
        return 0;
    }
    if (::rename(temp.c_str(), fileName.c_str()) != 0) {
        ::unlink(temp.c_str());
        MessageBox(Owner::None, "Tmp File create failed.");
        return 0;
    }
    return 1;
}

int deltmp(const std::string& fileName)
{
    if (fileName.empty()) return 0;
    return ::unlink(fileName.c_str()) == 0 ? 1 : 0;
}

}  // namespace lirno
