#include "mmio/recordtrack.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "midi/vocabulary.h"
#include "mmio/bytes.h"
#include "mmio/message.h"
#include "mmio/scanner.h"

namespace lirno {

namespace {

constexpr std::uint32_t kHeaderSize = 14;
constexpr std::uint32_t kChunkHeaderSize = 8;
constexpr std::string_view kRecordedPrefix = "Recorded ";
constexpr std::uint8_t kEndOfTrack[] = {0x00, midi::kMeta, midi::meta::kEndOfTrack, 0x00};

// Where the image's track chunks lie: the offset of each chunk's header,
// then the end of the last one.
std::optional<std::vector<std::uint32_t>> chunkOffsets(const FileImage& image, int count) {
    if (image.dwFileBufSize < kHeaderSize) return std::nullopt;
    std::vector<std::uint32_t> at{kHeaderSize};
    for (int i = 0; i < count; ++i) {
        const std::uint32_t pos = at.back();
        if (image.dwFileBufSize - pos < kChunkHeaderSize ||
            std::memcmp(image.data() + pos, "MTrk", 4) != 0)
            return std::nullopt;
        const std::uint32_t size = getdword(image.data() + pos + 4);
        if (size > image.dwFileBufSize - pos - kChunkHeaderSize) return std::nullopt;
        at.push_back(pos + kChunkHeaderSize + size);
    }
    return at;
}

// Whether info is the analysis of this image as it stands: a rejected file
// or one edited behind the analysis' back takes no new track.
std::optional<std::vector<std::uint32_t>> analysedChunks(const FileImage& image,
                                                         const MidiInfo& info) {
    const std::uint8_t* img = image.data();
    if (image.dwFileBufSize < kHeaderSize || std::memcmp(img, "MThd", 4) != 0 ||
        getword(img + 8) != info.format || getword(img + 10) != info.nTracks)
        return std::nullopt;
    auto at = chunkOffsets(image, info.nTracks);
    if (!at) return std::nullopt;
    for (std::size_t i = 0; i < info.nTracks; ++i) {
        if ((*at)[i + 1] - (*at)[i] - kChunkHeaderSize != info.track[i].size) return std::nullopt;
    }
    return at;
}

void setword(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

void append(std::vector<std::uint8_t>& out, const std::uint8_t* from, const std::uint8_t* to) {
    out.insert(out.end(), from, to);
}

void appendVlq(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t buf[5];
    append(out, buf, buf + midi::writeVlq(buf, value));
}

// The image with the track chunk [from, to) replaced by `chunkData` as a
// chunk, or taken out when there is none.
std::vector<std::uint8_t> spliced(const FileImage& image, std::uint32_t from, std::uint32_t to,
                                  const std::vector<std::uint8_t>* chunkData) {
    std::vector<std::uint8_t> out;
    out.reserve(image.dwFileBufSize + (chunkData ? chunkData->size() + kChunkHeaderSize : 0));
    append(out, image.data(), image.data() + from);
    if (chunkData) {
        const std::uint8_t header[] = {'M', 'T', 'r', 'k', 0, 0, 0, 0};
        append(out, header, header + kChunkHeaderSize);
        setdword(out.data() + out.size() - 4, static_cast<std::uint32_t>(chunkData->size()));
        append(out, chunkData->data(), chunkData->data() + chunkData->size());
    }
    append(out, image.data() + to, image.end());
    return out;
}

// What the analysis finds wrong with the song was said when it was read:
// said again in the middle of an edit, each box would run its own loop there.
class HeldBack {
  public:
    HeldBack() : shown_(setMessageBoxHandler([](const Message&) {})) {}
    ~HeldBack() { setMessageBoxHandler(std::move(shown_)); }
    HeldBack(const HeldBack&) = delete;
    HeldBack& operator=(const HeldBack&) = delete;

  private:
    MessageBoxHandler shown_;
};

// Analyses the grown image again. The tracks before `keep` were analysed
// already; the analysis would only zero the velocities of their Note-Offs
// again, and on a muted track those are its silenced Note-Ons: their bytes
// are kept as they were.
bool reanalyse(FileImage& image, MidiInfo& info, std::uint32_t keep) {
    const std::vector<std::uint8_t> before(image.data(), image.data() + keep);
    const std::uint32_t size = image.dwFileBufSize;
    MidiInfo fresh;
    if (HeldBack quiet; readmidiinfo(image, fresh) != 1) return false;
    if (image.dwFileBufSize == size)
        std::memcpy(image.data() + kHeaderSize, before.data() + kHeaderSize, keep - kHeaderSize);
    info = fresh;
    return true;
}

// The data of an empty recorded track: what the analysis would insert is
// there already, so that it inserts nothing.
std::vector<std::uint8_t> emptyTrack(const std::string& name, int channel) {
    const auto ch = static_cast<std::uint8_t>(channel & 0x0F);
    std::vector<std::uint8_t> d{0x00, midi::kMeta, midi::meta::kTrackName};
    const std::size_t length = std::min<std::size_t>(name.size(), kEventTextSize - 1);
    appendVlq(d, static_cast<std::uint32_t>(length));
    d.insert(d.end(), name.begin(), name.begin() + static_cast<long>(length));
    const std::uint8_t events[] = {
        0x00,
        static_cast<std::uint8_t>(midi::kProgramChange | ch),
        0x00,
        0x00,
        static_cast<std::uint8_t>(midi::kControlChange | ch),
        midi::cc::kVolume,
        0x7F,
        0x00,
        static_cast<std::uint8_t>(midi::kControlChange | ch),
        midi::cc::kPan,
        0x40,
    };
    append(d, std::begin(events), std::end(events));
    append(d, std::begin(kEndOfTrack), std::end(kEndOfTrack));
    return d;
}

// The end of the track's leading delta-0 events (before its End of Track),
// or nothing when the track cannot be read.
std::optional<std::uint8_t*> leadingEnd(FileImage& image, std::uint8_t* data, std::uint8_t* end) {
    char text[kEventTextSize];
    int value = 0, channel = 0;
    startTrack();
    for (std::uint8_t* p = data; p < end;) {
        std::uint8_t* event = p;
        if (*event != 0) return event;
        const int code = getevent(p, image.end(), text, value, channel);
        if (code == kEvEndOfTrack) return event;
        if (code == kEvError || p > end) return std::nullopt;
    }
    return end;
}

void appendEvents(std::vector<std::uint8_t>& d, std::span<const device::RecordedEvent> events) {
    std::uint32_t last = 0;
    for (const auto& e : events) {
        if (!midi::isChannelStatus(e.status)) continue;
        appendVlq(d, e.tick - last);
        last = e.tick;
        // Every event with its own status byte: muting flips only those.
        d.push_back(e.status);
        d.push_back(e.data1 & 0x7F);
        if (midi::dataBytes(e.status) == 2) d.push_back(e.data2 & 0x7F);
    }
}

// Whether fileTrack is the analysed image's last track chunk; its offsets.
std::optional<std::vector<std::uint32_t>> lastChunk(const FileImage& image, const MidiInfo& info,
                                                    int fileTrack) {
    if (fileTrack < 0 || fileTrack + 1 != info.nTracks) return std::nullopt;
    return analysedChunks(image, info);
}

}  // namespace

int recordChannel(const MidiInfo& info) {
    bool used[midi::kChannels] = {};
    for (std::size_t i = 0; i < info.nTracks && i < info.track.size(); ++i) {
        const std::uint8_t c = info.track[i].channel;
        // A track on several channels may use any of them (a song of format 0).
        if (c == MIXED) return midi::kChannels - 1;
        if (c < midi::kChannels) used[c] = true;
    }
    // The drum channel would play the chosen instrument as drums.
    for (int c = 0; c < midi::kChannels; ++c) {
        if (!used[c] && c != midi::kDrumChannel) return c;
    }
    return midi::kChannels - 1;
}

std::string nextRecordedName(const MidiInfo& info) {
    int highest = 0;
    for (std::size_t i = 0; i < info.nTracks && i < info.track.size(); ++i) {
        const std::string_view name = info.track[i].name;
        if (!name.starts_with(kRecordedPrefix)) continue;
        const std::string_view digits = name.substr(kRecordedPrefix.size());
        int n = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (ec == std::errc{} && end == digits.data() + digits.size() &&
            n < std::numeric_limits<int>::max())
            highest = std::max(highest, n);
    }
    return std::string(kRecordedPrefix) + std::to_string(highest + 1);
}

int addrecordtrack(FileImage& image, MidiInfo& info, const std::string& name, int channel) {
    // Format 2's tracks play one after another: a recording would follow the song.
    if (info.nTracks >= kMaxTracks || info.format == 2) return -1;
    const auto at = analysedChunks(image, info);
    if (!at) return -1;
    const std::uint32_t end = at->back();
    const std::vector<std::uint8_t> track = emptyTrack(name, channel);
    std::vector<std::uint8_t> bytes = spliced(image, end, end, &track);
    setword(bytes.data() + 10, static_cast<std::uint16_t>(info.nTracks + 1));
    if (info.format == 0) setword(bytes.data() + 8, 1);
    FileImage grown = FileImage::fromBytes(bytes);
    const int fileTrack = info.nTracks;
    if (!reanalyse(grown, info, end)) return -1;
    image = std::move(grown);
    return fileTrack;
}

int fillrecordtrack(FileImage& image, MidiInfo& info, int fileTrack,
                    std::span<const device::RecordedEvent> events) {
    const auto at = lastChunk(image, info, fileTrack);
    if (!at) return 0;
    const std::uint32_t from = (*at)[static_cast<std::size_t>(fileTrack)];
    const std::uint32_t to = at->back();
    std::uint8_t* data = image.data() + from + kChunkHeaderSize;
    const auto lead = leadingEnd(image, data, image.data() + to);
    if (!lead) return 0;
    std::vector<std::uint8_t> track(data, *lead);
    appendEvents(track, events);
    append(track, std::begin(kEndOfTrack), std::end(kEndOfTrack));
    FileImage filled = FileImage::fromBytes(spliced(image, from, to, &track));
    if (!reanalyse(filled, info, from)) return 0;
    image = std::move(filled);
    return 1;
}

int droprecordtrack(FileImage& image, MidiInfo& info, int fileTrack, std::uint16_t formatBefore) {
    const auto at = lastChunk(image, info, fileTrack);
    if (!at) return 0;
    const std::uint32_t from = (*at)[static_cast<std::size_t>(fileTrack)];
    const std::uint32_t to = at->back();
    std::uint8_t* img = image.data();
    std::memmove(img + from, img + to, image.dwFileBufSize - to);
    image.dwFileBufSize -= to - from;
    setword(img + 8, formatBefore);
    setword(img + 10, static_cast<std::uint16_t>(fileTrack));
    // The other tracks' records stand; only the last one goes.
    info.format = formatBefore;
    info.nTracks = static_cast<std::uint16_t>(fileTrack);
    info.track[static_cast<std::size_t>(fileTrack)] = TrackInfo{};
    if (info.nViewTracks > 0 && info.trackIndex[info.nViewTracks - 1u] == fileTrack)
        info.trackIndex[--info.nViewTracks] = 0;
    return 1;
}

}  // namespace lirno
