#include "device/engine/scheduler.h"

#include <fluidsynth.h>

#include <algorithm>

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
    if (synth_ != nullptr && sounded_) {
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
    if (synth_ != nullptr) cut();
}

void Scheduler::cut() noexcept {
    // The reset resets the channels but only releases the voices; cutting
    // them must come after it, or the release it queues wins.
    fluid_synth_system_reset(synth_);
    fluid_synth_all_sounds_off(synth_, -1);
    keys_.reset();
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
        if (synth_ != nullptr) fluid_synth_noteoff(synth_, ch, key);
    });
}

void Scheduler::send(const Song& song, const SongEvent& e) noexcept {
    if (synth_ == nullptr) return;
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
                fluid_synth_key_pressure(synth_, ch, key, e.data2);
            }
            break;
        case midi::kControlChange:
            fluid_synth_cc(synth_, ch, e.data1, e.data2);
            break;
        case midi::kProgramChange:
            fluid_synth_program_change(synth_, ch, e.data1);
            break;
        case midi::kChannelPressure:
            fluid_synth_channel_pressure(synth_, ch, e.data1);
            break;
        case midi::kPitchBend:
            fluid_synth_pitch_bend(synth_, ch, e.data1 | (e.data2 << 7));
            break;
        default: {
            const auto body = song.sysexBytes(e);
            if (!body.empty() && !isTuningMessage(body)) {
                fluid_synth_sysex(synth_, reinterpret_cast<const char*>(body.data()),
                                  static_cast<int>(body.size()), nullptr, nullptr, nullptr, 0);
            }
            break;
        }
    }
}

// A note on (velocity > 0) or off, on the key it sounds as in the key played.
void Scheduler::sendNote(int ch, int key, int velocity) noexcept {
    if (velocity == 0) {
        if (const int k = keys_.noteOff(ch, key); k != KeyShift::kNone) {
            fluid_synth_noteoff(synth_, ch, k);
        }
        return;
    }
    const KeyShift::Strike strike = keys_.noteOn(ch, key);
    if (strike.release != KeyShift::kNone) fluid_synth_noteoff(synth_, ch, strike.release);
    if (strike.play != KeyShift::kNone) fluid_synth_noteon(synth_, ch, strike.play, velocity);
}

void Scheduler::write(float* left, float* right, std::size_t n) noexcept {
    if (synth_ == nullptr || left == nullptr || right == nullptr) return;
    sounded_ = true;
    fluid_synth_write_float(synth_, static_cast<int>(n), left, 0, 1, right, 0, 1);
}

}  // namespace lirno::device
