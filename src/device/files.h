// Small file-system helpers shared by the whole device.
#pragma once

#include <filesystem>
#include <string>

namespace lirno::device {

// True for an existing regular file (or a link to one). Only such files are
// read: a FIFO or a device node would block a read for ever.
bool isRegularFile(const std::filesystem::path& path) noexcept;

// A file made in the folder of `target`, open for reading and writing. It
// has no name where the file system allows (only the open file knows it),
// so that a process killed while writing leaves nothing behind; elsewhere
// it has a hidden one, removed again unless the file replaces the target.
class FileBeside {
  public:
    enum class Use {
        Scratch,      // never named: gone once closed
        Replacement,  // takes the target's place once whole, with its permissions
    };
    // fd() < 0 on failure, with errno set.
    FileBeside(const std::filesystem::path& target, Use use);
    ~FileBeside();
    FileBeside(const FileBeside&) = delete;
    FileBeside& operator=(const FileBeside&) = delete;

    int fd() const noexcept { return fd_; }
    const std::filesystem::path& folder() const noexcept { return folder_; }
    // Closes the file and renames it over the target; false with errno set.
    bool replaceTarget();

  private:
    bool openHidden();
    bool giveName();

    std::filesystem::path target_;
    std::filesystem::path folder_;
    int fd_ = -1;
    std::string name_;  // the hidden name, while it has one
};

}  // namespace lirno::device
