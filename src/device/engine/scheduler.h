// The scheduler: walks a parsed song in real time and feeds the synthesizer.
//
// It renders in the synthesizer's own 64-frame blocks and sends each event
// before the block whose start is nearest to the event's ideal frame, so no
// event is off by more than half a block. The same code runs inside the audio
// callback, behind the silent real-time clock and in offline rendering.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/engine/sample_rates.h"
#include "device/song/song.h"

typedef struct _fluid_synth_t fluid_synth_t;

namespace lirno::device {

inline constexpr std::size_t kBlockFrames = 64;  // FluidSynth's internal block
// A play's chased state goes out this many messages per block, so that no
// block renders more than a bounded amount of work; the song starts in the
// block that sends the last of them.
inline constexpr std::size_t kPrerollPerBlock = 128;

// Everything a play needs, prepared on the caller's thread so the audio
// thread only reads it.
struct PlayPlan {
    std::shared_ptr<const Song> song;
    std::vector<SongEvent> preroll;  // chased state at the start position
    std::size_t firstEvent = 0;
    std::uint64_t startFrame = 0;
    std::uint64_t endFrame = 0;
    std::uint64_t serial = 0;
};

// Builds the plan to play `song` from a position in units (not past its end).
std::unique_ptr<PlayPlan> makePlan(std::shared_ptr<const Song> song, std::uint32_t fromUnits,
                                   std::uint32_t rate = kSampleRate);

// Worst distance between an event's ideal frame and the block start it was
// sent before; filled in when a probe is attached (benchmarks).
struct TimingProbe {
    std::int64_t worstFrames = 0;
    std::uint64_t events = 0;
};

class Scheduler {
  public:
    // synth may be null: then only time and the event cursor advance.
    explicit Scheduler(fluid_synth_t* synth, std::uint32_t rate = kSampleRate) noexcept
        : synth_(synth), rate_(rate) {}

    void setSynth(fluid_synth_t* synth) noexcept { synth_ = synth; }
    void setProbe(TimingProbe* probe) noexcept { probe_ = probe; }
    // How many chased messages go out per block (kPrerollPerBlock unless
    // rendering offline, where no block has a deadline).
    void setPrerollPerBlock(std::size_t n) noexcept { prerollPerBlock_ = n == 0 ? 1 : n; }

    // Silences everything, resets the synthesizer and sends the chased state.
    // If the synthesizer has sounded before, the play begins one block later,
    // once the cut voices have faded, so nothing of them reaches the effects.
    // The chased state is spread over blocks (kPrerollPerBlock); the song's
    // clock stands until it is all sent.
    // The plan must outlive its play (until halt(), the next start() or the end).
    void start(const PlayPlan& plan) noexcept;
    // Silences every sounding note at once: voices fade out within the next
    // block (FluidSynth's anti-click ramp) and reverb and chorus stop, tails
    // and all, until the next start.
    void halt() noexcept;

    // Renders `frames` frames (left/right may be null to only advance time).
    // atBlock() runs at each block boundary before events are sent, so that
    // commands take effect on block starts. Returns true if the play reached
    // its end within this call.
    template <class AtBlock>
    bool render(float* left, float* right, std::size_t frames, AtBlock&& atBlock) noexcept {
        bool ended = false;
        std::size_t done = 0;
        while (done < frames) {
            const std::size_t phase = static_cast<std::size_t>(synthFrame_ % kBlockFrames);
            if (phase == 0) {
                atBlock();
                if (waiting_ && synthFrame_ != startedAt_) begin();
                if (prerolling()) sendPreroll();
                ended = dispatchBlock() || ended;
            }
            const std::size_t n = std::min(frames - done, kBlockFrames - phase);
            write(left ? left + done : nullptr, right ? right + done : nullptr, n);
            synthFrame_ += n;
            if (plan_ != nullptr && !waiting_ && !prerolling()) songFrame_ += n;
            done += n;
        }
        return ended;
    }
    bool render(float* left, float* right, std::size_t frames) noexcept {
        return render(left, right, frames, [] {});
    }

    bool playing() const noexcept { return plan_ != nullptr; }
    const PlayPlan* plan() const noexcept { return plan_; }
    std::uint64_t songFrame() const noexcept { return songFrame_; }
    std::uint32_t rate() const noexcept { return rate_; }

  private:
    void cut() noexcept;
    void begin() noexcept;
    bool prerolling() const noexcept {
        return plan_ != nullptr && !waiting_ && prerollNext_ < plan_->preroll.size();
    }
    void sendPreroll() noexcept;
    bool dispatchBlock() noexcept;
    void send(const Song& song, const SongEvent& e) noexcept;
    void write(float* left, float* right, std::size_t n) noexcept;

    fluid_synth_t* synth_;
    std::uint32_t rate_;
    TimingProbe* probe_ = nullptr;
    const PlayPlan* plan_ = nullptr;
    std::size_t next_ = 0;
    std::size_t prerollNext_ = 0;
    std::size_t prerollPerBlock_ = kPrerollPerBlock;
    std::uint64_t songFrame_ = 0;
    std::uint64_t synthFrame_ = 0;
    std::uint64_t startedAt_ = 0;
    bool waiting_ = false;  // started, but letting the old voices fade first
    bool sounded_ = false;  // the synthesizer has rendered since it was made
};

}  // namespace lirno::device
