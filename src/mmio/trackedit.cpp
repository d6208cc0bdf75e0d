#include "mmio/trackedit.h"

#include <algorithm>
#include <new>

#include "midi/vocabulary.h"
#include "mmio/bytes.h"
#include "mmio/message.h"
#include "mmio/playfile.h"
#include "mmio/scanner.h"

namespace lirno {

namespace {

constexpr std::uint32_t kHeaderSize = 14;
constexpr std::uint32_t kChunkHeaderSize = 8;
constexpr std::size_t kMaxNameLength = 255;

struct Chunk {
    std::uint8_t* start = nullptr;  // the chunk header
    std::uint8_t* data = nullptr;
    std::uint8_t* end = nullptr;  // one past the data
};

// The chunk at pos, or nothing when its header or data runs past the image.
bool chunkAt(std::uint8_t* pos, const std::uint8_t* imageEnd, Chunk& c) {
    if (pos > imageEnd || static_cast<std::size_t>(imageEnd - pos) < kChunkHeaderSize) return false;
    const std::uint32_t len = getdword(pos + 4);
    if (len > static_cast<std::size_t>(imageEnd - pos) - kChunkHeaderSize) return false;
    c = {pos, pos + kChunkHeaderSize, pos + kChunkHeaderSize + len};
    return true;
}

// Steps over fileTrack chunks from the first; identifiers are not examined.
bool locateTrack(FileImage& image, int fileTrack, Chunk& c) {
    if (fileTrack < 0 || image.dwFileBufSize < kHeaderSize) return false;
    std::uint8_t* pos = image.data() + kHeaderSize;
    for (int k = 0; k <= fileTrack; ++k) {
        if (!chunkAt(pos, image.end(), c)) return false;
        pos = c.end;
    }
    return true;
}

}  // namespace

int settrack(FileImage& image, int fileTrack, std::uint8_t kind, std::uint8_t value) {
    Chunk c;
    std::uint8_t* p = nullptr;
    if (locateTrack(image, fileTrack, c)) {
        const bool notes = kind == midi::kNoteOff || kind == midi::kNoteOn;
        char text[kEventTextSize];
        int v = 0, channel = 0;
        p = c.data;
        startTrack();
        while (p < c.end) {
            const int code = getevent(p, image.end(), text, v, channel);
            if (code == kEvEndOfTrack) break;
            if (p > c.end) break;  // never patch beyond the chunk
            if (notes && (code == kEvNoteOff || code == kEvNoteOn) && text[0] != 1)
                p[-3] = static_cast<std::uint8_t>(
                    (code == kEvNoteOff ? midi::kNoteOn : midi::kNoteOff) | midi::channelOf(p[-3]));
            else if (!notes && code == kind)
                p[-1] = value;
        }
    }
    if (p && p == c.end) return 1;
    MessageBox(Owner::Main, "Error setting track", "Test", Icon::Exclamation);
    return 0;
}

namespace {

// Where a track's first name event keeps its length and text.
struct NameEvent {
    std::uint8_t* lengthStart = nullptr;
    std::uint8_t* textStart = nullptr;
    std::uint8_t* textEnd = nullptr;
};

bool findName(const Chunk& c, const std::uint8_t* imageEnd, NameEvent& found) {
    char text[kEventTextSize];
    int value = 0, channel = 0;
    std::uint8_t* p = c.data;
    startTrack();
    while (p < c.end) {
        std::uint8_t* event = p;
        const int code = getevent(p, imageEnd, text, value, channel);
        if (code == kEvEndOfTrack || p > c.end) return false;
        if (code != kEvName) continue;
        // delta time, the status byte unless under running status, the type 03, the length
        std::uint8_t* q = event;
        while (*q & 0x80) ++q;
        ++q;
        if (*q == midi::kMeta) ++q;
        ++q;
        const Vlq len = readVlq(q, p);
        found = {q, q + len.bytes, p};
        return true;
    }
    return false;
}

void append(std::vector<std::uint8_t>& out, const std::uint8_t* from, const std::uint8_t* to) {
    out.insert(out.end(), from, to);
}

void appendNameTrack(std::vector<std::uint8_t>& out, const Chunk& c, const std::uint8_t* imageEnd,
                     const std::string& name) {
    std::uint8_t vlq[4];
    const auto nameLen = static_cast<std::uint32_t>(name.size());
    const std::size_t vlqLen = writeVlq(vlq, nameLen);
    const auto* nameBytes = reinterpret_cast<const std::uint8_t*>(name.data());

    const std::size_t header = out.size();
    append(out, c.start, c.data);
    NameEvent ev;
    if (findName(c, imageEnd, ev)) {
        append(out, c.data, ev.lengthStart);
        append(out, vlq, vlq + vlqLen);
        append(out, nameBytes, nameBytes + nameLen);
        append(out, ev.textEnd, c.end);
    } else {
        const std::uint8_t event[] = {0x00, midi::kMeta, midi::meta::kTrackName};
        append(out, event, event + 3);
        append(out, vlq, vlq + vlqLen);
        append(out, nameBytes, nameBytes + nameLen);
        append(out, c.data, c.end);
    }
    setdword(out.data() + header + 4,
             static_cast<std::uint32_t>(out.size() - header - kChunkHeaderSize));
}

// The saved file's bytes from an image whose muted tracks were made audible.
bool buildSaved(FileImage& image, const MidiInfo& info, const RowSource& rows,
                std::vector<std::uint8_t>& out) {
    const int nView = std::min<int>(info.nViewTracks, kMaxTracks);
    std::size_t names = 0;
    for (int n = 0; n < nView; ++n) names += std::min(rows.nameText(n).size(), kMaxNameLength);
    try {
        out.reserve(image.dwFileBufSize + names + 8 * std::size_t(nView));
    } catch (const std::bad_alloc&) {
        MessageBox(Owner::None, "SaveBuff: GlobalAlloc failed!");
        return false;
    }
    const std::uint8_t* end = image.end();
    const std::uint32_t head = std::min(image.dwFileBufSize, kHeaderSize);
    append(out, image.data(), image.data() + head);

    std::uint8_t* pos = image.data() + head;
    int n = 0;
    for (int i = 0; i < std::min<int>(info.nTracks, kMaxTracks); ++i) {
        Chunk c;
        if (!chunkAt(pos, end, c)) break;  // the rest is carried over as it stands
        if (info.track[i].channel == NOT_SEEN || n >= nView) {
            append(out, c.start, c.end);
        } else {
            std::string name = rows.nameText(n++);
            if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
            appendNameTrack(out, c, end, name);
        }
        pos = c.end;
    }
    append(out, pos, end);
    return true;
}

}  // namespace

int writemidiinfo(const std::string& fileName, FileImage& image, const MidiInfo& info,
                  const RowSource& rows) {
    const int nView = std::min<int>(info.nViewTracks, kMaxTracks);
    auto toggleMuted = [&] {
        for (int n = 0; n < nView; ++n)
            if (!rows.isOnEnabled(n) || !rows.isOnChecked(n))
                settrack(image, info.trackIndex[static_cast<std::size_t>(n)], kEditNotes, 0);
    };
    toggleMuted();  // every note audible in the saved file
    std::vector<std::uint8_t> out;
    int result = 0;
    if (buildSaved(image, info, rows, out)) result = settmp(fileName, out.data(), out.size());
    toggleMuted();
    return result;
}

}  // namespace lirno
