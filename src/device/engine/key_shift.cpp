#include "device/engine/key_shift.h"

#include <algorithm>

namespace lirno::device {

void KeyShift::reset() noexcept {
    for (auto& keys : sounding_) keys.fill(kSilent);
    active_.fill(false);
    drums_.reset();
}

int KeyShift::shifted(int channel, int key) const noexcept {
    if (drums_.isDrum(channel)) return key;
    const int k = key + transpose_;
    return k < 0 || k > 127 ? kNone : k;
}

KeyShift::Strike KeyShift::noteOn(int channel, int key) noexcept {
    const auto ch = static_cast<std::size_t>(channel & 0x0F);
    std::uint8_t& s = sounding_[ch][static_cast<std::size_t>(key & 0x7F)];
    Strike strike;
    strike.play = shifted(channel, key);
    // The synthesizer releases a key struck again itself; one that sounded
    // as another key before the change must be released here.
    if (s < 128 && s != strike.play) strike.release = s;
    s = strike.play == kNone ? kDropped : static_cast<std::uint8_t>(strike.play);
    active_[ch] = true;
    return strike;
}

int KeyShift::noteOff(int channel, int key) noexcept {
    std::uint8_t& s =
        sounding_[static_cast<std::size_t>(channel & 0x0F)][static_cast<std::size_t>(key & 0x7F)];
    const std::uint8_t was = s;
    s = kSilent;
    if (was == kDropped) return kNone;
    return was < 128 ? was : shifted(channel, key);
}

int KeyShift::pressure(int channel, int key) const noexcept {
    const std::uint8_t s =
        sounding_[static_cast<std::size_t>(channel & 0x0F)][static_cast<std::size_t>(key & 0x7F)];
    if (s == kDropped) return kNone;
    return s < 128 ? s : shifted(channel, key);
}

PresetNotes shiftedNotes(const PresetNotes& played, int lowest, int highest) {
    constexpr int kDrumBank = 128;
    PresetNotes out;
    for (const auto& [preset, notes] : played) {
        NoteSet& to = out[preset];
        if (preset.bank == kDrumBank) {
            to = notes;
            continue;
        }
        for (int key = 0; key < 128; ++key) {
            const auto& velocities = notes.keys[static_cast<std::size_t>(key)];
            if (velocities.none()) continue;
            for (int k = std::max(0, key + lowest); k <= std::min(127, key + highest); ++k) {
                to.keys[static_cast<std::size_t>(k)] |= velocities;
            }
        }
    }
    return out;
}

}  // namespace lirno::device
