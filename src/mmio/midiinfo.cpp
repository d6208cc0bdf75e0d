#include "mmio/midiinfo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "midi/bytes.h"
#include "midi/vocabulary.h"
#include "mmio/bytes.h"
#include "mmio/message.h"
#include "mmio/scanner.h"

namespace lirno {

FileImage FileImage::fromBytes(const std::vector<std::uint8_t>& bytes) {
    FileImage image;
    image.pFileBuf.resize(bytes.size() + kSpareBytes);
    if (!bytes.empty()) std::memcpy(image.pFileBuf.data(), bytes.data(), bytes.size());
    image.dwFileBufSize = static_cast<std::uint32_t>(bytes.size());
    return image;
}

namespace {

constexpr std::uint32_t kHeaderSize = 14;
constexpr std::uint32_t kChunkHeaderSize = 8;

// The "one channel, one value" rule: NOT_SEEN takes the first value seen, a
// different later value makes it MIXED.
void merge(std::uint8_t& field, int seen) {
    if (field == NOT_SEEN)
        field = static_cast<std::uint8_t>(seen);
    else if (field != seen)
        field = MIXED;
}

void reportScanError(int track, const std::uint8_t* image, const std::uint8_t* event,
                     const std::uint8_t* end) {
    std::uint8_t word[4] = {};  // bytes past the image read as 0
    std::copy(event, event + std::clamp<std::ptrdiff_t>(end - event, 0, 4), word);
    const std::uint32_t found = midi::readBE32(word);
    char text[96];
    std::snprintf(text, sizeof text, "Track %d Error Pos %04lX\n%08lX", track,
                  static_cast<unsigned long>(event - image), static_cast<unsigned long>(found));
    MessageBox(Owner::Main, text, "Test", Icon::Exclamation);
}

// Walks one track's data in the image, filling t and zeroing Note-Off
// velocities in place.
void analyseTrack(int i, std::uint8_t* image, const std::uint8_t* imageEnd, std::uint8_t* data,
                  const std::uint8_t* trackEnd, TrackInfo& t) {
    char text[kEventTextSize];
    int value = 0, channel = 0;
    std::uint8_t* p = data;
    bool ok = true;
    startTrack();
    while (ok && p < trackEnd) {
        std::uint8_t* event = p;
        const int code = getevent(p, imageEnd, text, value, channel);
        switch (code) {
            case kEvEndOfTrack:
                ok = false;
                break;
            case kEvNoteOff:
            case kEvNoteOn:
            case kEvProgram:
                merge(t.channel, channel);
                if (code == kEvProgram && t.program == NOT_SEEN)
                    t.program = static_cast<std::uint8_t>(value);
                // An event running past its chunk must not patch the next chunk's header.
                if (code == kEvNoteOff && p <= trackEnd) p[-1] = 0;
                break;
            case kEvVolume:
                merge(t.volume, value);
                break;
            case kEvBalance:
                merge(t.balance, value);
                break;
            case kEvName:
                std::memcpy(t.name, text, sizeof t.name);
                t.name[sizeof t.name - 1] = '\0';
                break;
            case kEvError:
                reportScanError(i, image, event, imageEnd);
                p = nullptr;
                ok = false;
                break;
            default:
                break;
        }
    }
    if (p != trackEnd) MessageBox(Owner::Main, "Ptr error", "Test", Icon::Exclamation);
}

// The default pan and volume events a single-channel track lacks.
std::uint32_t insertDefaults(const TrackInfo& t, std::uint8_t* out) {
    const auto status = static_cast<std::uint8_t>(midi::kControlChange | t.channel);
    std::uint32_t n = 0;
    if (t.balance == NOT_SEEN) {
        const std::uint8_t pan[] = {0x00, status, midi::cc::kPan, 0x40};
        std::memcpy(out + n, pan, 4);
        n += 4;
    }
    if (t.volume == NOT_SEEN) {
        const std::uint8_t vol[] = {0x00, status, midi::cc::kVolume, 0x7F};
        std::memcpy(out + n, vol, 4);
        n += 4;
    }
    return n;
}

// The block grows to hold the normalised image, and a scratch copy is made
// of its size; false (after a message) when there is no memory for them.
bool makeRoom(FileImage& image, std::vector<std::uint8_t>& scratch) {
    try {
        scratch.resize(std::size_t{image.dwFileBufSize} + kSpareBytes);
        if (image.pFileBuf.size() < scratch.size()) image.pFileBuf.resize(scratch.size());
    } catch (const std::bad_alloc&) {
        image.dwFileBufSize = 0;
        MessageBox(Owner::None, "GlobalAlloc failed!");
        return false;
    }
    return true;
}

// Takes the header's fields; false when the file is none the model plays or
// holds more tracks than it lists.
bool readHeader(const std::uint8_t* img, std::uint32_t size, MidiInfo& info) {
    if (size < kHeaderSize || std::memcmp(img, "MThd", 4) != 0 || img[7] != 6 || img[9] > 2)
        return false;
    info = MidiInfo{};
    info.format = img[9];
    info.nTracks = static_cast<std::uint16_t>(getword(img + 10));
    info.division = static_cast<std::uint16_t>(getword(img + 12));
    if (info.nTracks > kMaxTracks) {
        char text[80];
        std::snprintf(text, sizeof text, "Sorry: %d tracks > %d (Maximum in this version)",
                      info.nTracks, kMaxTracks);
        MessageBox(Owner::Main, text, {}, Icon::Exclamation);
        return false;
    }
    return true;
}

// Where the walk over the image's track chunks stands: `pos` in the image,
// `out` in the normalised copy.
struct TrackWalk {
    std::uint8_t* img;
    const std::uint8_t* end;
    std::uint8_t* pos;
    std::uint8_t* out;
};

// Analyses file track i and copies it to the normalised image with the
// defaults it lacks. A chunk that is not a track, or that runs past the
// image, ends the analysis: false then.
bool normaliseTrack(int i, TrackWalk& w, MidiInfo& info) {
    if (static_cast<std::uint32_t>(w.end - w.pos) < kChunkHeaderSize ||
        std::memcmp(w.pos, "MTrk", 4) != 0)
        return false;
    const std::uint32_t size = getdword(w.pos + 4);
    std::uint8_t* data = w.pos + kChunkHeaderSize;
    if (size > static_cast<std::uint32_t>(w.end - data)) return false;

    TrackInfo& t = info.track[i];
    t.size = size;
    t.program = t.volume = t.balance = t.channel = NOT_SEEN;
    analyseTrack(i, w.img, w.end, data, data + size, t);

    std::uint8_t* header = w.out;
    std::memcpy(header, w.pos, kChunkHeaderSize);
    w.out += kChunkHeaderSize;
    const std::uint32_t inserted = t.channel < midi::kChannels ? insertDefaults(t, w.out) : 0;
    w.out += inserted;
    setdword(header + 4, size + inserted);
    std::memcpy(w.out, data, size);
    w.out += size;
    t.size = size + inserted;
    if (t.channel != NOT_SEEN) info.trackIndex[info.nViewTracks++] = i;
    w.pos = data + size;
    return true;
}

}  // namespace

int readmidiinfo(FileImage& image, MidiInfo& info) {
    const std::uint32_t oldSize = image.dwFileBufSize;
    std::vector<std::uint8_t> scratch;
    if (!makeRoom(image, scratch)) return 0;
    std::uint8_t* img = image.data();
    if (!readHeader(img, oldSize, info)) return 0;

    std::memcpy(scratch.data(), img, kHeaderSize);
    TrackWalk w{img, img + oldSize, img + kHeaderSize, scratch.data() + kHeaderSize};
    for (int i = 0; i < info.nTracks; ++i) {
        if (!normaliseTrack(i, w, info)) return 0;
    }
    // Whatever follows the last declared chunk is carried over unchanged.
    const auto rest = static_cast<std::size_t>(w.end - w.pos);
    std::memcpy(w.out, w.pos, rest);
    w.out += rest;

    image.dwFileBufSize = static_cast<std::uint32_t>(w.out - scratch.data());
    std::memcpy(img, scratch.data(), image.dwFileBufSize);
    return 1;
}

const char* getmidiformat(const MidiInfo& info) {
    switch (info.format) {
        case 0:
            return "Single track midi";
        case 1:
            return "Multitrack midi";
        case 2:
            return "Multitrack asynch-midi";
        default:
            return nullptr;
    }
}

int getnumtracks(const MidiInfo& info) {
    return info.nViewTracks;
}

int getticks(const MidiInfo& info) {
    return info.division;
}

namespace {
const TrackInfo& listed(const MidiInfo& info, int n) {
    return info.track[static_cast<std::size_t>(info.trackIndex[static_cast<std::size_t>(n)])];
}
}  // namespace

std::uint32_t gettracksize(const MidiInfo& info, int n) {
    return listed(info, n).size;
}

int getvol(const MidiInfo& info, int n) {
    const int v = listed(info, n).volume;
    return v >= 128 ? 127 : v;
}

int getbal(const MidiInfo& info, int n) {
    const int v = listed(info, n).balance;
    return v >= 128 ? 64 : v;
}

const char* gettrackname(const MidiInfo& info, int n) {
    return listed(info, n).name;
}

int getinstr(const MidiInfo& info, int n) {
    const TrackInfo& t = listed(info, n);
    if (t.channel == MIXED) return kInstrMixed;
    if (t.channel == midi::kDrumChannel) return kInstrDrums;
    if (t.channel == NOT_SEEN) return kInstrNoProgram;
    if (t.program < 128) return t.program;
    if (t.program == NOT_SEEN) return kInstrNoProgram;
    return kInstrBadProgram;
}

}  // namespace lirno
