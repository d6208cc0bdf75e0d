// How the device plays a song at another speed, in another key and over a
// passage: measured on the scheduler's clock and in the rendered audio.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "device/engine/fluid_device.h"
#include "device/engine/scheduler.h"
#include "device/engine/synth.h"
#include "device/errors.h"
#include "device/render/offline.h"
#include "device/song/smf_reader.h"
#include "device_support.h"
#include "midi_writer.h"

namespace lirno::device {
namespace {

using test::Bytes;
using test::Track;

constexpr std::uint64_t kRate = kSampleRate;

std::shared_ptr<const Song> songOf(const Bytes& b) {
    SmfResult r = readSmf(b);
    EXPECT_EQ(r.error, SmfError::None);
    return std::make_shared<const Song>(std::move(r.song));
}

// Renders a plan through a real synthesizer, block by block; `atBlock` runs
// before each block with the real frame reached.
struct Listened {
    std::vector<float> left, right;
    TimingProbe probe;
};
Listened listen(const PlayPlan& plan, std::uint64_t frames,
                const std::function<void(Scheduler&, std::uint64_t)>& atBlock = {}) {
    int err = 0;
    const auto synth = createSynth(LIRNO_TEST_SOUNDFONT, err);
    EXPECT_TRUE(synth);
    Listened out;
    out.left.resize(frames);
    out.right.resize(frames);
    Scheduler sch(synth->synth.get());
    sch.setProbe(&out.probe);
    sch.start(plan);
    for (std::uint64_t at = 0; at < frames; at += kBlockFrames) {
        if (atBlock) atBlock(sch, at);
        sch.render(&out.left[at], &out.right[at],
                   std::min<std::uint64_t>(kBlockFrames, frames - at));
    }
    return out;
}

double rms(const std::vector<float>& v, std::uint64_t from, std::uint64_t to) {
    double s = 0;
    for (std::uint64_t i = from; i < to; ++i) s += static_cast<double>(v[i]) * v[i];
    return std::sqrt(s / static_cast<double>(to - from));
}

std::uint64_t onset(const std::vector<float>& v, std::uint64_t from, float threshold) {
    for (std::uint64_t i = from; i < v.size(); ++i) {
        if (std::fabs(v[i]) > threshold) return i;
    }
    return v.size();
}

// ------------------------------------------------------------------ the clock and the passage

// Notes every 0.25 s for 4 s (96 ticks a quarter at 120 a minute: 48 ticks each).
Bytes steadyNotes() {
    Track t;
    for (int i = 0; i < 16; ++i) t.on(i == 0 ? 0 : 24, 0, 60 + i % 12).off(24, 0, 60 + i % 12);
    return test::smf(0, 96, {t.eot()});
}

TEST(PlaybackClock, EventsKeepTheirSongTimesAtAnySpeedWithoutDrift) {
    const auto s = songOf(steadyNotes());
    const auto plan = makePlan(s, 0);
    for (const int speed : {37, 50, 200}) {
        TimingProbe probe;
        Scheduler sch(nullptr);
        sch.setProbe(&probe);
        sch.setSpeed(speed);
        sch.start(*plan);
        std::uint64_t real = 0;
        while (sch.playing()) {
            sch.render(nullptr, nullptr, kBlockFrames);
            real += kBlockFrames;
            // The position stays in the song's own time: exactly the real
            // frames scaled, nothing lost to rounding block after block.
            if (sch.playing()) {
                EXPECT_EQ(sch.songFrame(), real * speed / 100) << speed;
            }
        }
        EXPECT_EQ(probe.events, s->events.size()) << speed;
        EXPECT_LE(probe.worstFrames, static_cast<std::int64_t>(kBlockFrames / 2)) << speed;
        // It ends in the block nearest to the song's end.
        EXPECT_NEAR(static_cast<double>(real),
                    static_cast<double>(realFrames(plan->endFrame, speed)), kBlockFrames * 3 / 2)
            << speed;
        EXPECT_NEAR(static_cast<double>(sch.songFrame()), static_cast<double>(plan->endFrame),
                    kBlockFrames / 2 * speed / 100.0);
    }
    // A change while playing applies from the next block on.
    Scheduler sch(nullptr);
    sch.start(*plan);
    sch.render(nullptr, nullptr, 100 * kBlockFrames);
    sch.setSpeed(25);
    sch.render(nullptr, nullptr, 100 * kBlockFrames);
    EXPECT_EQ(sch.songFrame(), 125 * kBlockFrames);
    // An offline render lasts as long as the play at that speed.
    RenderOptions o;
    o.soundFont = LIRNO_TEST_SOUNDFONT;
    o.playback.speed = 50;
    RenderEnd end;
    ASSERT_EQ(renderSong(
                  s, 0, o, [](const float*, const float*, std::size_t) { return true; }, end),
              0);
    EXPECT_EQ(end.nominalFrames, realFrames(plan->endFrame, 50));
}

// Passage [1 s, 3 s): a wood block on the right at its start, its volume
// turned down in its middle, and an organ note on the left that still
// sounds at its end.
Bytes passageSong() {
    Track t;
    t.program(0, 0, 19).cc(0, 0, 10, 0).cc(0, 9, 10, 127).cc(0, 9, 7, 100);
    t.on(192, 9, 76, 127).off(96, 9, 76);        // 1 s, right
    t.cc(112, 9, 7, 20).ev(0, {0xE9, 0, 0x70});  // 2.17 s: quieter, bent
    t.on(80, 0, 60, 110).off(120, 0, 60);        // 2.5 s .. 3.125 s, left
    return test::smf(0, 96, {t.eot()});
}

TEST(PlaybackClock, PassageLoopsWithItsStartStateNotesReleasedAndNoGap) {
    const auto s = songOf(passageSong());
    ASSERT_TRUE(s->timing);
    // From the song's start, outside the passage: it starts at the passage's start.
    const auto plan = makePlan(s, 0, kRate, PlanPassage{{192, 576}, true});
    EXPECT_EQ(plan->startFrame, kRate);
    const std::uint64_t round = 2 * kRate;
    bool inside = true;
    const Listened a = listen(*plan, 3 * round, [&](Scheduler& sch, std::uint64_t) {
        inside = inside && sch.playing() && sch.songFrame() + kBlockFrames >= kRate &&
                 sch.songFrame() < 3 * kRate;
    });
    EXPECT_TRUE(inside);  // round after round, the position stays in the passage
    // Every round's events go out on time: note, volume, bend, note on; the
    // note-offs after the end are the seam's business.
    EXPECT_EQ(a.probe.events, 3u * 6u - 2u);
    EXPECT_LE(a.probe.worstFrames, static_cast<std::int64_t>(kBlockFrames / 2));
    const float loud = 0.3f * *std::max_element(a.right.begin(), a.right.begin() + kRate / 2);
    const std::uint64_t first = onset(a.right, 0, loud);
    for (std::uint64_t r = 1; r < 3; ++r) {
        // The right note comes back at the seam, no more than a block late...
        const std::uint64_t again = onset(a.right, r * round - kRate / 4, loud);
        EXPECT_LE(again > r * round + first ? again - r * round - first : r * round + first - again,
                  kBlockFrames)
            << r;
        // ...at the volume in force at the passage's start, not the later one.
        EXPECT_NEAR(rms(a.right, r * round, r * round + kRate / 2), rms(a.right, 0, kRate / 2),
                    0.1 * rms(a.right, 0, kRate / 2))
            << r;
        // The left note, sounding at the seam, is released there (it would
        // hold for ever, an organ): fading, not cut, then gone.
        EXPECT_GT(rms(a.left, r * round, r * round + kBlockFrames), 1e-3) << r;
        EXPECT_LT(rms(a.left, r * round + kRate / 2, r * round + kRate), 1e-3) << r;
    }
}

TEST(PlaybackClock, DevicePlaysThePassageInSongTimeUntilStopped) {
    FluidDevice dev(test::manualSettings());
    ASSERT_EQ(dev.waitReady(), 0);
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(passageSong(), id, len), 0);
    EXPECT_EQ(dev.setPlayback({50, 0, Passage{192, 576}}), 0);
    EXPECT_EQ(dev.setPlayback({20, 0, {}}), kErrOutOfRange);
    EXPECT_EQ(dev.setPlayback({100, 13, {}}), kErrOutOfRange);
    test::Notices notices;
    ASSERT_EQ(dev.play(id, 24, notices.notifier()), 0);  // 3 s: past the passage
    std::uint32_t pos = 0;
    dev.position(id, pos);
    EXPECT_EQ(pos, 8u);
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    std::uint64_t lowest = UINT64_MAX, highest = 0;
    for (std::uint64_t at = 0; at < 12 * kRate; at += kBlockFrames) {
        dev.renderManual(l.data(), r.data(), kBlockFrames);
        lowest = std::min(lowest, dev.playedFrame());
        highest = std::max(highest, dev.playedFrame());
    }
    // Three rounds at half speed, and not one end notice.
    EXPECT_GE(lowest + kBlockFrames, kRate);
    EXPECT_LT(highest, 3 * kRate + kBlockFrames / 2);
    EXPECT_GT(highest + kBlockFrames, 3 * kRate);
    EXPECT_EQ(notices.size(), 0u);
    // A speed change goes on from where the play is, at once.
    EXPECT_EQ(dev.setPlayback({200, 0, Passage{192, 576}}), 0);
    dev.renderManual(l.data(), r.data(), kBlockFrames);
    const std::uint64_t before = dev.playedFrame();
    dev.renderManual(l.data(), r.data(), kBlockFrames);
    EXPECT_EQ(dev.playedFrame(), before + 2 * kBlockFrames);
    ASSERT_EQ(dev.stop(id), 0);
    ASSERT_TRUE(notices.waitFor(1));
    EXPECT_EQ(notices.codes(), std::vector<int>{kNotifyAborted});
}

// ------------------------------------------------------------------ another key

RenderedAudio rendered(const Bytes& song, int transpose) {
    RenderOptions o;
    o.soundFont = LIRNO_TEST_SOUNDFONT;
    o.tailSeconds = 0.2;
    o.playback.transpose = transpose;
    RenderedAudio a;
    EXPECT_EQ(renderToMemory(song, 0, o, a), 0);
    return a;
}

// Melodic notes and key pressure on channel 1, drums on channel 10 and on
// channel 2 once a GS message makes it a rhythm part, and a high note on
// channel 3 (moved past the keyboard by an octave up: left out in `written`).
// The GS message goes to every device (7F): FluidSynth answers no other.
Bytes keySong(int shift, bool highNote) {
    Track t;
    t.program(0, 0, 0).program(0, 2, 19);
    t.sysex(0, 0xF0, {0x41, 0x7F, 0x42, 0x12, 0x40, 0x12, 0x15, 0x02, 0x17, 0xF7});
    t.on(10, 0, 60 + shift)
        .on(0, 9, 38)
        .on(0, 1, 40)
        .ev(0, {0xA0, static_cast<std::uint8_t>(60 + shift), 90});
    if (highNote) t.on(0, 2, 120);
    t.off(96, 0, 60 + shift).off(0, 9, 38).off(0, 1, 40);
    if (highNote) t.off(0, 2, 120);
    t.on(20, 0, 67 + shift).off(96, 0, 67 + shift);
    return test::smf(0, 96, {t.eot()});
}

TEST(Transpose, EveryChannelButDrumPartsMovesAndNotesPastTheKeyboardAreSilent) {
    const RenderedAudio moved = rendered(keySong(0, true), 12);
    const RenderedAudio written = rendered(keySong(12, false), 0);
    ASSERT_GT(rms(written.left, 0, written.left.size()), 1e-3);
    EXPECT_EQ(moved.left, written.left);
    EXPECT_EQ(moved.right, written.right);
}

TEST(Transpose, NotesEndOnTheKeyTheyStartedOnAcrossAChange) {
    // An organ note (it holds until its note-off) struck a tone up; the key
    // goes down a third while it sounds; its note-off and a note struck
    // after the change.
    Track t;
    t.program(0, 0, 19).on(0, 0, 60).on(48, 0, 64).off(48, 0, 60).off(48, 0, 64);
    const auto s = songOf(test::smf(0, 96, {t.eot()}));
    Track w;
    w.program(0, 0, 19).on(0, 0, 62).on(48, 0, 61).off(48, 0, 62).off(48, 0, 61);
    const auto ws = songOf(test::smf(0, 96, {w.eot()}));
    const auto change = [](int before, int after) {
        return [before, after](Scheduler& sch, std::uint64_t at) {
            sch.setTranspose(at < kRate / 8 ? before : after);
        };
    };
    const Listened heard = listen(*makePlan(s, 0), 3 * kRate, change(2, -3));
    const Listened meant = listen(*makePlan(ws, 0), 3 * kRate, change(0, 0));
    EXPECT_EQ(heard.left, meant.left);
    EXPECT_EQ(heard.right, meant.right);
    EXPECT_LT(rms(heard.left, 2 * kRate, 3 * kRate), 1e-4);  // nothing stuck
}

}  // namespace
}  // namespace lirno::device
