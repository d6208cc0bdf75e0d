// Offline rendering: the playing engine driven by a sample clock instead of
// a sound card, as fast as the machine allows and the same every time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/device.h"
#include "device/engine/sample_rates.h"
#include "device/engine/synth.h"
#include "device/song/song.h"

namespace lirno::device {

// A song that falls silent with its next event further away than this is
// taken to end there: such a stretch is a damaged delta time's doing (the
// rest of the file read as sounding months later), not music.
inline constexpr std::int64_t kMaxGapNs = 10 * 60 * 1'000'000'000LL;

// A stretch of more than kMaxGapNs without an event: from the last event
// before it (or the start position) to the next.
struct LongGap {
    std::int64_t fromNs = 0;
    std::int64_t toNs = 0;
};

// The events of songs rendered together, from a start position: where the
// last is and the long gaps before it in which none of the songs has one.
struct SoundSpan {
    std::int64_t lastEventNs = -1;  // -1 for none
    std::vector<LongGap> gaps;      // in time order
};
SoundSpan soundSpan(std::span<const Song* const> songs, std::uint32_t fromUnits);

struct RenderOptions {
    std::string soundFont;  // empty: findSoundFont(); several joined with ':' make a stack
    // The stack (sound.soundFonts, when not empty, wins over soundFont) and
    // the effects: the player's settings make a render sound as it plays.
    SoundSettings sound;
    std::uint32_t rate = kDefaultRenderRate;
    // Offline there is no deadline to keep, so no note is ever dropped for
    // want of a voice: FluidSynth's default of 256 drops notes in dense
    // orchestral songs (and stems would then not add up to their mix).
    int polyphony = 1024;
    // Once every voice has died away after the song's last event, the
    // effects ring on this long.
    double tailSeconds = 1.0;
    // A render never goes further than this past the song's last event,
    // whatever the song's nominal length and however long a note holds.
    double maxRingSeconds = 5.0;
    // A font cut down to what the song plays (the same sound in less
    // memory), or the whole font.
    FontUse fontUse = FontUse::AsPlayed;
    // Speed, key and passage, as the player's device plays them; a passage
    // renders once, from its start to its end.
    PlaybackSettings playback;
    // The events' span, when a job decides it for all its renders alike (so
    // that stems end where their mix does); otherwise the song's own. A
    // render stops in the first long gap in which no voice sounds.
    std::optional<SoundSpan> span;
};

// How a render ended.
struct RenderEnd {
    std::uint64_t frames = 0;         // rendered
    std::uint64_t nominalFrames = 0;  // from the start position to the song's nominal end
    bool stillSounding = false;       // cut at maxRingSeconds with voices sounding
    std::optional<LongGap> gap;       // the long gap it stopped in, if any
    float peak = 0.0f;                // largest absolute sample
};

// Stereo, one float per frame and channel, full scale at +-1.
struct RenderedAudio {
    std::vector<float> left;
    std::vector<float> right;
};

// Takes each rendered chunk; false stops the render (the output failed).
using RenderSink = std::function<bool(const float* left, const float* right, std::size_t frames)>;
// Frames rendered so far in this render.
using FrameProgress = std::function<void(std::uint64_t frames)>;
using RenderProgress = std::function<void(double fraction)>;

// Renders a song from a position in units (the state in force there is
// chased exactly as when playing) into `sink`, until the song's sound has
// died away. Returns 0 or a kErr* code (kErrCancelled once `cancel` is set,
// kErrAudioWrite when the sink fails).
int renderSong(std::shared_ptr<const Song> song, std::uint32_t fromUnits,
               const RenderOptions& options, const RenderSink& sink, RenderEnd& end,
               const std::atomic<bool>* cancel = nullptr, const FrameProgress& progress = {});

// The frames a render from `fromUnits` spans up to the song's last event
// that sounds: the bulk of the work, known before rendering.
std::uint64_t eventFrames(const Song& song, std::uint32_t fromUnits, std::uint32_t rate);

// A song given as bytes rendered into memory.
int renderToMemory(std::span<const std::uint8_t> midiBytes, std::uint32_t fromUnits,
                   const RenderOptions& options, RenderedAudio& out, RenderProgress progress = {});

}  // namespace lirno::device
