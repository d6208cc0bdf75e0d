#include "device/render/offline.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "device/engine/key_shift.h"
#include "device/engine/scheduler.h"
#include "device/engine/synth.h"
#include "device/errors.h"
#include "device/song/song_file.h"
#include "device/soundfont/discovery.h"
#include "device/soundfont/presets_played.h"

namespace lirno::device {
namespace {

// A multiple of the synthesizer's block: every render of one song checks for
// silence on the same frames, so a mix and its stems end alike.
constexpr std::size_t kChunkFrames = 4096;

std::uint64_t secondsToFrames(double seconds, std::uint32_t rate) {
    return static_cast<std::uint64_t>(std::max(0.0, seconds) * rate);
}

float chunkPeak(const float* left, const float* right, std::size_t n, float peak) {
    for (std::size_t i = 0; i < n; ++i)
        peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    return peak;
}

// Where a render stops, relative to its start (all in frames): the tail
// after the first chunk boundary with no voice left past the last event or
// in a long gap, and never past the ring limit after the last event.
class Ending {
  public:
    Ending(std::uint64_t lastEvent, std::vector<LongGap> gaps, const RenderOptions& o)
        : lastEvent_(lastEvent),
          gaps_(std::move(gaps)),
          tail_(secondsToFrames(o.tailSeconds, o.rate)),
          limit_(lastEvent + secondsToFrames(o.maxRingSeconds, o.rate)) {}

    // The frames still to render after `done`, given the voices sounding now.
    std::uint64_t remaining(std::uint64_t done, int voices) {
        // All events before a point have been sent once the clock is a block past it.
        while (next_ < gaps_.size() && done + kBlockFrames >= to(next_)) ++next_;
        if (silentAt_ == kNever && voices == 0) {
            if (done >= lastEvent_ + kBlockFrames) {
                silentAt_ = done;
            } else if (next_ < gaps_.size() && done >= from(next_) + kBlockFrames) {
                silentAt_ = done;
                stoppedIn_ = next_;
            }
        }
        const std::uint64_t stop =
            silentAt_ == kNever ? limit_ : std::min(silentAt_ + tail_, limit_);
        return stop - std::min(stop, done);
    }
    bool stillSounding() const { return silentAt_ == kNever; }
    // Which of the long gaps the render stopped in; none: past their number.
    std::size_t stoppedIn() const { return stoppedIn_; }

  private:
    std::uint64_t from(std::size_t k) const { return static_cast<std::uint64_t>(gaps_[k].fromNs); }
    std::uint64_t to(std::size_t k) const { return static_cast<std::uint64_t>(gaps_[k].toNs); }

    std::uint64_t lastEvent_;
    std::vector<LongGap> gaps_;  // in frames from the start
    std::size_t next_ = 0;       // the first gap not yet over
    std::uint64_t tail_;
    std::uint64_t limit_;
    static constexpr std::uint64_t kNever = ~std::uint64_t{0};
    std::uint64_t silentAt_ = kNever;
    std::size_t stoppedIn_ = ~std::size_t{0};
};

// Walks the songs' events from `next` on while they follow each other within
// kMaxGapNs of `reach`; events of one song may carry another's on, so it
// goes round until none moves.
std::int64_t walkEvents(std::span<const Song* const> songs, std::vector<std::size_t>& next,
                        std::int64_t reach) {
    for (bool moved = true; moved;) {
        moved = false;
        for (std::size_t k = 0; k < songs.size(); ++k) {
            const EventList& events = songs[k]->events;
            for (; next[k] < events.size() && events[next[k]].timeNs - reach <= kMaxGapNs;
                 ++next[k]) {
                reach = std::max(reach, events[next[k]].timeNs);
                moved = true;
            }
        }
    }
    return reach;
}

// A render plays a passage once, from its start to its end.
std::optional<PlanPassage> oncePassage(const PlaybackSettings& s) {
    if (!s.passage) return std::nullopt;
    return PlanPassage{*s.passage, false};
}

std::uint32_t unitsAt(std::int64_t ns) {
    return static_cast<std::uint32_t>(ns / kNsPerUnit);
}

// Frames from a render's start to `ns`.
std::uint64_t framesFromStart(std::int64_t ns, std::int64_t startNs, std::uint32_t rate) {
    const std::uint64_t at = nsToFrames(ns, rate);
    const std::uint64_t start = nsToFrames(startNs, rate);
    return at - std::min(at, start);
}

// How a render of the plan ends, in real frames at the render's speed. A
// passage renders to its end and no further.
Ending endingOf(const PlayPlan& plan, const SoundSpan& span, const RenderOptions& options) {
    const std::uint64_t stop = plan.passage ? plan.endFrame : UINT64_MAX;
    const auto real = [&](std::int64_t ns) {
        const std::uint64_t at = std::min(nsToFrames(ns, options.rate), stop);
        return static_cast<std::int64_t>(
            realFrames(at - std::min(at, plan.startFrame), options.playback.speed));
    };
    std::vector<LongGap> gaps;
    for (const LongGap& g : span.gaps) {
        if (nsToFrames(g.fromNs, options.rate) < stop)
            gaps.push_back({real(g.fromNs), real(g.toNs)});
    }
    const std::uint64_t last =
        span.lastEventNs < 0 ? 0 : static_cast<std::uint64_t>(real(span.lastEventNs));
    return Ending(last, std::move(gaps), options);
}

}  // namespace

SoundSpan soundSpan(std::span<const Song* const> songs, std::uint32_t fromUnits) {
    const std::int64_t startNs = unitsToNs(fromUnits);
    std::vector<std::size_t> next;
    for (const Song* song : songs) next.push_back(song->events.firstAt(startNs));
    const std::vector<std::size_t> first = next;
    SoundSpan span;
    std::int64_t reach = startNs;
    for (;;) {
        reach = walkEvents(songs, next, reach);
        std::int64_t following = INT64_MAX;
        for (std::size_t k = 0; k < songs.size(); ++k) {
            if (next[k] < songs[k]->events.size())
                following = std::min(following, songs[k]->events[next[k]].timeNs);
        }
        if (following == INT64_MAX) break;
        span.gaps.push_back({reach, following});
        reach = following;
    }
    if (next != first) span.lastEventNs = reach;
    return span;
}

std::uint64_t eventFrames(const Song& song, std::uint32_t fromUnits, std::uint32_t rate) {
    const Song* const songs[] = {&song};
    const SoundSpan span = soundSpan(songs, fromUnits);
    if (span.lastEventNs < 0) return 0;
    return framesFromStart(span.lastEventNs, std::min(unitsToNs(fromUnits), song.endNs), rate);
}

int renderSong(std::shared_ptr<const Song> song, std::uint32_t fromUnits,
               const RenderOptions& options, const RenderSink& sink, RenderEnd& end,
               const std::atomic<bool>* cancel, const FrameProgress& progress) {
    end = {};
    if (fromUnits > song->lengthUnits() || !validPlayback(options.playback)) return kErrOutOfRange;
    int error = 0;
    // A fresh synthesizer each time: nothing left over from an earlier render
    // (reverb lines, channel state) can change the result.
    const std::string fallback = options.soundFont.empty() ? findSoundFont() : options.soundFont;
    const auto synth = createSynth(withFonts(options.sound, fallback), error, options.rate,
                                   options.polyphony, options.fontUse);
    if (!synth) return error;
    const int shift = options.playback.transpose;
    if (options.fontUse == FontUse::AsPlayed)
        synth->fonts.cover(synth->synth.get(), shiftedNotes(presetsPlayed(*song), shift, shift),
                           synth->fonts.allCut() ? std::set<PresetRef>{} : presetsAskedFor(*song));
    const Song* const songs[] = {song.get()};
    const auto plan = makePlan(song, fromUnits, options.rate, oncePassage(options.playback));
    const SoundSpan span = options.span ? *options.span : soundSpan(songs, unitsAt(plan->startNs));
    Ending ending = endingOf(*plan, span, options);
    end.nominalFrames = realFrames(plan->endFrame - std::min(plan->endFrame, plan->startFrame),
                                   options.playback.speed);
    Scheduler scheduler(synth->synth.get(), options.rate);
    scheduler.setPrerollPerBlock(SIZE_MAX);  // no sound card to keep up with
    scheduler.setSpeed(options.playback.speed);
    scheduler.setTranspose(options.playback.transpose);
    scheduler.start(*plan);

    std::array<float, kChunkFrames> left{};
    std::array<float, kChunkFrames> right{};
    std::uint64_t done = 0;
    for (;;) {
        const std::uint64_t rest =
            ending.remaining(done, fluid_synth_get_active_voice_count(synth->synth.get()));
        if (rest == 0) break;
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return kErrCancelled;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(rest, kChunkFrames));
        scheduler.render(left.data(), right.data(), n);
        done += n;
        end.peak = chunkPeak(left.data(), right.data(), n, end.peak);
        if (!sink(left.data(), right.data(), n)) return kErrAudioWrite;
        if (progress) progress(done);
    }
    end.frames = done;
    end.stillSounding = ending.stillSounding();
    if (ending.stoppedIn() < span.gaps.size()) end.gap = span.gaps[ending.stoppedIn()];
    return 0;
}

int renderToMemory(std::span<const std::uint8_t> midiBytes, std::uint32_t fromUnits,
                   const RenderOptions& options, RenderedAudio& out, RenderProgress progress) {
    std::shared_ptr<const Song> song;
    if (const int err = parseSong(midiBytes, song); err != 0) return err;
    out.left.clear();
    out.right.clear();
    const RenderSink sink = [&out](const float* l, const float* r, std::size_t n) {
        out.left.insert(out.left.end(), l, l + n);
        out.right.insert(out.right.end(), r, r + n);
        return true;
    };
    const auto total = static_cast<double>(eventFrames(*song, fromUnits, options.rate) + 1);
    FrameProgress frames;
    if (progress)
        frames = [&](std::uint64_t done) {
            progress(std::min(1.0, static_cast<double>(done) / total));
        };
    RenderEnd end;
    const int err = renderSong(std::move(song), fromUnits, options, sink, end, nullptr, frames);
    if (err == 0 && progress) progress(1.0);
    return err;
}

}  // namespace lirno::device
