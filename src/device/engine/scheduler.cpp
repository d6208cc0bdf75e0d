#include "device/engine/scheduler.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>

#include "device/song/chase.h"
#include "device/song/timing.h"
#include "midi/vocabulary.h"

namespace lirno::device {
namespace {

// MIDI Tuning Standard messages (universal, sub-ID 08) make FluidSynth
// allocate tuning tables, which the audio side must not do: they are left out.
bool isTuningMessage(std::span<const std::uint8_t> body) {
    return body.size() >= 3 && (body[0] == 0x7E || body[0] == 0x7F) && body[2] == 0x08;
}

// What a passage's start puts in force each time it comes round: pedals let
// go and controllers reset (as the reset before a seek leaves them), then
// the state chased there.
std::vector<SongEvent> seamState(const Song& song, std::size_t at) {
    std::vector<SongEvent> out;
    for (int ch = 0; ch < midi::kChannels; ++ch) {
        const auto status = static_cast<std::uint8_t>(midi::kControlChange | ch);
        for (const std::uint8_t cc :
             {midi::cc::kSustain, midi::cc::kSostenuto, midi::cc::kResetAllControllers}) {
            out.push_back({.status = status, .data1 = cc});
        }
    }
    if (at > 0) {
        const std::vector<SongEvent> chased = chaseState(song, at);
        out.insert(out.end(), chased.begin(), chased.end());
    }
    return out;
}

// Fits the plan to a passage: where it plays from and to, and what its seam sends.
void planPassage(PlayPlan& plan, const Song& song, const PlanPassage& passage,
                 std::int64_t& startNs, std::int64_t& endNs, std::uint32_t rate) {
    const std::int64_t from = song.timing->tickToNs(passage.ticks.fromTick);
    const std::int64_t to = std::min(song.timing->tickToNs(passage.ticks.toTick), song.endNs);
    if (from >= to) return;  // wholly past the song's end
    if (startNs < from || startNs >= to) startNs = from;
    endNs = to;
    plan.passage = true;
    plan.loops = passage.loops;
    plan.endEvent = song.events.firstAt(to);
    plan.loopEvent = song.events.firstAt(from);
    plan.loopFrame = nsToFrames(from, rate);
    if (plan.loops) plan.seam = seamState(song, plan.loopEvent);
}

}  // namespace

std::unique_ptr<PlayPlan> makePlan(std::shared_ptr<const Song> song, std::uint32_t fromUnits,
                                   std::uint32_t rate, std::optional<PlanPassage> passage) {
    auto plan = std::make_unique<PlayPlan>();
    std::int64_t startNs = std::min(unitsToNs(fromUnits), song->endNs);
    std::int64_t endNs = song->endNs;
    plan->endEvent = song->events.size();
    if (passage && song->timing) planPassage(*plan, *song, *passage, startNs, endNs, rate);
    plan->startNs = startNs;
    plan->firstEvent = song->events.firstAt(startNs);
    if (plan->firstEvent > 0) plan->preroll = chaseState(*song, plan->firstEvent);
    plan->startFrame = nsToFrames(startNs, rate);
    plan->endFrame = nsToFrames(endNs, rate);
    plan->song = std::move(song);
    return plan;
}

void Scheduler::start(const PlayPlan& plan) noexcept {
    plan_ = &plan;
    next_ = plan.firstEvent;
    songCenti_ = static_cast<std::int64_t>(plan.startFrame) * 100;
    if (port_ != nullptr) {
        cutPort();
        begin();
    } else if (synth_ != nullptr && sounded_) {
        cut();
        waiting_ = true;
        startedAt_ = synthFrame_;
    } else {
        begin();
    }
}

void Scheduler::setSynth(fluid_synth_t* synth) noexcept {
    synth_ = synth;
    if (synth == nullptr) return;
    fluid_settings_t* settings = fluid_synth_get_settings(synth);
    int reverb = 1;
    int chorus = 1;
    fluid_settings_getint(settings, "synth.reverb.active", &reverb);
    fluid_settings_getint(settings, "synth.chorus.active", &chorus);
    reverbOn_ = reverb != 0;
    chorusOn_ = chorus != 0;
}

void Scheduler::begin() noexcept {
    waiting_ = false;
    prerollNext_ = 0;
    keys_.reset();
    if (port_ != nullptr) return;  // the receiver is not ours to reset
    if (synth_ == nullptr) {
        prerollNext_ = plan_->preroll.size();  // nothing to send it to
        return;
    }
    // Also clears the reverb and chorus lines before they are switched on.
    fluid_synth_system_reset(synth_);
    fluid_synth_all_sounds_off(synth_, -1);
    fluid_synth_reverb_on(synth_, -1, reverbOn_ ? 1 : 0);
    fluid_synth_chorus_on(synth_, -1, chorusOn_ ? 1 : 0);
}

void Scheduler::sendPreroll() noexcept {
    const auto& preroll = plan_->preroll;
    const std::size_t end = preroll.size() - prerollNext_ > prerollPerBlock_
                                ? prerollNext_ + prerollPerBlock_
                                : preroll.size();
    for (; prerollNext_ < end; ++prerollNext_) send(*plan_->song, preroll[prerollNext_]);
}

void Scheduler::halt() noexcept {
    plan_ = nullptr;
    waiting_ = false;
    if (port_ != nullptr) {
        cutPort();
    } else if (synth_ != nullptr) {
        cut();
    }
}

template <class Fn>
void Scheduler::letGo(Fn&& fn) noexcept {
    keys_.releaseAll([&](int ch, int key) {
        fn(static_cast<std::uint8_t>(midi::kNoteOff | ch), static_cast<std::uint8_t>(key), 0);
    });
    for (int ch = 0; ch < midi::kChannels; ++ch) {
        auto& held = live_[static_cast<std::size_t>(ch)];
        for (int key = 0; held.any() && key < 128; ++key) {
            if (!held.test(static_cast<std::size_t>(key))) continue;
            held.reset(static_cast<std::size_t>(key));
            fn(static_cast<std::uint8_t>(midi::kNoteOff | ch), static_cast<std::uint8_t>(key), 0);
        }
    }
    for (int ch = 0; ch < midi::kChannels; ++ch) {
        if (((usedChannels_ >> ch) & 1u) == 0) continue;
        const auto cc = static_cast<std::uint8_t>(midi::kControlChange | ch);
        fn(cc, midi::cc::kSustain, 0);
        fn(cc, midi::cc::kAllNotesOff, 0);
        fn(cc, midi::cc::kResetAllControllers, 0);
    }
    usedChannels_ = 0;
}

// A port's receiver keeps its notes until told: each is ended, and every
// channel the play touched is quieted and reset.
void Scheduler::cutPort() noexcept {
    letGo([this](std::uint8_t status, std::uint8_t d1, std::uint8_t d2) {
        const std::array<std::uint8_t, 3> msg{status, d1, d2};
        port_->send(offset_, msg);
    });
    keys_.reset();
}

void Scheduler::retarget(MidiOutput* port, std::vector<std::uint8_t>* farewell) {
    if (port_ != nullptr) {
        letGo([&](std::uint8_t status, std::uint8_t d1, std::uint8_t d2) {
            if (farewell != nullptr) farewell->insert(farewell->end(), {status, d1, d2});
        });
    } else if (synth_ != nullptr) {
        cut();
    }
    plan_ = nullptr;
    waiting_ = false;
    keys_.reset();
    for (auto& held : live_) held.reset();
    usedChannels_ = 0;
    port_ = port;
    if (port != nullptr && sysexOut_.capacity() < kMaxPortSysex + 2) {
        sysexOut_.reserve(kMaxPortSysex + 2);
    }
}

void Scheduler::playLive(std::uint8_t status, std::uint8_t d1, std::uint8_t d2) noexcept {
    const auto ch = static_cast<std::size_t>(midi::channelOf(status));
    const std::uint8_t kind = midi::statusKind(status);
    if (kind == midi::kNoteOn && d2 > 0) {
        live_[ch].set(d1 & 0x7F);
    } else if (kind == midi::kNoteOn || kind == midi::kNoteOff) {
        live_[ch].reset(d1 & 0x7F);
    }
    putMessage(status, d1, d2);
}

void Scheduler::cut() noexcept {
    // The reset resets the channels but only releases the voices; cutting
    // them must come after it, or the release it queues wins.
    fluid_synth_system_reset(synth_);
    fluid_synth_all_sounds_off(synth_, -1);
    keys_.reset();
    for (auto& held : live_) held.reset();
    // The cut voices still feed the effects during their anti-click fade;
    // with the effects off nothing of that rings on.
    fluid_synth_reverb_on(synth_, -1, 0);
    fluid_synth_chorus_on(synth_, -1, 0);
}

bool Scheduler::dispatchBlock() noexcept {
    if (plan_ == nullptr || waiting_ || prerolling()) return false;
    // Events nearer to this block start than to the next one go now.
    const std::int64_t limit =
        songCenti_ + static_cast<std::int64_t>(kBlockFrames / 2) * blockSpeed_;
    dispatchUntil(limit);
    const auto endCenti = static_cast<std::int64_t>(plan_->endFrame) * 100;
    if (next_ < plan_->endEvent || endCenti >= limit) return false;
    if (plan_->passage) releaseNotes();
    if (plan_->loops) {
        seam(limit);
        return false;
    }
    songCenti_ = std::max(songCenti_, endCenti);
    plan_ = nullptr;
    return true;
}

void Scheduler::dispatchUntil(std::int64_t limit) noexcept {
    const Song& song = *plan_->song;
    for (; next_ < plan_->endEvent; ++next_) {
        const SongEvent& e = song.events[next_];
        const auto ideal = static_cast<std::int64_t>(nsToFrames(e.timeNs, rate_));
        if (ideal * 100 >= limit) break;
        send(song, e);
        if (probe_ != nullptr) {
            const std::int64_t err = (songCenti_ - ideal * 100) / blockSpeed_;  // real frames
            probe_->worstFrames = std::max(probe_->worstFrames, err < 0 ? -err : err);
            ++probe_->events;
        }
    }
}

// The passage comes round again in this same block: its start's state, then
// its first events. The clock keeps what it ran past the end, so that no
// round drifts from the last.
void Scheduler::seam(std::int64_t limit) noexcept {
    keys_.reset();
    for (const SongEvent& e : plan_->seam) send(*plan_->song, e);
    const auto span = static_cast<std::int64_t>(plan_->endFrame - plan_->loopFrame) * 100;
    songCenti_ -= span;
    next_ = plan_->loopEvent;
    dispatchUntil(limit - span);
}

// Note-offs, not a cut: each note dies away as it would at its own end.
void Scheduler::releaseNotes() noexcept {
    keys_.releaseAll([this](int ch, int key) {
        putMessage(static_cast<std::uint8_t>(midi::kNoteOff | ch), static_cast<std::uint8_t>(key),
                   0);
    });
}

void Scheduler::send(const Song& song, const SongEvent& e) noexcept {
    if (synth_ == nullptr && port_ == nullptr) return;
    keys_.see(song, e);
    const int ch = midi::channelOf(e.status);
    switch (midi::statusKind(e.status)) {
        case midi::kNoteOff:
            sendNote(ch, e.data1, 0);
            break;
        case midi::kNoteOn:
            sendNote(ch, e.data1, e.data2);
            break;
        case midi::kKeyPressure:
            if (const int key = keys_.pressure(ch, e.data1); key != KeyShift::kNone) {
                putMessage(e.status, static_cast<std::uint8_t>(key), e.data2);
            }
            break;
        case midi::kControlChange:
        case midi::kProgramChange:
        case midi::kChannelPressure:
        case midi::kPitchBend:
            putMessage(e.status, e.data1, e.data2);
            break;
        default:
            sendSysex(song.sysexBytes(e));
            break;
    }
}

void Scheduler::sendSysex(std::span<const std::uint8_t> body) noexcept {
    if (body.empty()) return;
    if (port_ == nullptr) {
        if (!isTuningMessage(body)) {
            fluid_synth_sysex(synth_, reinterpret_cast<const char*>(body.data()),
                              static_cast<int>(body.size()), nullptr, nullptr, nullptr, 0);
        }
        return;
    }
    if (body.size() > kMaxPortSysex) return;
    // The buffer was reserved off the audio side: no allocation here.
    sysexOut_.clear();
    sysexOut_.push_back(midi::kSysEx);
    sysexOut_.insert(sysexOut_.end(), body.begin(), body.end());
    if (body.back() != midi::kSysExEscape) sysexOut_.push_back(midi::kSysExEscape);
    port_->send(offset_, sysexOut_);
}

// A note on (velocity > 0) or off, on the key it sounds as in the key played.
void Scheduler::sendNote(int ch, int key, int velocity) noexcept {
    const auto off = static_cast<std::uint8_t>(midi::kNoteOff | ch);
    if (velocity == 0) {
        if (const int k = keys_.noteOff(ch, key); k != KeyShift::kNone) {
            putMessage(off, static_cast<std::uint8_t>(k), 0);
        }
        return;
    }
    const KeyShift::Strike strike = keys_.noteOn(ch, key);
    if (strike.release != KeyShift::kNone)
        putMessage(off, static_cast<std::uint8_t>(strike.release), 0);
    if (strike.play != KeyShift::kNone) {
        putMessage(static_cast<std::uint8_t>(midi::kNoteOn | ch),
                   static_cast<std::uint8_t>(strike.play), static_cast<std::uint8_t>(velocity));
    }
}

// One channel message to the port, or to the synthesizer.
void Scheduler::putMessage(std::uint8_t status, std::uint8_t d1, std::uint8_t d2) noexcept {
    const int ch = midi::channelOf(status);
    if (port_ != nullptr) {
        usedChannels_ = static_cast<std::uint16_t>(usedChannels_ | (1u << ch));
        const std::array<std::uint8_t, 3> msg{status, d1, d2};
        port_->send(offset_,
                    std::span(msg).first(1 + static_cast<std::size_t>(midi::dataBytes(status))));
        return;
    }
    if (synth_ == nullptr) return;
    switch (midi::statusKind(status)) {
        case midi::kNoteOff:
            fluid_synth_noteoff(synth_, ch, d1);
            break;
        case midi::kNoteOn:
            fluid_synth_noteon(synth_, ch, d1, d2);
            break;
        case midi::kKeyPressure:
            fluid_synth_key_pressure(synth_, ch, d1, d2);
            break;
        case midi::kControlChange:
            fluid_synth_cc(synth_, ch, d1, d2);
            break;
        case midi::kProgramChange:
            fluid_synth_program_change(synth_, ch, d1);
            break;
        case midi::kChannelPressure:
            fluid_synth_channel_pressure(synth_, ch, d1);
            break;
        case midi::kPitchBend:
            fluid_synth_pitch_bend(synth_, ch, d1 | (d2 << 7));
            break;
        default:
            break;
    }
}

void Scheduler::write(float* left, float* right, std::size_t n) noexcept {
    if (port_ != nullptr || synth_ == nullptr || left == nullptr || right == nullptr) return;
    sounded_ = true;
    fluid_synth_write_float(synth_, static_cast<int>(n), left, 0, 1, right, 0, 1);
}

}  // namespace lirno::device
