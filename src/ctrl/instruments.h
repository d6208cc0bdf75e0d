// The instrument list's entries.
#pragma once

#include <array>
#include <string_view>

namespace lirno {

// Slot p names program p; the three slots after the 128 names are null.
extern const std::array<const char*, 131> gmprogname;

inline constexpr std::string_view kDrumsEntry = "Standard Midi Drums";
inline constexpr std::string_view kMixedEntry = "Mixed Music";

// What a row's list shows for an instrument code from getinstr: the 128
// names (enabled, the program selected) or one special entry (disabled).
struct InstrumentList {
    bool special = false;    // one special entry instead of the names
    std::string_view entry;  // the special entry
    int selection = 0;       // the selected position
};
InstrumentList instrumentList(int code);

}  // namespace lirno
