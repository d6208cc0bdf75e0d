#include "mmio/scanner.h"

#include <algorithm>
#include <cstring>

namespace lirno {

Scanner scanner;

Vlq readVlq(const std::uint8_t* p, const std::uint8_t* end)
{
    Vlq v;
    constexpr std::uint32_t kCap = (1u << 28) - 1;
    while (p < end) {
        const std::uint8_t b = *p++;
        ++v.bytes;
        v.value = std::min<std::uint64_t>((std::uint64_t{v.value} << 7) | (b & 0x7F), kCap);
        if (!(b & 0x80)) {
            v.ok = true;
            return v;
        }
    }
    return v;
}

std::size_t vlqLength(std::uint32_t value)
{
    std::size_t n = 1;
    while (value >>= 7) ++n;
    return n;
}

std::size_t writeVlq(std::uint8_t* out, std::uint32_t value)
{
    const std::size_t n = vlqLength(value);
    for (std::size_t i = 0; i < n; ++i) {
        const auto shift = 7 * (n - 1 - i);
        out[i] = static_cast<std::uint8_t>(((value >> shift) & 0x7F) | (i + 1 < n ? 0x80 : 0));
    }
    return n;
}

namespace {

// Steps over a length-prefixed body (system exclusive, meta data).
int skipBody(std::uint8_t*& pos, const std::uint8_t* end)
{
    const Vlq len = readVlq(pos, end);
    if (!len.ok || len.value > static_cast<std::size_t>(end - pos) - len.bytes) {
        pos = const_cast<std::uint8_t*>(end);
        return kEvError;
    }
    pos += len.bytes + len.value;
    return kEvOther;
}

int scanMeta(std::uint8_t*& pos, const std::uint8_t* end, char* text)
{
    if (pos >= end) {
        pos = const_cast<std::uint8_t*>(end);
        return kEvError;
    }
    const std::uint8_t t = *pos;
    if (t == 0x2F) {  // End of Track: its length byte is not read
        if (end - pos < 2) {
            pos = const_cast<std::uint8_t*>(end);
            return kEvError;
        }
        pos += 2;
        return kEvEndOfTrack;
    }
    ++pos;
    if (t != 3) return skipBody(pos, end);
    const Vlq len = readVlq(pos, end);
    if (!len.ok || len.value > static_cast<std::size_t>(end - pos) - len.bytes) {
        pos = const_cast<std::uint8_t*>(end);
        return kEvError;
    }
    pos += len.bytes;
    const std::size_t n = std::min<std::size_t>(len.value, kEventTextSize - 1);
    std::memcpy(text, pos, n);
    text[n] = '\0';
    pos += len.value;
    return kEvName;
}

}  // namespace

int geteventAny(std::uint8_t*& pos, const std::uint8_t* end, char* text, int& value, int& channel)
{
    auto fail = [&] {
        pos = const_cast<std::uint8_t*>(end);
        channel = scanner.type & 0x0F;
        return kEvError;
    };
    // Delta time: skipped, not computed.
    while (pos < end && (*pos & 0x80)) ++pos;
    if (pos >= end) return fail();
    ++pos;
    if (pos >= end) return fail();

    if (*pos & 0x80) {
        text[0] = 0;
        scanner.type = *pos++;
    } else {
        text[0] = 1;
    }
    const std::uint8_t type = scanner.type;
    channel = type & 0x0F;
    const auto left = static_cast<std::size_t>(end - pos);

    switch (type & 0xF0) {
    case 0x80:
    case 0x90:
        if (left < 2) return fail();
        pos += 2;
        return type & 0xF0;
    case 0xA0:
    case 0xE0:
        if (left < 2) return fail();
        pos += 2;
        return kEvOther;
    case 0xB0: {
        if (left < 2) return fail();
        const std::uint8_t controller = pos[0];
        value = pos[1];
        pos += 2;
        return controller == 7 ? kEvVolume : controller == 10 ? kEvBalance : kEvOther;
    }
    case 0xC0:
        if (left < 1) return fail();
        value = *pos++;
        return kEvProgram;
    case 0xD0:
        if (left < 1) return fail();
        ++pos;
        return kEvOther;
    case 0xF0:
        if (type == 0xF0 || type == 0xF7) return skipBody(pos, end);  // system exclusive, escape
        if (type == 0xFF) return scanMeta(pos, end, text);
        return kEvError;  // F1..FE: the position stays just behind the status byte
    default:
        // No status byte has ever been read: resynchronise on the next one.
        while (pos < end && !(*pos & 0x80)) ++pos;
        return kEvError;
    }
}

}  // namespace lirno
