#include "device/engine/scheduler.h"

#include <fluidsynth.h>

#include <algorithm>

#include "device/song/chase.h"
#include "midi/vocabulary.h"

namespace lirno::device {
namespace {

// MIDI Tuning Standard messages (universal, sub-ID 08) make FluidSynth
// allocate tuning tables, which the audio side must not do: they are left out.
bool isTuningMessage(std::span<const std::uint8_t> body) {
    return body.size() >= 3 && (body[0] == 0x7E || body[0] == 0x7F) && body[2] == 0x08;
}

}  // namespace

std::unique_ptr<PlayPlan> makePlan(std::shared_ptr<const Song> song, std::uint32_t fromUnits,
                                   std::uint32_t rate) {
    auto plan = std::make_unique<PlayPlan>();
    const std::int64_t startNs = std::min(unitsToNs(fromUnits), song->endNs);
    plan->firstEvent = song->events.firstAt(startNs);
    if (plan->firstEvent > 0) plan->preroll = chaseState(*song, plan->firstEvent);
    plan->startFrame = nsToFrames(startNs, rate);
    plan->endFrame = nsToFrames(song->endNs, rate);
    plan->song = std::move(song);
    return plan;
}

void Scheduler::start(const PlayPlan& plan) noexcept {
    plan_ = &plan;
    next_ = plan.firstEvent;
    songFrame_ = plan.startFrame;
    if (synth_ != nullptr && sounded_) {
        cut();
        waiting_ = true;
        startedAt_ = synthFrame_;
    } else {
        begin();
    }
}

void Scheduler::begin() noexcept {
    waiting_ = false;
    prerollNext_ = 0;
    if (synth_ == nullptr) {
        prerollNext_ = plan_->preroll.size();  // nothing to send it to
        return;
    }
    // Also clears the reverb and chorus lines before they are switched on.
    fluid_synth_system_reset(synth_);
    fluid_synth_all_sounds_off(synth_, -1);
    fluid_synth_reverb_on(synth_, -1, 1);
    fluid_synth_chorus_on(synth_, -1, 1);
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
    // The cut voices still feed the effects during their anti-click fade;
    // with the effects off nothing of that rings on.
    fluid_synth_reverb_on(synth_, -1, 0);
    fluid_synth_chorus_on(synth_, -1, 0);
}

bool Scheduler::dispatchBlock() noexcept {
    if (plan_ == nullptr || waiting_ || prerolling()) return false;
    const Song& song = *plan_->song;
    // Events nearer to this block start than to the next one go now.
    const std::uint64_t limit = songFrame_ + kBlockFrames / 2;
    while (next_ < song.events.size()) {
        const SongEvent& e = song.events[next_];
        const std::uint64_t ideal = nsToFrames(e.timeNs, rate_);
        if (ideal >= limit) break;
        send(song, e);
        if (probe_ != nullptr) {
            const auto err =
                static_cast<std::int64_t>(songFrame_) - static_cast<std::int64_t>(ideal);
            probe_->worstFrames = std::max(probe_->worstFrames, err < 0 ? -err : err);
            ++probe_->events;
        }
        ++next_;
    }
    if (next_ >= song.events.size() && plan_->endFrame < limit) {
        songFrame_ = std::max(songFrame_, plan_->endFrame);
        plan_ = nullptr;
        return true;
    }
    return false;
}

void Scheduler::send(const Song& song, const SongEvent& e) noexcept {
    if (synth_ == nullptr) return;
    const int ch = midi::channelOf(e.status);
    switch (midi::statusKind(e.status)) {
        case midi::kNoteOff:
            fluid_synth_noteoff(synth_, ch, e.data1);
            break;
        case midi::kNoteOn:
            if (e.data2 == 0) {
                fluid_synth_noteoff(synth_, ch, e.data1);
            } else {
                fluid_synth_noteon(synth_, ch, e.data1, e.data2);
            }
            break;
        case midi::kKeyPressure:
            fluid_synth_key_pressure(synth_, ch, e.data1, e.data2);
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

void Scheduler::write(float* left, float* right, std::size_t n) noexcept {
    if (synth_ == nullptr || left == nullptr || right == nullptr) return;
    sounded_ = true;
    fluid_synth_write_float(synth_, static_cast<int>(n), left, 0, 1, right, 0, 1);
}

}  // namespace lirno::device
