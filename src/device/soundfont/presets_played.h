// The instruments a song needs, read before it plays.
//
// The synthesizer reads a preset's samples from the SoundFont when it is
// first selected. On the audio thread that would be a file read in the
// middle of a song, so before the song starts the device, on its own
// thread, either loads a font cut down to the presets and notes the song
// plays (presetsPlayed, see font_cut.h) or, with a font it cannot cut,
// pins every preset the song selects and the ones a reset selects
// (presetsAskedFor).
#pragma once

#include <array>
#include <bitset>
#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "device/song/song.h"

typedef struct _fluid_synth_t fluid_synth_t;

namespace lirno::device {

struct PresetRef {
    int bank = 0;  // 128 for drum kits
    int program = 0;
    auto operator<=>(const PresetRef&) const = default;
};

// The notes (key and velocity) a song plays with one preset.
struct NoteSet {
    std::array<std::bitset<128>, 128> keys;  // by key, the velocities

    void set(int key, int velocity) {
        keys[key & 0x7F].set(static_cast<std::size_t>(velocity & 0x7F));
    }
    bool none() const noexcept;
    bool covers(const NoteSet& other) const noexcept;  // every note of `other` is here
    NoteSet& operator|=(const NoteSet& other) noexcept;
};
using PresetNotes = std::map<PresetRef, NoteSet>;

// The song without the program changes no note is played with: one that is
// followed on its channel by another before any note (orchestral files set
// every track's instrument at the start, several tracks to a channel). Each
// would select, and so read, an instrument nobody hears. The same song when
// there are none.
std::shared_ptr<const Song> withoutUnheardPrograms(std::shared_ptr<const Song> song);

// withoutUnheardPrograms for the songs one device opens in turn: a reread
// after an edit of values that leaves the same program changes unheard
// shares the last thinned order and its chase snapshots, so a restart after
// the edit does not walk the song from its start again.
class ProgramThinner {
  public:
    std::shared_ptr<const Song> thin(std::shared_ptr<const Song> song);

  private:
    std::mutex m_;
    std::shared_ptr<const std::vector<EventSlot>> fromOrder_;
    std::shared_ptr<ChaseCache> fromChase_;
    std::vector<std::shared_ptr<const TrackEvents>> fromTracks_;
    std::vector<std::uint32_t> unheard_;
    std::shared_ptr<const std::vector<EventSlot>> thinOrder_;
    std::shared_ptr<ChaseCache> thinChase_;
};

// What the song's program changes ask for, with the bank selects in force
// (CC0 names the bank; channel 10 plays drum kits), plus the piano and the
// standard kit that every reset selects.
std::set<PresetRef> presetsAskedFor(const Song& song);

// A value worked out from the songs one device plays in turn: a song on the
// same order as the last whose edited tracks agree with it in every event the
// value depends on (`key`) gets the same, without a walk through the whole
// song.
template <typename T>
class SongMemo {
  public:
    using Key = std::int64_t (*)(const SongEvent&);
    using Compute = T (*)(const Song&);
    SongMemo(Key key, Compute compute) : key_(key), compute_(compute) {}
    T of(const Song& song);

  private:
    const Key key_;
    const Compute compute_;
    std::mutex m_;
    std::shared_ptr<const std::vector<EventSlot>> order_;
    std::vector<std::shared_ptr<const TrackEvents>> tracks_;
    T value_{};
};

// presetsAskedFor, kept while the edited tracks keep their programs and bank selects.
class PresetsAsked : public SongMemo<std::set<PresetRef>> {
  public:
    PresetsAsked();
};

// The presets the synthesizer will really select for those, after its
// fallbacks for missing ones (a kit to kit 0, a bank to bank 0, then the
// piano). `exists` tells whether the font has a preset.
std::set<PresetRef> presetsSelected(const std::set<PresetRef>& asked,
                                    const std::function<bool(PresetRef)>& exists);

// For each preset a note of the song may sound with, the notes: the
// programs and bank selects in force at each note (the piano and the
// standard kit before any program change), read as presetsAskedFor reads
// them. A system-exclusive message may reset the synthesizer or turn a
// channel into a drum channel: after one, both readings count.
PresetNotes presetsPlayed(const Song& song);

// presetsPlayed, kept while the edited tracks keep their notes as well.
class PresetsPlayed : public SongMemo<PresetNotes> {
  public:
    PresetsPlayed();
};

// presetsSelected for notes: each preset's notes go to the preset the
// synthesizer will really select for it.
PresetNotes notesSelected(const PresetNotes& played, const std::function<bool(PresetRef)>& exists);

// Whether `have` holds every preset of `want` with all its notes.
bool covers(const PresetNotes& have, const PresetNotes& want);

// The presets pinned in one synthesizer.
class PresetPins {
  public:
    // What pinning for `asked` would pin, looked up in the synth's font (read only).
    std::set<PresetRef> needed(fluid_synth_t* synth, int fontId,
                               const std::set<PresetRef>& asked) const;
    // Pins `wanted` and unpins what is pinned but no longer wanted. Reads the
    // font: call it off the audio thread, while nothing renders.
    void pinOnly(fluid_synth_t* synth, int fontId, const std::set<PresetRef>& wanted);
    const std::set<PresetRef>& pinned() const noexcept { return pinned_; }

  private:
    std::set<PresetRef> pinned_;
};

}  // namespace lirno::device
