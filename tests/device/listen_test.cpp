// Tests that listen: render through FluidSynth and measure what comes out.
#include <gtest/gtest.h>

#include <cmath>

#include "device/engine/fluid_device.h"
#include "device/errors.h"
#include "device/render/offline.h"
#include "midi_writer.h"

namespace lirno::device {
namespace {

using test::Bytes;
using test::Track;

constexpr std::size_t kRate = kSampleRate;

RenderOptions opts() {
    RenderOptions o;
    o.soundFont = LIRNO_TEST_SOUNDFONT;
    o.tailSeconds = 0.2;
    return o;
}

double rms(const std::vector<float>& v, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    to = std::min(to, v.size());
    if (to <= from) return 0.0;
    double s = 0;
    for (std::size_t i = from; i < to; ++i) s += static_cast<double>(v[i]) * v[i];
    return std::sqrt(s / static_cast<double>(to - from));
}

float peak(const std::vector<float>& v, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    float p = 0;
    for (std::size_t i = from; i < std::min(to, v.size()); ++i) p = std::max(p, std::fabs(v[i]));
    return p;
}

// A sustained note restruck every second on channel 0 for `seconds`.
Track notesTrack(int seconds, int program = -1) {
    Track t;
    if (program >= 0) t.program(0, 0, program);
    for (int i = 0; i < seconds; ++i) t.on(0, 0, 60).off(190, 0, 60, 70).ev(2, {0xB0, 1, 0});
    return t.eot();
}

// The muting edit: note-on and note-off swapped, note-off velocities zeroed,
// so each former note-off is a note-on with velocity 0.
Track mutedTwin(int seconds) {
    Track t;
    for (int i = 0; i < seconds; ++i) t.off(0, 0, 60, 100).on(190, 0, 60, 0).ev(2, {0xB0, 1, 0});
    return t.eot();
}

RenderedAudio render(const Bytes& song, std::uint32_t from = 0) {
    RenderedAudio a;
    EXPECT_EQ(renderToMemory(song, from, opts(), a), 0);
    return a;
}

TEST(Listen, MutedTrackIsSilentWhileItsTwinIsNot) {
    const RenderedAudio muted = render(test::smf(1, 96, {Track().eot(), mutedTwin(3)}));
    const RenderedAudio open = render(test::smf(1, 96, {Track().eot(), notesTrack(3)}));
    ASSERT_GE(muted.left.size(), 3 * kRate);
    EXPECT_LT(peak(muted.left), 1e-6f);
    EXPECT_LT(peak(muted.right), 1e-6f);
    EXPECT_GT(rms(open.left), 1e-3);
}

TEST(Listen, RenderIsDeterministic) {
    const Bytes song = test::smf(1, 96, {notesTrack(2, 48)});
    const RenderedAudio a = render(song);
    const RenderedAudio b = render(song);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
}

// How much of a note's early loudness is left late in it: about 1 for an
// organ, well below for a piano.
double sustainRatio(const std::vector<float>& v, std::size_t noteStart) {
    const double early = rms(v, noteStart + kRate / 20, noteStart + kRate / 4);
    const double late = rms(v, noteStart + 3 * kRate / 4, noteStart + 19 * kRate / 20);
    return late / std::max(early, 1e-12);
}

TEST(Listen, ProgramChosenBeforeTheStartIsInForceFromTheMiddle) {
    const Bytes organ = test::smf(0, 96, {notesTrack(6, 19)});  // church organ
    const Bytes piano = test::smf(0, 96, {notesTrack(6)});
    const RenderedAudio organFrom0 = render(organ);
    const RenderedAudio organMid = render(organ, 24);  // 3 s in: the program change is long past
    const RenderedAudio pianoMid = render(piano, 24);
    const double whole = sustainRatio(organFrom0.left, 3 * kRate);
    const double mid = sustainRatio(organMid.left, 0);
    const double other = sustainRatio(pianoMid.left, 0);
    EXPECT_NEAR(mid, whole, 0.15 * whole);
    EXPECT_GT(mid, 2.0 * other);
    EXPECT_NEAR(rms(organMid.left, 0, kRate), rms(organFrom0.left, 3 * kRate, 4 * kRate),
                0.15 * rms(organFrom0.left, 3 * kRate, 4 * kRate));
}

TEST(Listen, VolumeSetBeforeTheStartIsInForceFromTheMiddle) {
    Track quiet = notesTrack(4);
    Track t;
    t.cc(0, 0, 7, 20);
    for (int i = 0; i < 4; ++i) t.on(0, 0, 60).off(190, 0, 60).ev(2, {0xB0, 1, 0});
    t.eot();
    const double soft = rms(render(test::smf(0, 96, {t}), 16).left, 0, kRate);
    const double loud = rms(render(test::smf(0, 96, {quiet}), 16).left, 0, kRate);
    EXPECT_GT(soft, 0.0);
    EXPECT_LT(soft, 0.3 * loud);
}

TEST(Listen, RenderFromBeyondTheEndIsOutOfRange) {
    RenderedAudio a;
    EXPECT_EQ(renderToMemory(test::smf(0, 96, {notesTrack(1)}), 9, opts(), a), kErrOutOfRange);
}

// ------------------------------------------------------------------ real-time engine, manual clock

class ManualDevice : public testing::Test {
  protected:
    ManualDevice() {
        DeviceSettings s;
        s.audioDriver = kAudioManual;
        s.soundFont = LIRNO_TEST_SOUNDFONT;
        dev = std::make_unique<FluidDevice>(s);
    }
    void SetUp() override { ASSERT_EQ(dev->waitReady(), 0); }

    RenderedAudio pump(std::size_t frames, std::size_t chunk = 256) {
        RenderedAudio a;
        a.left.resize(frames);
        a.right.resize(frames);
        for (std::size_t done = 0; done < frames; done += chunk) {
            const std::size_t n = std::min(chunk, frames - done);
            dev->renderManual(a.left.data() + done, a.right.data() + done, n);
        }
        return a;
    }

    std::unique_ptr<FluidDevice> dev;
};

TEST_F(ManualDevice, StopLeavesSilenceWithinOneBlock) {
    DeviceId id = 0;
    std::uint32_t len = 0;
    // Reverb-heavy sustained organ chord: the tails must go too.
    Track t;
    t.program(0, 0, 19)
        .cc(0, 0, 91, 127)
        .on(0, 0, 60)
        .on(0, 0, 64)
        .on(0, 0, 67)
        .off(960, 0, 60)
        .eot();
    ASSERT_EQ(dev->openBytes(test::smf(0, 96, {t}), id, len), 0);
    for (auto stopper : {+[](FluidDevice&d, DeviceId i) { return d.stop(i); },
                         +[](FluidDevice&d, DeviceId i) { return d.pause(i); }}) {
        ASSERT_EQ(dev->play(id, 0, {}), 0);
        const RenderedAudio before = pump(kRate / 2, 100);  // odd chunks: not block-aligned
        ASSERT_GT(rms(before.left, kRate / 4), 1e-3);
        ASSERT_EQ(stopper(*dev, id), 0);
        const float playing = peak(before.left);
        const RenderedAudio after = pump(kRate / 4, 100);
        // The stop lands on the next block start (within the first 64 frames);
        // the block after it holds only the voices' anti-click fade.
        EXPECT_LE(peak(after.left, 0, 2 * kBlockFrames), playing);
        EXPECT_LT(peak(after.left, 2 * kBlockFrames), 1e-5f);
        EXPECT_LT(peak(after.right, 2 * kBlockFrames), 1e-5f);
    }
}

TEST_F(ManualDevice, RestartSilencesTheOldNotesAndChasesTheNewStart) {
    DeviceId id = 0;
    std::uint32_t len = 0;
    Track t;
    t.program(0, 0, 19).on(0, 0, 48).off(1920, 0, 48);
    t.program(0, 1, 19).on(0, 1, 72).off(1920, 1, 72).eot();  // from 10 s: another note
    ASSERT_EQ(dev->openBytes(test::smf(0, 96, {t}), id, len), 0);
    ASSERT_EQ(dev->play(id, 0, {}), 0);
    pump(kRate / 2);
    ASSERT_EQ(dev->play(id, 88, {}), 0);  // 11 s: only the high note, already past its start
    const RenderedAudio a = pump(kRate / 2);
    // Nothing sounds: the low note was cut, the high note began before the start
    // point. FluidSynth's reverb keeps a trace of state through its reset that
    // leaves a whisper below -60 dBFS, against about -30 dBFS while playing.
    // (The restart lands on the first block start, within the first 64 frames.)
    EXPECT_LT(peak(a.left, kBlockFrames), 1e-3f);
    EXPECT_LT(peak(a.right, kBlockFrames), 1e-3f);
    std::uint32_t pos = 0;
    ASSERT_EQ(dev->position(id, pos), 0);
    EXPECT_GE(pos, 91u);  // 88 + 0.5 s, less the wait for the first block start
    EXPECT_LE(pos, 92u);
}

TEST_F(ManualDevice, PlayFromTheMiddleSoundsLikeTheOfflineRender) {
    DeviceId id = 0;
    std::uint32_t len = 0;
    const Bytes song = test::smf(0, 96, {notesTrack(4, 19)});
    ASSERT_EQ(dev->openBytes(song, id, len), 0);
    ASSERT_EQ(dev->play(id, 16, {}), 0);
    const RenderedAudio live = pump(kRate);
    const RenderedAudio offline = render(song, 16);
    EXPECT_NEAR(sustainRatio(live.left, 0), sustainRatio(offline.left, 0), 0.1);
    EXPECT_NEAR(rms(live.left, 0, kRate), rms(offline.left, 0, kRate),
                0.1 * rms(offline.left, 0, kRate));
}

}  // namespace
}  // namespace lirno::device
