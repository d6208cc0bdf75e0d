// The sound settings: a stack of SoundFonts (the first winning), reverb and
// chorus, and a font that cannot be read leaving the sound as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "device/errors.h"
#include "device/render/offline.h"
#include "device_support.h"
#include "midi_writer.h"

namespace lirno::device {
namespace {

using test::Bytes;
using test::Track;

const std::string kSmall = LIRNO_TEST_SOUNDFONT;
const std::string kLarge = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

// One note of a preset (bank, program), then a second of silence.
Bytes noteOf(int bank, int program) {
    Track t;
    t.cc(0, 0, 0, bank).program(0, 0, program).on(0, 0, 60, 100).off(48, 0, 60);
    return test::smf(0, 96, {t.eot(192)});
}

std::vector<float> render(const Bytes& song, const SoundSettings& sound) {
    RenderOptions o;
    o.sound = sound;
    o.tailSeconds = 0.5;
    RenderedAudio out;
    EXPECT_EQ(renderToMemory(song, 0, o, out), 0);
    return out.left;
}

SoundSettings stack(std::vector<std::string> fonts) {
    SoundSettings s;
    s.soundFonts = std::move(fonts);
    return s;
}

double energyFrom(const std::vector<float>& s, std::size_t from) {
    double e = 0;
    for (std::size_t i = from; i < s.size(); ++i) e += double(s[i]) * s[i];
    return e;
}

TEST(SoundStack, TheFirstFontWinsAndAPresetItLacksComesFromTheNext) {
    if (!std::filesystem::exists(kLarge)) GTEST_SKIP() << "needs " << kLarge;
    // The piano is in both: the stack sounds as its first font alone.
    const Bytes piano = noteOf(0, 0);
    const auto smallPiano = render(piano, stack({kSmall}));
    ASSERT_NE(smallPiano, render(piano, stack({kLarge})));
    EXPECT_EQ(render(piano, stack({kSmall, kLarge})), smallPiano);
    EXPECT_EQ(render(piano, stack({kLarge, kSmall})), render(piano, stack({kLarge})));
    // Bank 8's variation is only in the large font: it sounds from there,
    // not as the small font's fallback to bank 0.
    const Bytes variation = noteOf(8, 4);
    const auto largeVariation = render(variation, stack({kLarge}));
    ASSERT_NE(largeVariation, render(variation, stack({kSmall})));
    EXPECT_EQ(render(variation, stack({kSmall, kLarge})), largeVariation);
}

TEST(SoundStack, EffectsFollowTheSettingsAndDefaultsSoundAsBefore) {
    const Bytes piano = noteOf(0, 0);
    RenderOptions o;
    o.soundFont = kSmall;
    o.tailSeconds = 0.5;
    RenderedAudio plain;
    ASSERT_EQ(renderToMemory(piano, 0, o, plain), 0);
    EXPECT_EQ(render(piano, stack({kSmall})), plain.left);
    // After the note's release, the reverb's tail is what rings on.
    SoundSettings dry = stack({kSmall});
    dry.chorus.on = false;
    SoundSettings wet = dry;
    wet.reverb = {true, 1.0, 1.0};
    dry.reverb.on = false;
    const auto wetOut = render(piano, wet);
    const auto dryOut = render(piano, dry);
    const std::size_t tail = kDefaultRenderRate * 3 / 4;  // the note ends at 0.25 s
    ASSERT_GT(wetOut.size(), tail);
    ASSERT_GT(dryOut.size(), tail);
    EXPECT_GT(energyFrom(wetOut, tail), 10 * energyFrom(dryOut, tail) + 1e-6);
}

// Two plays of one note on a device on the test clock, `between` them.
std::vector<float> secondPlay(const std::function<void(FluidDevice&)>& between) {
    FluidDevice dev(test::manualSettings());
    EXPECT_EQ(dev.waitReady(), 0);
    DeviceId id = 0;
    std::uint32_t length = 0;
    EXPECT_EQ(dev.openBytes(noteOf(0, 0), id, length), 0);
    std::vector<float> l(8192), r(8192);
    for (int play = 0; play < 2; ++play) {
        if (play == 1) between(dev);
        EXPECT_EQ(dev.play(id, 0, {}), 0);
        dev.renderManual(l.data(), r.data(), l.size());
    }
    return l;
}

TEST(SoundStack, AFontThatCannotBeReadIsRefusedAndTheOldSoundKept) {
    const std::string broken = (std::filesystem::path(testing::TempDir()) / "broken.sf2").string();
    std::ofstream(broken) << "RIFF but not a SoundFont";
    const auto refused = secondPlay([&](FluidDevice& dev) {
        SoundSettings s = stack({broken, kSmall});
        s.reverb.on = false;
        EXPECT_EQ(dev.setSound(s), kErrSoundFontLoad);
        EXPECT_EQ(dev.setSound(stack({kSmall, "/nonexistent/none.sf2"})), kErrNoSoundFont);
    });
    const auto kept = secondPlay([](FluidDevice&) {});
    EXPECT_EQ(refused, kept);
    EXPECT_NE(kept, secondPlay([](FluidDevice& dev) {
                  SoundSettings s = stack({kSmall});
                  s.reverb.on = false;
                  EXPECT_EQ(dev.setSound(s), 0);
              }));
}

TEST(SoundStack, ASongGoesOnFromWhereItIsWithTheNewSound) {
    test::Notices notices;  // outlives the device, which aborts the play as it goes
    FluidDevice dev(test::manualSettings());
    ASSERT_EQ(dev.waitReady(), 0);
    DeviceId id = 0;
    std::uint32_t length = 0;
    ASSERT_EQ(dev.openBytes(test::songOfSeconds(4), id, length), 0);
    ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
    std::vector<float> l(kSampleRate), r(kSampleRate);
    dev.renderManual(l.data(), r.data(), l.size());
    const std::uint64_t at = dev.playedFrame();
    ASSERT_GT(at, kSampleRate / 2);
    SoundSettings s = stack({kSmall});
    s.chorus.on = false;
    ASSERT_EQ(dev.setSound(s), 0);
    dev.renderManual(l.data(), r.data(), kSampleRate / 4);
    EXPECT_GE(dev.playedFrame(), at);
    const std::uint64_t later = dev.playedFrame();
    s.reverb.on = false;  // and again, from there
    ASSERT_EQ(dev.setSound(s), 0);
    dev.renderManual(l.data(), r.data(), kSampleRate / 4);
    EXPECT_GE(dev.playedFrame(), later);
    EXPECT_EQ(notices.size(), 0u);  // the same play, not a new one
    std::uint32_t pos = 0;
    ASSERT_EQ(dev.position(id, pos), 0);
    EXPECT_GE(pos, 8u);  // past its first second
}

}  // namespace
}  // namespace lirno::device
