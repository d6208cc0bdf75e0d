// The scheduler: walks a parsed song in real time and feeds the synthesizer.
//
// It renders in the synthesizer's own 64-frame blocks and sends each event
// before the block whose start is nearest to the event's ideal frame, so no
// event is off by more than half a block. The same code runs inside the audio
// callback, behind the silent real-time clock and in offline rendering.
//
// The song's clock runs at the playing speed: it counts song time in
// hundredths of a frame and advances `speed` of them per real frame, so no
// speed ever lets it drift. Song frames (positions, the plan's frames) are
// the song's own time at 100 %.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "device/device.h"
#include "device/engine/key_shift.h"
#include "device/engine/sample_rates.h"
#include "device/ports/midi_ports.h"
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
    std::size_t endEvent = 0;  // the first event not played: the song's or the passage's end
    std::int64_t startNs = 0;
    std::uint64_t startFrame = 0;
    std::uint64_t endFrame = 0;
    std::uint64_t serial = 0;
    // A passage ends with its sounding notes released; one that loops then
    // goes on from its start, with the state in force there (`seam`).
    bool passage = false;
    bool loops = false;
    std::size_t loopEvent = 0;
    std::uint64_t loopFrame = 0;
    std::vector<SongEvent> seam;
};

// A passage as a plan plays it: over and over, or once (offline renders).
struct PlanPassage {
    Passage ticks;
    bool loops = true;
};

// Builds the plan to play `song` from a position in units (not past its
// end). With a passage, a position outside it starts at its start; a
// passage is left out when the song has no timing or it starts past the end.
std::unique_ptr<PlayPlan> makePlan(std::shared_ptr<const Song> song, std::uint32_t fromUnits,
                                   std::uint32_t rate = kSampleRate,
                                   std::optional<PlanPassage> passage = {});

// The real frames in which `songFrames` of the song go by at `speed` percent.
constexpr std::uint64_t realFrames(std::uint64_t songFrames, int speed) noexcept {
    const auto s = static_cast<std::uint64_t>(speed);
    return (songFrames * 100 + s - 1) / s;
}

// Worst distance between an event's ideal frame and the block start it was
// sent before; filled in when a probe is attached (benchmarks).
struct TimingProbe {
    std::int64_t worstFrames = 0;
    std::uint64_t events = 0;
};

// The longest system-exclusive message of a song that goes out to a port;
// longer ones (sample dumps) are left out.
inline constexpr std::size_t kMaxPortSysex = 64 * 1024;

class Scheduler {
  public:
    // synth may be null: then only time and the event cursor advance.
    explicit Scheduler(fluid_synth_t* synth, std::uint32_t rate = kSampleRate) noexcept
        : rate_(rate) {
        setSynth(synth);
    }

    // Off the audio thread: also reads whether the synth's settings want
    // its reverb and chorus, which each play switches on.
    void setSynth(fluid_synth_t* synth) noexcept;
    void setProbe(TimingProbe* probe) noexcept { probe_ = probe; }
    // Where events go from now on: a MIDI port (raw bytes, sent at the
    // offset of their block in the render call) or, with null, the synth.
    // Off the audio side, while it does not render. Whatever sounds on the
    // old target is ended: the synth is cut, and what a port needs to let
    // go of its notes is appended to `farewell` (when given) as 3-byte
    // messages for the old port to send. The play under way stops.
    void retarget(MidiOutput* port, std::vector<std::uint8_t>* farewell);
    MidiOutput* port() const noexcept { return port_; }
    // A message played live: not moved by the key, not part of the song's
    // notes, but its notes end with every halt or restart.
    void playLive(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) noexcept;
    // How many chased messages go out per block (kPrerollPerBlock unless
    // rendering offline, where no block has a deadline).
    void setPrerollPerBlock(std::size_t n) noexcept { prerollPerBlock_ = n == 0 ? 1 : n; }
    // Both take effect from the next block on, in a play under way too:
    // speed in percent (kMinSpeed..kMaxSpeed), the key in semitones.
    void setSpeed(int percent) noexcept { speed_ = percent; }
    void setTranspose(int semitones) noexcept { keys_.setTranspose(semitones); }

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
                offset_ = done;
                atBlock();
                blockSpeed_ = speed_;
                if (waiting_ && synthFrame_ != startedAt_) begin();
                if (prerolling()) sendPreroll();
                ended = dispatchBlock() || ended;
            }
            const std::size_t n = std::min(frames - done, kBlockFrames - phase);
            write(left ? left + done : nullptr, right ? right + done : nullptr, n);
            synthFrame_ += n;
            if (plan_ != nullptr && !waiting_ && !prerolling()) {
                songCenti_ += static_cast<std::int64_t>(n) * blockSpeed_;
            }
            done += n;
        }
        return ended;
    }
    bool render(float* left, float* right, std::size_t frames) noexcept {
        return render(left, right, frames, [] {});
    }

    bool playing() const noexcept { return plan_ != nullptr; }
    const PlayPlan* plan() const noexcept { return plan_; }
    std::uint64_t songFrame() const noexcept {
        return songCenti_ < 0 ? 0 : static_cast<std::uint64_t>(songCenti_ / 100);
    }
    std::uint32_t rate() const noexcept { return rate_; }

  private:
    void cut() noexcept;
    void begin() noexcept;
    bool prerolling() const noexcept {
        return plan_ != nullptr && !waiting_ && prerollNext_ < plan_->preroll.size();
    }
    void sendPreroll() noexcept;
    bool dispatchBlock() noexcept;
    void dispatchUntil(std::int64_t limitCenti) noexcept;
    void seam(std::int64_t limitCenti) noexcept;
    void releaseNotes() noexcept;
    void send(const Song& song, const SongEvent& e) noexcept;
    void sendSysex(std::span<const std::uint8_t> body) noexcept;
    void sendNote(int channel, int key, int velocity) noexcept;
    void putMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) noexcept;
    // Calls fn(status, data1, data2) for what lets go of every note sounding
    // on a port and resets every channel the play used, then forgets them.
    template <class Fn>
    void letGo(Fn&& fn) noexcept;
    void cutPort() noexcept;
    void write(float* left, float* right, std::size_t n) noexcept;

    fluid_synth_t* synth_ = nullptr;
    MidiOutput* port_ = nullptr;               // when set, events go there instead of to synth_
    std::size_t offset_ = 0;                   // the block's frame in the current render call
    std::uint16_t usedChannels_ = 0;           // channels sent to on the port since the play began
    std::array<std::bitset<128>, 16> live_{};  // notes held live
    std::vector<std::uint8_t> sysexOut_;       // F0 ... F7, sized off the audio side
    bool reverbOn_ = true;
    bool chorusOn_ = true;
    std::uint32_t rate_;
    TimingProbe* probe_ = nullptr;
    const PlayPlan* plan_ = nullptr;
    std::size_t next_ = 0;
    std::size_t prerollNext_ = 0;
    std::size_t prerollPerBlock_ = kPrerollPerBlock;
    // Song time in hundredths of a frame; a passage's seam may take it a
    // little before its start (less than half a block).
    std::int64_t songCenti_ = 0;
    int speed_ = 100;
    int blockSpeed_ = 100;  // the speed of the block being rendered
    KeyShift keys_;
    std::uint64_t synthFrame_ = 0;
    std::uint64_t startedAt_ = 0;
    bool waiting_ = false;  // started, but letting the old voices fade first
    bool sounded_ = false;  // the synthesizer has rendered since it was made
};

}  // namespace lirno::device
