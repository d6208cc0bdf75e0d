// The records of a SoundFont's directory (its pdta list), field by field.
//
// Each record lists its fields once, in file order; reading and writing both
// walk that list, so a record read and written again is the same bytes (the
// cut copies what it does not change as it was, names past their end byte
// included).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/soundfont/little_endian.h"

namespace lirno::device::sf2 {

// Generator numbers the directory reader looks at.
namespace gen {
inline constexpr std::uint16_t kInstrument = 41;
inline constexpr std::uint16_t kKeyRange = 43;
inline constexpr std::uint16_t kVelRange = 44;
inline constexpr std::uint16_t kSampleId = 53;
}  // namespace gen

// Sample types with a partner: right, left or linked (bits 1 to 3).
inline constexpr std::uint16_t kPartneredSample = 0x0E;

using Name = std::array<std::uint8_t, 20>;

// phdr: a preset, its zones from bagIndex to the next header's.
struct PresetHeader {
    static constexpr std::size_t kSize = 38;
    Name name{};
    std::uint16_t preset = 0;
    std::uint16_t bank = 0;
    std::uint16_t bagIndex = 0;
    std::uint32_t library = 0, genre = 0, morphology = 0;
    static constexpr void fields(auto& r, auto&& f) {
        f(r.name);
        f(r.preset);
        f(r.bank);
        f(r.bagIndex);
        f(r.library);
        f(r.genre);
        f(r.morphology);
    }
};

// pbag, ibag: a zone, its generators and modulators up to the next bag's.
struct Bag {
    static constexpr std::size_t kSize = 4;
    std::uint16_t genIndex = 0;
    std::uint16_t modIndex = 0;
    static constexpr void fields(auto& r, auto&& f) {
        f(r.genIndex);
        f(r.modIndex);
    }
};

// pmod, imod: copied as they are.
struct Modulator {
    static constexpr std::size_t kSize = 10;
    std::uint16_t source = 0, destination = 0, amount = 0, amountSource = 0, transform = 0;
    static constexpr void fields(auto& r, auto&& f) {
        f(r.source);
        f(r.destination);
        f(r.amount);
        f(r.amountSource);
        f(r.transform);
    }
};

// pgen, igen.
struct Generator {
    static constexpr std::size_t kSize = 4;
    std::uint16_t oper = 0;
    std::uint16_t amount = 0;  // a range: low byte first
    static constexpr void fields(auto& r, auto&& f) {
        f(r.oper);
        f(r.amount);
    }
    int rangeLo() const noexcept { return amount & 0xFF; }
    int rangeHi() const noexcept { return amount >> 8; }
};

// inst: an instrument, its zones from bagIndex to the next header's.
struct InstrumentHeader {
    static constexpr std::size_t kSize = 22;
    Name name{};
    std::uint16_t bagIndex = 0;
    static constexpr void fields(auto& r, auto&& f) {
        f(r.name);
        f(r.bagIndex);
    }
};

// shdr.
struct SampleHeader {
    static constexpr std::size_t kSize = 46;
    Name name{};
    std::uint32_t start = 0, end = 0, loopStart = 0, loopEnd = 0, sampleRate = 0;
    std::uint8_t originalPitch = 0;
    std::uint8_t pitchCorrection = 0;
    std::uint16_t link = 0;  // the partner of a stereo pair
    std::uint16_t type = 0;
    static constexpr void fields(auto& r, auto&& f) {
        f(r.name);
        f(r.start);
        f(r.end);
        f(r.loopStart);
        f(r.loopEnd);
        f(r.sampleRate);
        f(r.originalPitch);
        f(r.pitchCorrection);
        f(r.link);
        f(r.type);
    }
};

// The bytes a record's fields take, which must be its size in the file.
template <typename Record>
constexpr std::size_t packedSize() {
    Record r;
    std::size_t n = 0;
    Record::fields(r, [&n](const auto& field) { n += sizeof(field); });
    return n;
}
static_assert(packedSize<PresetHeader>() == PresetHeader::kSize);
static_assert(packedSize<Bag>() == Bag::kSize);
static_assert(packedSize<Modulator>() == Modulator::kSize);
static_assert(packedSize<Generator>() == Generator::kSize);
static_assert(packedSize<InstrumentHeader>() == InstrumentHeader::kSize);
static_assert(packedSize<SampleHeader>() == SampleHeader::kSize);

// Reads one record from its kSize bytes at `p`.
template <typename Record>
Record readRecord(const std::uint8_t* p) {
    Record r;
    Record::fields(r, [&p]<typename Field>(Field& field) {
        if constexpr (sizeof(Field) == 1) {
            field = *p;
        } else if constexpr (sizeof(Field) == 2) {
            field = readLE16(p);
        } else if constexpr (sizeof(Field) == 4) {
            field = readLE32(p);
        } else {
            std::copy(p, p + sizeof(Field), field.begin());
        }
        p += sizeof(Field);
    });
    return r;
}

// Appends one record's kSize bytes to `out`.
template <typename Record>
void writeRecord(const Record& r, std::vector<std::uint8_t>& out) {
    Record::fields(r, [&out]<typename Field>(const Field& field) {
        const std::size_t at = out.size();
        out.resize(at + sizeof(Field));
        if constexpr (sizeof(Field) == 1) {
            out[at] = field;
        } else if constexpr (sizeof(Field) == 2) {
            writeLE16(out.data() + at, field);
        } else if constexpr (sizeof(Field) == 4) {
            writeLE32(out.data() + at, field);
        } else {
            std::copy(field.begin(), field.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
        }
    });
}

}  // namespace lirno::device::sf2
