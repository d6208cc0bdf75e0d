// Moving a song to another key while it plays: every note and key pressure
// but those of drum parts goes up or down by the same number of semitones.
//
// Each note is remembered as what it sounds as, so that its note-off finds
// it whatever the key has become meanwhile; a note moved past the keyboard
// is not played, and its note-off is dropped with it.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "device/song/drum_parts.h"
#include "device/song/song.h"
#include "device/soundfont/presets_played.h"

namespace lirno::device {

class KeyShift {
  public:
    static constexpr int kNone = -1;  // nothing to send

    KeyShift() noexcept { reset(); }

    // As after a synthesizer reset: nothing sounds, channel 10 plays drums.
    void reset() noexcept;
    void setTranspose(int semitones) noexcept { transpose_ = semitones; }
    int transpose() const noexcept { return transpose_; }
    // Follows the drum parts through every event sent, chased ones too.
    void see(const Song& song, const SongEvent& e) noexcept { drums_.see(song, e); }
    // The same from a file's bytes (a system-exclusive body, a controller).
    void seeSysex(std::span<const std::uint8_t> body) noexcept { drums_.seeSysex(body); }
    void seeControl(int channel, int controller, int value) noexcept {
        drums_.seeControl(channel, controller, value);
    }
    bool isDrum(int channel) const noexcept { return drums_.isDrum(channel); }

    // A note-on of `key`: the key to play (kNone: not played) and the key of
    // an earlier note of that key still sounding elsewhere, to release first.
    struct Strike {
        int release = kNone;
        int play = kNone;
    };
    Strike noteOn(int channel, int key) noexcept;
    // The key a note-off of `key` ends (kNone: its note was never played).
    int noteOff(int channel, int key) noexcept;
    // The key a key pressure of `key` goes to.
    int pressure(int channel, int key) const noexcept;

    // Calls fn(channel, key) for every sounding note, then forgets them all.
    template <class Fn>
    void releaseAll(Fn&& fn) noexcept {
        for (int ch = 0; ch < 16; ++ch) {
            if (!active_[static_cast<std::size_t>(ch)]) continue;
            auto& keys = sounding_[static_cast<std::size_t>(ch)];
            for (int k = 0; k < 128; ++k) {
                const std::uint8_t s = keys[static_cast<std::size_t>(k)];
                if (s < 128) fn(ch, static_cast<int>(s));
                keys[static_cast<std::size_t>(k)] = kSilent;
            }
            active_[static_cast<std::size_t>(ch)] = false;
        }
    }

  private:
    static constexpr std::uint8_t kSilent = 0xFF;   // not sounding
    static constexpr std::uint8_t kDropped = 0xFE;  // struck out of range: its end is dropped

    int shifted(int channel, int key) const noexcept;

    std::array<std::array<std::uint8_t, 128>, 16> sounding_{};
    std::array<bool, 16> active_{};  // channels with a note remembered
    DrumParts drums_;
    int transpose_ = 0;
};

// The notes a song plays when moved by any shift from `lowest` to `highest`
// semitones: a font cut to them sounds in every such key. Drum kits keep
// their keys.
PresetNotes shiftedNotes(const PresetNotes& played, int lowest, int highest);

}  // namespace lirno::device
