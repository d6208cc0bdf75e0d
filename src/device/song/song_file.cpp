#include "device/song/song_file.h"

#include <fstream>
#include <memory>

#include "device/errors.h"
#include "device/song/smf_reader.h"

namespace lirno::device {
namespace {
// MIDI files are small; anything this big is not one we can play sensibly.
constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t{512} << 20;

int toCode(SmfError e) {
    switch (e) {
        case SmfError::None:
            break;
        case SmfError::NoHeader:
            return kErrNotMidi;
        case SmfError::ShortHeader:
            return kErrShortHeader;
        case SmfError::BadDivision:
            return kErrBadDivision;
    }
    return 0;
}

int finish(SmfResult r, std::shared_ptr<const Song>& out) {
    if (const int code = toCode(r.error); code != 0) return code;
    out = std::make_shared<const Song>(std::move(r.song));
    return 0;
}

}  // namespace

int parseSong(std::span<const std::uint8_t> bytes, std::shared_ptr<const Song>& out) {
    return finish(readSmf(bytes), out);
}

int loadSongFile(const std::string& path, std::shared_ptr<const Song>& out, const Song* previous) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return kErrFileRead;
    const std::streamoff size = in.tellg();
    if (size < 0) return kErrFileRead;
    if (static_cast<std::uintmax_t>(size) > kMaxFileBytes) return kErrFileTooLarge;
    auto bytes = std::make_shared<FileBytes>();
    bytes->size = static_cast<std::size_t>(size);
    // Not zero-filled first: the read overwrites every byte.
    bytes->data = std::make_unique_for_overwrite<std::uint8_t[]>(bytes->size);
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes->data.get()), size)) return kErrFileRead;
    SharedBytes shared = std::move(bytes);
    if (previous != nullptr) return finish(rereadSmf(std::move(shared), *previous), out);
    return finish(readSmf(std::move(shared)), out);
}

}  // namespace lirno::device
