#include "mmio/loadsave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <new>
#include <utility>

#include "mmio/message.h"
#include "mmio/playback.h"
#include "mmio/playfile.h"

namespace lirno {

namespace {

FileDialogs& dialogs() {
    static FileDialogs d;
    return d;
}

// A load that fails once the file is open leaves no image to edit or play:
// nothing stays listed that would point into it.
void dropImage() {
    loaded.image.pFileBuf = {};
    loaded.image.dwFileBufSize = 0;
    loaded.MidiInfo.nTracks = 0;
    loaded.MidiInfo.nViewTracks = 0;
}

std::size_t readAll(int fd, std::uint8_t* to, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, to + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// Reads the whole file into a new block; 0 after the load's own message.
int readImage(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        dropImage();
        MessageBox(Owner::None, "GetFileSize failed!");
        return 0;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    loaded.image.pFileBuf = {};  // the previous block goes before the new one is made
    try {
        if (size > std::numeric_limits<std::uint32_t>::max() - kSpareBytes) throw std::bad_alloc();
        loaded.image.pFileBuf.resize(size + kSpareBytes);
    } catch (const std::bad_alloc&) {
        loaded.image.pFileBuf = {};
        dropImage();
        MessageBox(Owner::None, "GlobalAlloc failed!");
        return 0;
    }
    if (readAll(fd, loaded.image.data(), size) != size) {
        // (the partly read block goes too: there is no image to save or play)
        dropImage();
        MessageBox(Owner::None, "Zero bytes read.");
        return 0;
    }
    loaded.image.dwFileBufSize = static_cast<std::uint32_t>(size);
    return 1;
}

void analyse(LoadDetails* details) {
    // Nothing of the previous file survives a header the analysis refuses.
    loaded.MidiInfo = MidiInfo{};
    const int analysis = readmidiinfo(loaded.image, loaded.MidiInfo);
    if (details) *details = {analysis, loaded.MidiInfo.nTracks};
    if (!analysis) {
        MessageBox(Owner::Main, "This format is not supported! (Try Play only)", "Attention",
                   Icon::Exclamation);
        loaded.MidiInfo.nTracks = 0;
        loaded.MidiInfo.nViewTracks = 0;
    }
}

}  // namespace

FileDialogs setFileDialogs(FileDialogs d) {
    return std::exchange(dialogs(), std::move(d));
}

int readmidifile(const std::string& name, LoadDetails* details) {
    // Not blocking: a FIFO would otherwise wait for a writer for ever.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        MessageBox(Owner::None, "File open failed.");
        return 0;
    }
    const int read = readImage(fd);
    ::close(fd);
    if (!read) return 0;
    analyse(details);
    return 1;
}

int mcimidiSelectFile(std::string& name, LoadDetails* details) {
    if (name.empty()) {
        auto chosen = dialogs().open ? dialogs().open() : std::nullopt;
        if (!chosen || chosen->empty()) return 0;
        name = *chosen;
    }
    if (!readmidifile(name, details)) return 0;
    settmp(playback.sTmpName, loaded.image.data(), loaded.image.dwFileBufSize);
    playback.dwPlayPos = 0;
    return 1;
}

int mcimidiSaveFile(std::string& name, const RowSource& rows) {
    auto chosen = dialogs().save ? dialogs().save(name) : std::nullopt;
    if (!chosen || chosen->empty()) return 0;
    // Without an image (nothing loaded yet, or the last load failed) there is
    // nothing to save: writing would only empty the file the user picked.
    const bool noImage = loaded.image.pFileBuf.empty();
    if (noImage || !writemidiinfo(*chosen, loaded.image, loaded.MidiInfo, rows)) {
        MessageBox(Owner::Main, "Error save file", "Attention", Icon::Exclamation);
        return 0;
    }
    name = *chosen;
    return 1;
}

}  // namespace lirno
