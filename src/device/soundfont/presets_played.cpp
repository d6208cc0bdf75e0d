#include "device/soundfont/presets_played.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "device/song/chase.h"
#include "device/song/drum_parts.h"
#include "midi/vocabulary.h"

namespace lirno::device {

namespace {

constexpr int kDrumBank = 128;
using midi::channelOf;
using midi::kDrumChannel;
using midi::statusKind;

// Positions in the song's order of the program changes no note is played with.
std::vector<std::uint32_t> unheardPrograms(const EventList& events) {
    std::vector<std::uint32_t> unheard;
    constexpr auto kNone = ~std::uint32_t{0};
    std::array<std::uint32_t, midi::kChannels> lastProgram;
    lastProgram.fill(kNone);  // none since the last note
    for (std::size_t i = 0; i < events.size(); ++i) {
        const SongEvent& e = events[i];
        const int ch = channelOf(e.status);
        if (statusKind(e.status) == midi::kProgramChange) {
            if (lastProgram[ch] != kNone) unheard.push_back(lastProgram[ch]);
            lastProgram[ch] = static_cast<std::uint32_t>(i);
        } else if (statusKind(e.status) == midi::kNoteOn && e.data2 != 0) {
            lastProgram[ch] = kNone;
        }
    }
    std::sort(unheard.begin(), unheard.end());
    return unheard;
}

std::shared_ptr<const std::vector<EventSlot>> orderWithout(
    const EventList& events, const std::vector<std::uint32_t>& unheard) {
    const auto& all = *events.order();
    auto order = std::make_shared<std::vector<EventSlot>>();
    order->reserve(all.size() - unheard.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (next < unheard.size() && unheard[next] == i) {
            ++next;
        } else {
            order->push_back(all[i]);
        }
    }
    return order;
}

std::shared_ptr<const Song> withOrder(const Song& song,
                                      std::shared_ptr<const std::vector<EventSlot>> order,
                                      std::shared_ptr<ChaseCache> chase) {
    auto thin = std::make_shared<Song>(song);
    thin->events.assign(std::move(order), song.events.tracks());
    thin->chase = std::move(chase);
    return thin;
}

}  // namespace

std::shared_ptr<const Song> withoutUnheardPrograms(std::shared_ptr<const Song> song) {
    const auto unheard = unheardPrograms(song->events);
    if (unheard.empty()) return song;
    // The same tracks behind an order without those events; the chase
    // snapshots follow the order, so the new song starts its own.
    return withOrder(*song, orderWithout(song->events, unheard), makeChaseCache());
}

namespace {

// What the search for unheard program changes looks at in an event.
int hearingKey(const SongEvent& e) {
    const int kind = statusKind(e.status);
    if (kind == midi::kProgramChange || (kind == midi::kNoteOn && e.data2 != 0)) return e.status;
    return 0;
}

// What the presets asked for depend on in an event: programs and bank selects.
std::int64_t presetKey(const SongEvent& e) {
    const int kind = statusKind(e.status);
    if (kind == midi::kProgramChange) return e.status << 8 | e.data1;
    if (kind == midi::kControlChange && e.data1 == midi::cc::kBankMsb) {
        return (e.status << 8 | e.data2) << 8;
    }
    return -1;
}

// What the presets played depend on: programs, bank selects, notes and
// system-exclusive messages.
std::int64_t playedKey(const SongEvent& e) {
    const int kind = statusKind(e.status);
    if (kind == midi::kNoteOn && e.data2 != 0) {
        return std::int64_t{1} << 32 | e.status << 16 | e.data1 << 8 | e.data2;
    }
    if (e.status == midi::kSysEx) return e.status;
    return presetKey(e);
}

// Whether the tracks of two songs on one order agree in every event by `key`;
// only tracks that were read again are compared.
template <typename Key>
bool sameBy(const std::vector<std::shared_ptr<const TrackEvents>>& was,
            const std::vector<std::shared_ptr<const TrackEvents>>& now, Key key) {
    if (was.size() != now.size()) return false;
    for (std::size_t t = 0; t < now.size(); ++t) {
        if (was[t] == now[t]) continue;
        const auto& a = was[t]->events;
        const auto& b = now[t]->events;
        if (a.size() != b.size()) return false;
        for (std::size_t k = 0; k < a.size(); ++k) {
            if (key(a[k]) != key(b[k])) return false;
        }
    }
    return true;
}

}  // namespace

std::shared_ptr<const Song> ProgramThinner::thin(std::shared_ptr<const Song> song) {
    std::lock_guard lk(m_);
    // A reread that kept the order and the chase (an edit of values) and
    // leaves the same program changes unheard gets the same thinned order,
    // and with it the snapshots earlier plays built. When the edited tracks
    // kept every program change and note, nothing needs looking for.
    const bool sameOrder = song->events.order() == fromOrder_ && song->chase == fromChase_;
    if (!sameOrder || !sameBy(fromTracks_, song->events.tracks(), hearingKey)) {
        auto unheard = unheardPrograms(song->events);
        if (!sameOrder || unheard != unheard_) {
            unheard_ = std::move(unheard);
            thinOrder_ = unheard_.empty() ? nullptr : orderWithout(song->events, unheard_);
            thinChase_ = makeChaseCache();
        }
    }
    fromOrder_ = song->events.order();
    fromChase_ = song->chase;
    fromTracks_ = song->events.tracks();
    if (unheard_.empty()) return song;
    return withOrder(*song, thinOrder_, thinChase_);
}

template <typename T>
T SongMemo<T>::of(const Song& song) {
    std::lock_guard lk(m_);
    if (song.events.order() != order_ || !sameBy(tracks_, song.events.tracks(), key_))
        value_ = compute_(song);
    order_ = song.events.order();
    tracks_ = song.events.tracks();
    return value_;
}

template class SongMemo<std::set<PresetRef>>;
template class SongMemo<PresetNotes>;

PresetsAsked::PresetsAsked() : SongMemo(presetKey, presetsAskedFor) {}

std::set<PresetRef> presetsAskedFor(const Song& song) {
    std::set<PresetRef> asked{{0, 0}, {kDrumBank, 0}};
    std::array<int, midi::kChannels> bank{};
    for (const SongEvent& e : song.events) {
        const int ch = channelOf(e.status);
        switch (statusKind(e.status)) {
            case midi::kControlChange:
                if (e.data1 == midi::cc::kBankMsb) bank[ch] = e.data2;
                break;
            case midi::kProgramChange:
                asked.insert({ch == kDrumChannel ? kDrumBank : bank[ch], e.data1});
                break;
            default:
                break;
        }
    }
    return asked;
}

namespace {

// The preset the synthesizer selects when `p` is asked for, after its
// fallbacks: a kit to kit 0, a bank to bank 0, then the piano.
std::optional<PresetRef> selectedFor(PresetRef p, const std::function<bool(PresetRef)>& exists) {
    const std::array<PresetRef, 3> tries =
        p.bank == kDrumBank ? std::array<PresetRef, 3>{p, PresetRef{kDrumBank, 0}, p}
                            : std::array<PresetRef, 3>{p, PresetRef{0, p.program}, PresetRef{0, 0}};
    for (const PresetRef& t : tries) {
        if (exists(t)) return t;
    }
    return std::nullopt;
}

}  // namespace

std::set<PresetRef> presetsSelected(const std::set<PresetRef>& asked,
                                    const std::function<bool(PresetRef)>& exists) {
    std::set<PresetRef> selected;
    for (const PresetRef& p : asked) {
        if (auto t = selectedFor(p, exists)) selected.insert(*t);
    }
    return selected;
}

bool NoteSet::none() const noexcept {
    for (const auto& k : keys) {
        if (k.any()) return false;
    }
    return true;
}

bool NoteSet::covers(const NoteSet& other) const noexcept {
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if ((other.keys[k] & ~keys[k]).any()) return false;
    }
    return true;
}

NoteSet& NoteSet::operator|=(const NoteSet& other) noexcept {
    for (std::size_t k = 0; k < keys.size(); ++k) keys[k] |= other.keys[k];
    return *this;
}

PresetNotes presetsPlayed(const Song& song) {
    // What each channel may be playing with: after a system-exclusive
    // message more than one reading holds until the next program change.
    struct Channel {
        std::set<int> banks{0};
        std::set<PresetRef> presets;
        bool melodic = true;
        bool drum = false;
    };
    std::array<Channel, midi::kChannels> chans;
    for (int ch = 0; ch < midi::kChannels; ++ch) {
        chans[ch].melodic = ch != kDrumChannel;
        chans[ch].drum = ch == kDrumChannel;
        chans[ch].presets = {ch == kDrumChannel ? PresetRef{kDrumBank, 0} : PresetRef{0, 0}};
    }
    PresetNotes played;
    for (const SongEvent& e : song.events) {
        Channel& c = chans[channelOf(e.status)];
        switch (statusKind(e.status)) {
            case midi::kNoteOn:
                if (e.data2 == 0) break;
                for (const PresetRef& p : c.presets) played[p].set(e.data1, e.data2);
                break;
            case midi::kControlChange:
                if (e.data1 == midi::cc::kBankMsb) c.banks = {e.data2};
                break;
            case midi::kProgramChange:
                c.presets.clear();
                if (c.drum) c.presets.insert({kDrumBank, e.data1});
                if (c.melodic) {
                    for (int bank : c.banks) c.presets.insert({bank, e.data1});
                }
                break;
            case midi::kSysEx: {
                if (e.status != midi::kSysEx) break;
                int part = 0;
                bool drum = false;
                if (gsRhythmPart(song.sysexBytes(e), part, drum)) {
                    chans[part].drum = chans[part].melodic = true;
                }
                // Taken as a reset of every channel as well, whatever it is.
                for (int ch = 0; ch < midi::kChannels; ++ch) {
                    Channel& r = chans[ch];
                    r.banks.insert(0);
                    (ch == kDrumChannel ? r.drum : r.melodic) = true;
                    if (r.drum) r.presets.insert({kDrumBank, 0});
                    if (r.melodic) r.presets.insert({0, 0});
                }
                break;
            }
            default:
                break;
        }
    }
    return played;
}

PresetsPlayed::PresetsPlayed() : SongMemo(playedKey, presetsPlayed) {}

PresetNotes notesSelected(const PresetNotes& played, const std::function<bool(PresetRef)>& exists) {
    PresetNotes selected;
    for (const auto& [p, notes] : played) {
        if (auto t = selectedFor(p, exists)) selected[*t] |= notes;
    }
    return selected;
}

bool covers(const PresetNotes& have, const PresetNotes& want) {
    for (const auto& [p, notes] : want) {
        const auto it = have.find(p);
        if (it == have.end() || !it->second.covers(notes)) return false;
    }
    return true;
}

std::set<PresetRef> PresetPins::needed(fluid_synth_t* synth, int fontId,
                                       const std::set<PresetRef>& asked) const {
    fluid_sfont_t* font = fluid_synth_get_sfont_by_id(synth, fontId);
    if (font == nullptr) return {};
    return presetsSelected(asked, [font](PresetRef p) {
        return fluid_sfont_get_preset(font, p.bank, p.program) != nullptr;
    });
}

void PresetPins::pinOnly(fluid_synth_t* synth, int fontId, const std::set<PresetRef>& wanted) {
    for (const PresetRef& p : wanted) {
        if (!pinned_.contains(p) &&
            fluid_synth_pin_preset(synth, fontId, p.bank, p.program) == FLUID_OK) {
            pinned_.insert(p);
        }
    }
    for (auto it = pinned_.begin(); it != pinned_.end();) {
        if (wanted.contains(*it)) {
            ++it;
        } else {
            fluid_synth_unpin_preset(synth, fontId, it->bank, it->program);
            it = pinned_.erase(it);
        }
    }
}

}  // namespace lirno::device
