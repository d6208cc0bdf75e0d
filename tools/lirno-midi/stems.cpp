#include "stems.h"

#include <algorithm>
#include <cctype>

#include "commands.h"
#include "mmio/message.h"
#include "mmio/playback.h"

namespace lirno::cli {

namespace {

constexpr std::size_t kMaxNameBytes = 64;

std::vector<std::uint8_t> imageBytes() {
    return {loaded.image.data(), loaded.image.data() + loaded.image.dwFileBufSize};
}

std::string rowNumber(int row, int rows) {
    const std::size_t width = std::max<std::size_t>(2, std::to_string(rows).size());
    std::string n = std::to_string(row + 1);
    return std::string(width - std::min(width, n.size()), '0') + n;
}

}  // namespace

std::string safeFileName(const std::string& name) {
    std::string out;
    for (const unsigned char c : name) {
        const bool keep = c < 0x80 && (std::isalnum(c) || c == '-' || c == '_');
        if (keep) {
            out += static_cast<char>(c);
        } else if (!out.empty() && out.back() != '_') {
            out += '_';
        }
        if (out.size() >= kMaxNameBytes) break;
    }
    while (!out.empty() && out.back() == '_') out.pop_back();
    return out.empty() ? "track" : out;
}

bool editedImage(const std::string& file, const std::vector<Edit>& edits,
                 std::vector<std::uint8_t>& image, int& code) {
    TrackRows rows(loaded.image, loaded.MidiInfo, [] {});
    code = loadAndEdit(file, edits, rows);
    if (code != 0) return false;
    image = imageBytes();
    return true;
}

bool makeStems(const std::string& file, const std::vector<Edit>& edits,
               const std::string& extension, bool quiet, std::vector<Stem>& stems, int& code) {
    // What a load has to say was said once already; the reloads repeat it.
    const auto said = setMessageBoxHandler([](const Message&) {});
    if (!quiet) setMessageBoxHandler(said);
    TrackRows mix(loaded.image, loaded.MidiInfo, [] {});
    code = loadAndEdit(file, edits, mix);
    setMessageBoxHandler([](const Message&) {});
    struct Restore {
        MessageBoxHandler handler;
        ~Restore() { setMessageBoxHandler(handler); }
    } restore{said};
    if (code != 0) return false;
    std::vector<int> audible;
    for (int r = 0; r < mix.count(); ++r)
        if (!mix.row(r).muted()) audible.push_back(r);
    std::vector<std::string> names;
    for (const int r : audible)
        names.push_back(rowNumber(r, mix.count()) + "-" + safeFileName(mix.row(r).name) + "." +
                        extension);

    for (std::size_t k = 0; k < audible.size(); ++k) {
        // Each stem starts again from the file, so every one sees the same
        // edits; the others' On boxes are enabled since no solo is held
        // whenever more than one track is audible.
        TrackRows rows(loaded.image, loaded.MidiInfo, [] {});
        if ((code = loadAndEdit(file, edits, rows)) != 0) return false;
        for (const int other : audible)
            if (other != audible[k]) rows.clickOn(other);
        stems.push_back({names[k], imageBytes()});
    }
    return true;
}

}  // namespace lirno::cli
