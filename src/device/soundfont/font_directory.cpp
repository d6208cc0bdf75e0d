#include "device/soundfont/font_directory.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <map>

namespace lirno::device {

namespace {

constexpr std::uint16_t kGenKeyRange = 43;
constexpr std::uint16_t kGenVelRange = 44;
constexpr std::uint16_t kGenInstrument = 41;
constexpr std::uint16_t kGenSampleId = 53;
// A directory larger than this is not a General MIDI font's (FluidR3's: 200 KB).
constexpr std::uint32_t kMaxDirectory = 64u << 20;

std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
void put16(std::uint8_t* p, std::size_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::size_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
bool isId(const std::uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// A bag's first generator and modulator.
std::uint16_t genOf(const std::uint8_t* bag) { return u16(bag); }
std::uint16_t modOf(const std::uint8_t* bag) { return u16(bag + 2); }

// Whether the indices a chunk's records keep at `field` into `next` never go
// back and end, with the terminal record, at `next`'s terminal record.
bool indicesHold(const std::vector<std::uint8_t>& bytes, std::size_t size, std::size_t field,
                 std::size_t nextCount) {
    std::uint16_t last = 0;
    for (std::size_t off = 0; off < bytes.size(); off += size) {
        const std::uint16_t v = u16(bytes.data() + off + field);
        if (v < last) return false;
        last = v;
    }
    return std::size_t{last} + 1 == nextCount;
}

struct KeyVelRange {
    int keyLo = 0, keyHi = 127, velLo = 0, velHi = 127;
};

// A zone's ranges as FluidSynth reads them: a key range only as its first
// generator, a velocity range only first or right after the key range.
KeyVelRange rangeOf(const std::uint8_t* gens, std::size_t first, std::size_t last) {
    KeyVelRange r;
    if (first < last && u16(gens + 4 * first) == kGenKeyRange) {
        r.keyLo = gens[4 * first + 2];
        r.keyHi = gens[4 * first + 3];
        ++first;
    }
    if (first < last && u16(gens + 4 * first) == kGenVelRange) {
        r.velLo = gens[4 * first + 2];
        r.velHi = gens[4 * first + 3];
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

// The generator of `target` (instrument or sample) in a zone, if it has one.
std::optional<std::uint16_t> targetOf(const std::uint8_t* gens, std::size_t first, std::size_t last,
                                      std::uint16_t target) {
    for (std::size_t g = first; g < last; ++g) {
        if (u16(gens + 4 * g) == target) return u16(gens + 4 * g + 2);
    }
    return std::nullopt;
}

class ChunkWriter {
public:
    void chunk(const char* id, const std::vector<std::uint8_t>& data) {
        out_.insert(out_.end(), id, id + 4);
        std::uint8_t size[4];
        put32(size, data.size());
        out_.insert(out_.end(), size, size + 4);
        out_.insert(out_.end(), data.begin(), data.end());
    }
    std::vector<std::uint8_t> list(const char* type) {
        std::vector<std::uint8_t> l{'L', 'I', 'S', 'T', 0, 0, 0, 0};
        put32(l.data() + 4, out_.size() + 4);
        l.insert(l.end(), type, type + 4);
        l.insert(l.end(), out_.begin(), out_.end());
        return l;
    }

private:
    std::vector<std::uint8_t> out_;
};

void append(std::vector<std::uint8_t>& to, const std::uint8_t* record, std::size_t size) {
    to.insert(to.end(), record, record + size);
}

}  // namespace

std::optional<FontIndex> FontIndex::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    in.seekg(0, std::ios::end);
    const auto fileSize = static_cast<std::uint64_t>(in.tellg());
    in.seekg(0);
    std::array<std::uint8_t, 12> head{};
    if (fileSize < 12 || !in.read(reinterpret_cast<char*>(head.data()), 12)) return std::nullopt;
    // FluidSynth reads INFO, sdta and pdta in this order and wants the RIFF
    // size to be the file's; the directory must be the last list, since a
    // subset replaces everything from it on.
    if (!isId(head.data(), "RIFF") || !isId(head.data() + 8, "sfbk") || u32(head.data() + 4) + 8ull != fileSize) {
        return std::nullopt;
    }
    std::uint64_t pos = 12;
    const char* lists[] = {"INFO", "sdta", "pdta"};
    FontIndex index;
    index.path_ = path;
    std::vector<std::uint8_t> directory;
    for (const char* want : lists) {
        if (pos + 12 > fileSize) return std::nullopt;
        in.seekg(static_cast<std::streamoff>(pos));
        if (!in.read(reinterpret_cast<char*>(head.data()), 12)) return std::nullopt;
        const std::uint32_t size = u32(head.data() + 4);
        if (!isId(head.data(), "LIST") || !isId(head.data() + 8, want) || size < 4 || pos + 8 + size > fileSize) {
            return std::nullopt;
        }
        if (want == lists[2]) {
            if (pos + 8 + size != fileSize || size > kMaxDirectory) return std::nullopt;
            index.directoryOffset_ = pos;
            directory.resize(size - 4);
            if (!in.read(reinterpret_cast<char*>(directory.data()), static_cast<std::streamsize>(directory.size()))) {
                return std::nullopt;
            }
        }
        pos += 8 + size;  // no pad byte after an odd size: FluidSynth reads on at once
    }
    struct Want {
        const char* id;
        std::size_t size;
        Records* records;
    };
    const Want chunks[] = {{"phdr", 38, &index.phdr_}, {"pbag", 4, &index.pbag_}, {"pmod", 10, &index.pmod_},
                           {"pgen", 4, &index.pgen_},  {"inst", 22, &index.inst_}, {"ibag", 4, &index.ibag_},
                           {"imod", 10, &index.imod_}, {"igen", 4, &index.igen_}, {"shdr", 46, &index.shdr_}};
    std::size_t at = 0;
    for (const Want& w : chunks) {
        if (at + 8 > directory.size() || !isId(directory.data() + at, w.id)) return std::nullopt;
        const std::uint32_t size = u32(directory.data() + at + 4);
        if (size == 0 || size % w.size != 0 || size > directory.size() - at - 8) return std::nullopt;
        w.records->size = w.size;
        w.records->bytes.assign(directory.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                directory.begin() + static_cast<std::ptrdiff_t>(at + 8 + size));
        at += 8 + size;
    }
    // Every index in range and in order, exactly as many records as the
    // headers and bags count: what FluidSynth itself insists on.
    const FontIndex& x = index;
    if (!indicesHold(x.phdr_.bytes, 38, 24, x.pbag_.count()) || !indicesHold(x.pbag_.bytes, 4, 0, x.pgen_.count()) ||
        !indicesHold(x.pbag_.bytes, 4, 2, x.pmod_.count()) || !indicesHold(x.inst_.bytes, 22, 20, x.ibag_.count()) ||
        !indicesHold(x.ibag_.bytes, 4, 0, x.igen_.count()) || !indicesHold(x.ibag_.bytes, 4, 2, x.imod_.count())) {
        return std::nullopt;
    }
    for (std::size_t g = 0; g + 1 < x.pgen_.count(); ++g) {
        if (u16(x.pgen_.at(g)) == kGenInstrument && u16(x.pgen_.at(g) + 2) + 1u >= x.inst_.count()) return std::nullopt;
    }
    for (std::size_t g = 0; g + 1 < x.igen_.count(); ++g) {
        if (u16(x.igen_.at(g)) == kGenSampleId && u16(x.igen_.at(g) + 2) + 1u >= x.shdr_.count()) return std::nullopt;
    }
    return index;
}

bool FontIndex::has(PresetRef p) const {
    for (std::size_t i = 0; i + 1 < phdr_.count(); ++i) {
        const std::uint8_t* h = phdr_.at(i);
        if (u16(h + 20) == p.program && u16(h + 22) == p.bank) return true;
    }
    return false;
}

bool FontIndex::prunable(const Records& headers, std::size_t bagField, std::size_t h, const Records& bags,
                         const Records& gens, std::uint16_t target) const {
    const std::size_t first = u16(headers.at(h) + bagField);
    const std::size_t last = u16(headers.at(h + 1) + bagField);
    for (std::size_t z = first + 1; z < last; ++z) {
        if (!targetOf(gens.bytes.data(), genOf(bags.at(z)), genOf(bags.at(z + 1)), target)) return false;
    }
    return true;
}

std::vector<std::uint8_t> FontIndex::subset(const PresetNotes& played) const {
    const std::uint8_t* pg = pgen_.bytes.data();
    const std::uint8_t* ig = igen_.bytes.data();

    // The presets asked for, in the file's order (FluidSynth's choice among
    // duplicates follows it), with the zones some note falls in; and what
    // each instrument they use must play.
    struct KeptPreset {
        std::size_t header;
        std::vector<std::size_t> zones;
    };
    std::vector<KeptPreset> presets;
    std::map<std::size_t, NoteSet> instNotes;
    for (std::size_t h = 0; h + 1 < phdr_.count(); ++h) {
        const auto it = played.find(PresetRef{u16(phdr_.at(h) + 22), u16(phdr_.at(h) + 20)});
        if (it == played.end()) continue;
        KeptPreset kept{h, {}};
        const bool prune = prunable(phdr_, 24, h, pbag_, pgen_, kGenInstrument);
        for (std::size_t z = u16(phdr_.at(h) + 24); z < u16(phdr_.at(h + 1) + 24); ++z) {
            const std::size_t g0 = genOf(pbag_.at(z)), g1 = genOf(pbag_.at(z + 1));
            const auto inst = targetOf(pg, g0, g1, kGenInstrument);
            if (!inst) {
                kept.zones.push_back(z);
                continue;
            }
            const NoteSet notes = within(it->second, rangeOf(pg, g0, g1));
            if (prune && notes.none()) continue;
            kept.zones.push_back(z);
            instNotes[*inst] |= prune ? notes : it->second;
        }
        presets.push_back(std::move(kept));
    }

    // Instruments and samples are numbered anew in the order first used.
    std::map<std::size_t, std::size_t> instNo, sampleNo;
    std::vector<std::size_t> instOrder, sampleOrder;
    auto numberInst = [&](std::size_t i) {
        auto [it, added] = instNo.emplace(i, instOrder.size());
        if (added) instOrder.push_back(i);
        return it->second;
    };
    auto numberSample = [&](std::size_t s) {
        auto [it, added] = sampleNo.emplace(s, sampleOrder.size());
        if (added) sampleOrder.push_back(s);
        return it->second;
    };

    // Copies a zone's generators and modulators, its target renumbered.
    auto copyZone = [](const Records& bags, std::size_t z, const Records& gens, const Records& mods,
                       std::uint16_t target, auto&& renumber, std::vector<std::uint8_t>& bagOut,
                       std::vector<std::uint8_t>& genOut, std::vector<std::uint8_t>& modOut) {
        std::uint8_t bag[4];
        put16(bag, genOut.size() / 4);
        put16(bag + 2, modOut.size() / 10);
        append(bagOut, bag, 4);
        for (std::size_t g = genOf(bags.at(z)); g < genOf(bags.at(z + 1)); ++g) {
            std::uint8_t gen[4];
            std::memcpy(gen, gens.at(g), 4);
            if (u16(gen) == target) put16(gen + 2, renumber(u16(gen + 2)));
            append(genOut, gen, 4);
        }
        for (std::size_t m = modOf(bags.at(z)); m < modOf(bags.at(z + 1)); ++m) append(modOut, mods.at(m), 10);
    };
    // The terminal records that close a level: the file's own, their
    // indices pointing past the copied records.
    auto terminals = [](const Records& headers, std::size_t bagField, const Records& gens, const Records& mods,
                        std::vector<std::uint8_t>& headerOut, std::vector<std::uint8_t>& bagOut,
                        std::vector<std::uint8_t>& genOut, std::vector<std::uint8_t>& modOut) {
        append(headerOut, headers.at(headers.count() - 1), headers.size);
        put16(headerOut.data() + headerOut.size() - headers.size + bagField, bagOut.size() / 4);
        std::uint8_t bag[4];
        put16(bag, genOut.size() / 4);
        put16(bag + 2, modOut.size() / 10);
        append(bagOut, bag, 4);
        append(genOut, gens.at(gens.count() - 1), 4);
        append(modOut, mods.at(mods.count() - 1), 10);
    };

    std::vector<std::uint8_t> phdr, pbag, pmod, pgen, inst, ibag, imod, igen, shdr;
    for (const KeptPreset& p : presets) {
        append(phdr, phdr_.at(p.header), 38);
        put16(phdr.data() + phdr.size() - 38 + 24, pbag.size() / 4);
        for (std::size_t z : p.zones) copyZone(pbag_, z, pgen_, pmod_, kGenInstrument, numberInst, pbag, pgen, pmod);
    }
    terminals(phdr_, 24, pgen_, pmod_, phdr, pbag, pgen, pmod);

    // instOrder grows only in the loop above; samples as the instruments use them.
    for (std::size_t n = 0; n < instOrder.size(); ++n) {
        const std::size_t i = instOrder[n];
        append(inst, inst_.at(i), 22);
        put16(inst.data() + inst.size() - 22 + 20, ibag.size() / 4);
        const NoteSet& notes = instNotes[i];
        const bool prune = prunable(inst_, 20, i, ibag_, igen_, kGenSampleId);
        for (std::size_t z = u16(inst_.at(i) + 20); z < u16(inst_.at(i + 1) + 20); ++z) {
            const std::size_t g0 = genOf(ibag_.at(z)), g1 = genOf(ibag_.at(z + 1));
            if (prune && targetOf(ig, g0, g1, kGenSampleId) && within(notes, rangeOf(ig, g0, g1)).none()) continue;
            copyZone(ibag_, z, igen_, imod_, kGenSampleId, numberSample, ibag, igen, imod);
        }
    }
    terminals(inst_, 20, igen_, imod_, inst, ibag, igen, imod);

    // A stereo sample's partner comes along (its header only: FluidSynth
    // reads the data of the samples zones play).
    for (std::size_t n = 0; n < sampleOrder.size(); ++n) {
        const std::uint8_t* s = shdr_.at(sampleOrder[n]);
        const std::uint16_t link = u16(s + 42);
        const bool linked = (u16(s + 44) & 0x0E) != 0 && link + 1u < shdr_.count();
        if (linked) numberSample(link);
    }
    for (std::size_t s : sampleOrder) {
        append(shdr, shdr_.at(s), 46);
        std::uint8_t* rec = shdr.data() + shdr.size() - 46;
        const std::uint16_t link = u16(rec + 42);
        const auto partner = sampleNo.find(link);
        put16(rec + 42, (u16(rec + 44) & 0x0E) != 0 && partner != sampleNo.end() ? partner->second : 0);
    }
    append(shdr, shdr_.at(shdr_.count() - 1), 46);

    ChunkWriter w;
    w.chunk("phdr", phdr);
    w.chunk("pbag", pbag);
    w.chunk("pmod", pmod);
    w.chunk("pgen", pgen);
    w.chunk("inst", inst);
    w.chunk("ibag", ibag);
    w.chunk("imod", imod);
    w.chunk("igen", igen);
    w.chunk("shdr", shdr);
    return w.list("pdta");
}

}  // namespace lirno::device
