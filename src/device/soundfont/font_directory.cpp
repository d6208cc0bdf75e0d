#include "device/soundfont/font_directory.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "device/soundfont/little_endian.h"

namespace lirno::device {

namespace {

using sf2::Generator;
using sf2::InstrumentHeader;
using sf2::Level;
using sf2::LevelIds;
using sf2::PresetHeader;
using sf2::SampleHeader;

// A directory larger than this is not a General MIDI font's (FluidR3's: 200 KB).
constexpr std::uint32_t kMaxDirectory = 64u << 20;
constexpr std::size_t kChunkHeader = 8;  // id, size: what a chunk's size leaves out
constexpr std::size_t kListHeader = 12;  // "LIST", size, type; likewise "RIFF", size, "sfbk"

bool isId(const std::uint8_t* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}

// The directory list: where it starts in the file, and its chunks.
struct DirectoryList {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> chunks;
};

bool readAt(std::ifstream& in, std::uint64_t pos, std::uint8_t* to, std::size_t count) {
    in.seekg(static_cast<std::streamoff>(pos));
    const auto n = static_cast<std::streamsize>(count);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(to), n));
}

// The list `want` at `pos`: its size, when it is there and within the file.
std::optional<std::uint32_t> listAt(std::ifstream& in, std::uint64_t pos, std::uint64_t fileSize,
                                    const char* want) {
    std::array<std::uint8_t, kListHeader> head{};
    if (pos + kListHeader > fileSize || !readAt(in, pos, head.data(), head.size())) {
        return std::nullopt;
    }
    const std::uint32_t size = readLE32(head.data() + 4);
    if (!isId(head.data(), "LIST") || !isId(head.data() + 8, want) || size < 4 ||
        pos + kChunkHeader + size > fileSize) {
        return std::nullopt;
    }
    return size;
}

// FluidSynth reads INFO, sdta and pdta in this order and wants the RIFF size
// to be the file's; the directory must be the last list, since a subset
// replaces everything from it on.
std::optional<DirectoryList> readDirectoryList(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    in.seekg(0, std::ios::end);
    const auto fileSize = static_cast<std::uint64_t>(in.tellg());
    std::array<std::uint8_t, kListHeader> head{};
    if (fileSize < kListHeader || !readAt(in, 0, head.data(), head.size())) return std::nullopt;
    if (!isId(head.data(), "RIFF") || !isId(head.data() + 8, "sfbk") ||
        readLE32(head.data() + 4) + std::uint64_t{kChunkHeader} != fileSize) {
        return std::nullopt;
    }
    std::uint64_t pos = kListHeader;
    for (const char* want : {"INFO", "sdta"}) {
        const auto size = listAt(in, pos, fileSize, want);
        if (!size) return std::nullopt;
        pos += kChunkHeader + *size;  // no pad byte after an odd size: FluidSynth reads on at once
    }
    const auto size = listAt(in, pos, fileSize, "pdta");
    if (!size || pos + kChunkHeader + *size != fileSize || *size > kMaxDirectory)
        return std::nullopt;
    DirectoryList list{pos, std::vector<std::uint8_t>(*size - 4)};
    if (!readAt(in, pos + kListHeader, list.chunks.data(), list.chunks.size())) return std::nullopt;
    return list;
}

// The directory's chunks one after the other, each a whole number of records.
class ChunkReader {
  public:
    explicit ChunkReader(const std::vector<std::uint8_t>& chunks) : chunks_(chunks) {}

    template <typename Record>
    bool next(const char* id, std::vector<Record>& out) {
        if (at_ + kChunkHeader > chunks_.size() || !isId(chunks_.data() + at_, id)) return false;
        const std::uint32_t size = readLE32(chunks_.data() + at_ + 4);
        if (size == 0 || size % Record::kSize != 0 || size > chunks_.size() - at_ - kChunkHeader) {
            return false;
        }
        at_ += kChunkHeader;
        for (const std::size_t end = at_ + size; at_ < end; at_ += Record::kSize) {
            out.push_back(sf2::readRecord<Record>(chunks_.data() + at_));
        }
        return true;
    }
    template <typename Header>
    bool level(const LevelIds& ids, Level<Header>& level) {
        return next(ids.headers, level.headers) && next(ids.bags, level.bags) &&
               next(ids.mods, level.mods) && next(ids.gens, level.gens);
    }

  private:
    const std::vector<std::uint8_t>& chunks_;
    std::size_t at_ = 0;
};

class ChunkWriter {
  public:
    template <typename Record>
    void chunk(const char* id, const std::vector<Record>& records) {
        out_.insert(out_.end(), id, id + 4);
        std::uint8_t size[4];
        writeLE32(size, static_cast<std::uint32_t>(records.size() * Record::kSize));
        out_.insert(out_.end(), size, size + 4);
        for (const Record& r : records) sf2::writeRecord(r, out_);
    }
    template <typename Header>
    void level(const LevelIds& ids, const Level<Header>& level) {
        chunk(ids.headers, level.headers);
        chunk(ids.bags, level.bags);
        chunk(ids.mods, level.mods);
        chunk(ids.gens, level.gens);
    }
    std::vector<std::uint8_t> list(const char* type) const {
        std::vector<std::uint8_t> l{'L', 'I', 'S', 'T', 0, 0, 0, 0};
        writeLE32(l.data() + 4, static_cast<std::uint32_t>(out_.size() + 4));
        l.insert(l.end(), type, type + 4);
        l.insert(l.end(), out_.begin(), out_.end());
        return l;
    }

  private:
    std::vector<std::uint8_t> out_;
};

struct KeyVelRange {
    int keyLo = 0, keyHi = 127, velLo = 0, velHi = 127;
};

// A zone's ranges as FluidSynth reads them: a key range only as its first
// generator, a velocity range only first or right after the key range.
KeyVelRange rangeOf(std::span<const Generator> gens) {
    KeyVelRange r;
    if (!gens.empty() && gens.front().oper == sf2::gen::kKeyRange) {
        r.keyLo = gens.front().rangeLo();
        r.keyHi = gens.front().rangeHi();
        gens = gens.subspan(1);
    }
    if (!gens.empty() && gens.front().oper == sf2::gen::kVelRange) {
        r.velLo = gens.front().rangeLo();
        r.velHi = gens.front().rangeHi();
    }
    return r;
}

// The notes of `notes` inside `r` (a range past 127, in a damaged font,
// takes in every note above its start).
NoteSet within(const NoteSet& notes, const KeyVelRange& r) {
    NoteSet out;
    std::bitset<128> vel;
    for (int v = r.velLo; v <= std::min(r.velHi, 127); ++v) vel.set(static_cast<std::size_t>(v));
    for (int k = r.keyLo; k <= std::min(r.keyHi, 127); ++k) {
        out.keys[static_cast<std::size_t>(k)] = notes.keys[static_cast<std::size_t>(k)] & vel;
    }
    return out;
}

// The notes of `notes` that zone z plays.
template <typename Header>
NoteSet zoneNotes(const Level<Header>& level, std::size_t z, const NoteSet& notes) {
    return within(notes, rangeOf(level.gensOf(z)));
}

// Records of the file numbered anew in the order the cut first uses them.
struct Renumbering {
    std::map<std::size_t, std::size_t> number;  // by the file's index
    std::vector<std::size_t> order;             // the file's index, by new number
    std::uint16_t operator()(std::size_t i) {
        const auto [it, added] = number.emplace(i, order.size());
        if (added) order.push_back(i);
        return static_cast<std::uint16_t>(it->second);
    }
};

// The presets asked for, in the file's order (FluidSynth's choice among
// duplicates follows it), with the zones some note falls in; and in
// `instNotes`, what each instrument they use must play.
Level<PresetHeader> cutPresets(const Level<PresetHeader>& from, const PresetNotes& played,
                               Renumbering& instNo, std::map<std::size_t, NoteSet>& instNotes) {
    Level<PresetHeader> cut(from.target);
    for (std::size_t h = 0; h + 1 < from.headers.size(); ++h) {
        const auto it = played.find(PresetRef{from.headers[h].bank, from.headers[h].preset});
        if (it == played.end()) continue;
        cut.addHeader(from.headers[h]);
        const bool prune = from.prunable(h);
        for (std::size_t z = from.firstZone(h); z < from.endZone(h); ++z) {
            const auto inst = from.targetOf(z);
            const NoteSet notes = inst ? zoneNotes(from, z, it->second) : NoteSet{};
            if (inst && prune && notes.none()) continue;
            cut.copyZone(from, z, instNo);
            if (inst) instNotes[*inst] |= prune ? notes : it->second;
        }
    }
    cut.close(from);
    return cut;
}

// The instruments the cut presets use, in the order first used, with the
// zones some of their notes fall in; their samples numbered as they use them.
Level<InstrumentHeader> cutInstruments(const Level<InstrumentHeader>& from,
                                       const Renumbering& instNo,
                                       const std::map<std::size_t, NoteSet>& instNotes,
                                       Renumbering& sampleNo) {
    Level<InstrumentHeader> cut(from.target);
    const NoteSet none;
    for (const std::size_t i : instNo.order) {
        cut.addHeader(from.headers[i]);
        // A zone with two targets numbers an instrument no note was given to.
        const auto given = instNotes.find(i);
        const NoteSet& notes = given != instNotes.end() ? given->second : none;
        const bool prune = from.prunable(i);
        for (std::size_t z = from.firstZone(i); z < from.endZone(i); ++z) {
            if (prune && from.targetOf(z) && zoneNotes(from, z, notes).none()) continue;
            cut.copyZone(from, z, sampleNo);
        }
    }
    cut.close(from);
    return cut;
}

// The samples the cut instruments play, and a stereo sample's partner (its
// header only: FluidSynth reads the data of the samples zones play), their
// links renumbered.
std::vector<SampleHeader> cutSamples(const std::vector<SampleHeader>& from, Renumbering& sampleNo) {
    const auto partnered = [](const SampleHeader& s) {
        return (s.type & sf2::kPartneredSample) != 0;
    };
    // The order grows as it is walked: partners' partners come too.
    for (std::size_t n = 0; n < sampleNo.order.size(); ++n) {
        const SampleHeader& s = from[sampleNo.order[n]];
        if (partnered(s) && s.link + 1u < from.size()) sampleNo(s.link);
    }
    std::vector<SampleHeader> cut;
    for (const std::size_t i : sampleNo.order) {
        SampleHeader s = from[i];
        const auto partner = sampleNo.number.find(s.link);
        const bool kept = partnered(s) && partner != sampleNo.number.end();
        s.link = kept ? static_cast<std::uint16_t>(partner->second) : 0;
        cut.push_back(s);
    }
    cut.push_back(from.back());
    return cut;
}

}  // namespace

std::optional<FontIndex> FontIndex::read(const std::string& path) {
    const auto list = readDirectoryList(path);
    if (!list) return std::nullopt;
    FontIndex index;
    index.path_ = path;
    index.directoryOffset_ = list->offset;
    ChunkReader chunks(list->chunks);
    if (!chunks.level(sf2::kPresetIds, index.presets_) ||
        !chunks.level(sf2::kInstrumentIds, index.instruments_) ||
        !chunks.next("shdr", index.samples_)) {
        return std::nullopt;
    }
    if (!index.presets_.holds(index.instruments_.headers.size()) ||
        !index.instruments_.holds(index.samples_.size())) {
        return std::nullopt;
    }
    return index;
}

bool FontIndex::has(PresetRef p) const {
    const auto& headers = presets_.headers;
    for (std::size_t h = 0; h + 1 < headers.size(); ++h) {
        if (headers[h].preset == p.program && headers[h].bank == p.bank) return true;
    }
    return false;
}

std::vector<std::uint8_t> FontIndex::subset(const PresetNotes& played) const {
    Renumbering instNo, sampleNo;
    std::map<std::size_t, NoteSet> instNotes;
    const Level<PresetHeader> presets = cutPresets(presets_, played, instNo, instNotes);
    const Level<InstrumentHeader> instruments =
        cutInstruments(instruments_, instNo, instNotes, sampleNo);
    ChunkWriter w;
    w.level(sf2::kPresetIds, presets);
    w.level(sf2::kInstrumentIds, instruments);
    w.chunk("shdr", cutSamples(samples_, sampleNo));
    return w.list("pdta");
}

}  // namespace lirno::device
