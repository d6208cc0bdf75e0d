#include "device/song_file.h"

#include <fstream>
#include <memory>

#include "device/errors.h"
#include "device/smf_reader.h"

namespace lirno::device {
namespace {
// MIDI files are small; anything this big is not one we can play sensibly.
constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t{512} << 20;
}  // namespace

int parseSong(std::span<const std::uint8_t> bytes, std::shared_ptr<const Song>& out) {
    SmfResult r = readSmf(bytes);
    switch (r.error) {
        case SmfError::None:
            break;
        case SmfError::NoHeader:
            return kErrNotMidi;
        case SmfError::ShortHeader:
            return kErrShortHeader;
        case SmfError::BadDivision:
            return kErrBadDivision;
    }
    out = std::make_shared<const Song>(std::move(r.song));
    return 0;
}

int loadSongFile(const std::string& path, std::shared_ptr<const Song>& out) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return kErrFileRead;
    const std::streamoff size = in.tellg();
    if (size < 0) return kErrFileRead;
    if (static_cast<std::uintmax_t>(size) > kMaxFileBytes) return kErrFileTooLarge;
    // Not zero-filled first: the read overwrites every byte.
    const auto n = static_cast<std::size_t>(size);
    const auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(n);
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.get()), size)) return kErrFileRead;
    return parseSong(std::span<const std::uint8_t>(bytes.get(), n), out);
}

}  // namespace lirno::device
