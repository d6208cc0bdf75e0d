// One level of a SoundFont's directory: the presets and their zones, whose
// target generator names an instrument, or the instruments and theirs, whose
// target names a sample. Both levels are read, checked and cut the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "device/soundfont/sf2_records.h"

namespace lirno::device::sf2 {

// Whether the indices `records` keep in `field` into a chunk of `nextCount`
// records never go back and end, with the terminal record, at that chunk's
// terminal record.
template <typename Record>
bool indicesHold(const std::vector<Record>& records, std::uint16_t Record::*field,
                 std::size_t nextCount) {
    std::uint16_t last = 0;
    for (const Record& r : records) {
        if (r.*field < last) return false;
        last = r.*field;
    }
    return std::size_t{last} + 1 == nextCount;
}

// The chunk ids of a level, in file order.
struct LevelIds {
    const char* headers;
    const char* bags;
    const char* mods;
    const char* gens;
};
inline constexpr LevelIds kPresetIds{"phdr", "pbag", "pmod", "pgen"};
inline constexpr LevelIds kInstrumentIds{"inst", "ibag", "imod", "igen"};

// Each chunk's records as they are in the file, the terminal one last.
template <typename Header>
struct Level {
    explicit Level(std::uint16_t targetGenerator) : target(targetGenerator) {}

    std::uint16_t target;  // the generator naming what a zone plays
    std::vector<Header> headers;
    std::vector<Bag> bags;
    std::vector<Modulator> mods;
    std::vector<Generator> gens;

    // Header h's zones: [firstZone(h), endZone(h)).
    std::size_t firstZone(std::size_t h) const { return headers[h].bagIndex; }
    std::size_t endZone(std::size_t h) const { return headers[h + 1].bagIndex; }
    std::span<const Generator> gensOf(std::size_t z) const {
        return std::span(gens).subspan(bags[z].genIndex, bags[z + 1].genIndex - bags[z].genIndex);
    }
    std::span<const Modulator> modsOf(std::size_t z) const {
        return std::span(mods).subspan(bags[z].modIndex, bags[z + 1].modIndex - bags[z].modIndex);
    }
    // What zone z plays, if it has a target.
    std::optional<std::uint16_t> targetOf(std::size_t z) const {
        for (const Generator& g : gensOf(z)) {
            if (g.oper == target) return g.amount;
        }
        return std::nullopt;
    }

    // Every index in range and in order, exactly as many records as the
    // headers and bags count, every target one of the `targetCount` records
    // of the next level before its terminal one: what FluidSynth itself
    // insists on, and what the rest of this relies on.
    bool holds(std::size_t targetCount) const {
        if (!indicesHold(headers, &Header::bagIndex, bags.size()) ||
            !indicesHold(bags, &Bag::genIndex, gens.size()) ||
            !indicesHold(bags, &Bag::modIndex, mods.size())) {
            return false;
        }
        for (std::size_t g = 0; g + 1 < gens.size(); ++g) {
            if (gens[g].oper == target && gens[g].amount + 1u >= targetCount) return false;
        }
        return true;
    }

    // Whether header h's zones may be left out one by one: only when the
    // first is the only zone without its target (the global zone), so that
    // what FluidSynth reads as global stays so.
    bool prunable(std::size_t h) const {
        for (std::size_t z = firstZone(h) + 1; z < endZone(h); ++z) {
            if (!targetOf(z)) return false;
        }
        return true;
    }

    // Building a cut: a header whose zones are the ones copied next.
    void addHeader(Header h) {
        h.bagIndex = static_cast<std::uint16_t>(bags.size());
        headers.push_back(h);
    }
    // Copies zone z of `from`, its target renumbered.
    template <typename Renumber>
    void copyZone(const Level& from, std::size_t z, Renumber&& renumber) {
        bags.push_back(nextBag());
        for (Generator g : from.gensOf(z)) {
            if (g.oper == target) g.amount = renumber(g.amount);
            gens.push_back(g);
        }
        const auto m = from.modsOf(z);
        mods.insert(mods.end(), m.begin(), m.end());
    }
    // Closes the cut with the file's terminal records, their indices
    // pointing past the copied records.
    void close(const Level& from) {
        addHeader(from.headers.back());
        bags.push_back(nextBag());
        gens.push_back(from.gens.back());
        mods.push_back(from.mods.back());
    }

  private:
    Bag nextBag() const {
        return Bag{static_cast<std::uint16_t>(gens.size()),
                   static_cast<std::uint16_t>(mods.size())};
    }
};

}  // namespace lirno::device::sf2
