// Offline renders written to audio files: formats, length, gain, and files
// that appear only when whole.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "device/errors.h"
#include "device/render/render_job.h"
#include "device/song/song_file.h"
#include "midi_writer.h"

namespace lirno::device {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Track;

RenderOptions opts() {
    RenderOptions o;
    o.soundFont = LIRNO_TEST_SOUNDFONT;
    o.tailSeconds = 0.2;
    return o;
}

// A piano note struck each second for `seconds`, on channel 0.
Track notes(int seconds) {
    Track t;
    for (int i = 0; i < seconds; ++i) t.on(0, 0, 60).off(190, 0, 60).ev(2, {0xB0, 1, 0});
    return t;
}

struct Decoded {
    int rate = 0;
    int channels = 0;
    std::vector<short> samples;
};

Decoded decode(const fs::path& p) {
    Decoded d;
    SF_INFO info{};
    SNDFILE* f = sf_open(p.c_str(), SFM_READ, &info);
    if (f == nullptr) return d;
    d.rate = info.samplerate;
    d.channels = info.channels;
    d.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    d.samples.resize(
        static_cast<std::size_t>(sf_readf_short(f, d.samples.data(), info.frames) * info.channels));
    sf_close(f);
    return d;
}

AudioFormat format(const std::string& ext) {
    AudioFormat f;
    std::string error;
    EXPECT_TRUE(audioFormatFor(ext, f, error)) << error;
    return f;
}

class RenderJob : public testing::Test {
  protected:
    void SetUp() override {
        dir = fs::path(testing::TempDir()) / ("render_job_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    RenderTarget target(const Bytes& song, const std::string& name) const {
        return {song, (dir / name).string(), format(name)};
    }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path dir;
};

TEST_F(RenderJob, FormatsComeFromTheNameAndUnknownOnesAreRefused) {
    AudioFormat f;
    std::string error;
    for (const char* name : {"a.wav", "b.FLAC", "c.ogg", "song.v2.flac"})
        EXPECT_TRUE(audioFormatFor(name, f, error)) << name;
    EXPECT_FALSE(audioFormatFor("song.aiff", f, error));
    EXPECT_NE(error.find("wav, flac, ogg"), std::string::npos) << error;
    EXPECT_FALSE(audioFormatFor("dir.flac/song", f, error));
    ASSERT_TRUE(audioFormatFor("x.wav", f, error));
    EXPECT_FALSE(rateFits(f, 8000, error));
    EXPECT_TRUE(rateFits(f, 96000, error));
}

TEST_F(RenderJob, WavAndFlacHoldTheSameSamplesAtTheChosenRate) {
    const Bytes song = test::smf(0, 96, {notes(2).eot()});
    JobOptions o;
    o.render = opts();
    o.render.rate = 22050;
    JobReport report;
    std::vector<double> progress;
    ASSERT_EQ(renderJob({target(song, "a.wav"), target(song, "a.flac"), target(song, "a.ogg")}, o,
                        report, nullptr, [&](double f) { progress.push_back(f); }),
              0)
        << report.error;
    const Decoded wav = decode(dir / "a.wav"), flac = decode(dir / "a.flac");
    EXPECT_EQ(wav.rate, 22050);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.samples.size(), 2 * report.frames);
    EXPECT_EQ(wav.samples, flac.samples);
    const Decoded vorbis = decode(dir / "a.ogg");  // lossy: the same length and rate
    EXPECT_EQ(vorbis.rate, 22050);
    EXPECT_EQ(vorbis.samples.size(), wav.samples.size());
    // The last event is at 2 s; then the piano's release and the 0.2 s tail.
    EXPECT_GT(report.frames, 2 * 22050u);
    EXPECT_LT(report.frames, 4 * 22050u);
    EXPECT_EQ(report.gain, 1.0);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    EXPECT_EQ(files(), (std::vector<std::string>{"a.flac", "a.ogg", "a.wav"}));  // nothing else
}

TEST_F(RenderJob, RenderEndsSoonAfterTheLastEventWhateverTheNominalLength) {
    // A huge delta before a last meta event: a nominal length of weeks.
    const Bytes damaged = test::smf(0, 96, {notes(1).text(0x0FFFFFFF, "late").eot()});
    std::shared_ptr<const Song> song;
    ASSERT_EQ(parseSong(damaged, song), 0);
    RenderEnd end;
    const RenderSink sink = [](const float*, const float*, std::size_t) { return true; };
    ASSERT_EQ(renderSong(song, 0, opts(), sink, end), 0);
    EXPECT_GT(end.nominalFrames, 1'000'000'000u);
    EXPECT_GT(end.frames, kDefaultRenderRate);
    EXPECT_LT(end.frames, 3 * kDefaultRenderRate);
    EXPECT_FALSE(end.stillSounding);

    // An organ note that is never released stops at the ring limit.
    const Bytes held =
        test::smf(0, 96, {Track().program(0, 0, 19).on(0, 0, 60).text(0x0FFFFFFF, "x").eot()});
    ASSERT_EQ(parseSong(held, song), 0);
    RenderOptions o = opts();
    o.maxRingSeconds = 1.5;
    ASSERT_EQ(renderSong(song, 0, o, sink, end), 0);
    EXPECT_EQ(end.frames, kDefaultRenderRate * 3 / 2);
    EXPECT_TRUE(end.stillSounding);
}

TEST_F(RenderJob, RenderEndsAtASilenceOfMoreThanTenMinutesBeforeMoreEvents) {
    // A damaged delta time in the middle of a track: its next note comes
    // 2^28 ticks (about 16 days) later. The other track ends with the first note.
    const std::uint32_t damaged = 0x0FFFFFFF;
    const Track a = notes(1).on(damaged, 0, 64).off(190, 0, 64).eot();
    const Track b = Track().on(0, 1, 67).off(190, 1, 67).eot();
    JobOptions o;
    o.render = opts();
    o.render.rate = 22050;
    o.mixIndex = 0;
    JobReport report;
    ASSERT_EQ(renderJob({target(test::smf(1, 96, {a, b}), "mix.wav"),
                         target(test::smf(1, 96, {a, Track().eot()}), "a.wav"),
                         target(test::smf(1, 96, {Track().eot(), b}), "b.wav")},
                        o, report),
              0)
        << report.error;
    EXPECT_GT(report.nominalFrames, 1'000'000'000u);
    EXPECT_GT(report.frames, 22050u);
    EXPECT_LT(report.frames, 3 * 22050u);
    EXPECT_FALSE(report.stillSounding);
    EXPECT_NEAR(static_cast<double>(report.gapFrames) / 22050, damaged / 192.0, 1.0);
    for (const char* name : {"mix.wav", "a.wav", "b.wav"})
        EXPECT_EQ(decode(dir / name).samples.size(), 2 * report.frames) << name;

    // A stem alone may fall silent for long where its mix does not: the
    // job's songs together decide where all of them end.
    const std::uint32_t minute = 60 * 192;
    std::shared_ptr<const Song> late, between;
    ASSERT_EQ(
        parseSong(test::smf(0, 96, {notes(1).on(11 * minute, 0, 60).off(96, 0, 60).eot()}), late),
        0);
    ASSERT_EQ(
        parseSong(test::smf(0, 96, {Track().on(6 * minute, 1, 60).off(96, 1, 60).eot()}), between),
        0);
    const Song* alone[] = {late.get()};
    const SoundSpan lone = soundSpan(alone, 0);
    ASSERT_EQ(lone.gaps.size(), 1u);
    EXPECT_EQ(lone.gaps[0].fromNs, 1'000'000'000);
    EXPECT_EQ(lone.gaps[0].toNs, 661'000'000'000);
    const Song* together[] = {late.get(), between.get()};
    const SoundSpan both = soundSpan(together, 0);
    EXPECT_TRUE(both.gaps.empty());
    EXPECT_EQ(both.lastEventNs, 661'500'000'000);
}

// 320 organ notes held at once: far more voices than a live synthesizer
// keeps, yet offline none is dropped, so the channels rendered one by one
// add up to the whole.
TEST_F(RenderJob, DenseChordsLoseNoNoteOffline) {
    auto chord = [](int only) {
        Track t;
        for (int ch = 0; ch < 16; ++ch) {
            if (ch == 9) continue;
            t.program(0, ch, 19).cc(0, ch, 7, 40);
            for (int k = 0; k < 22; ++k)
                if (only < 0 || only == ch) t.on(0, ch, 40 + k, 60);
        }
        return test::smf(0, 96, {t.cc(96, 0, 1, 0).eot()});
    };
    RenderOptions o = opts();
    o.maxRingSeconds = 0.25;
    RenderedAudio all, one;
    ASSERT_EQ(renderToMemory(chord(-1), 0, o, all), 0);
    std::vector<float> sum(all.left.size());
    for (int ch = 0; ch < 16; ++ch) {
        if (ch == 9) continue;
        ASSERT_EQ(renderToMemory(chord(ch), 0, o, one), 0);
        ASSERT_EQ(one.left.size(), all.left.size());
        for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += one.left[i];
    }
    double diff = 0, energy = 0;
    for (std::size_t i = 0; i < sum.size(); ++i) {
        diff += (sum[i] - all.left[i]) * (sum[i] - all.left[i]);
        energy += all.left[i] * all.left[i];
    }
    ASSERT_GT(energy, 0.0);
    EXPECT_LT(diff / energy, 1e-4);  // -40 dB; with 256 voices a fifth of the notes go missing
}

TEST_F(RenderJob, LoudRenderIsScaledBelowFullScaleOrNormalized) {
    Track loud;
    for (int ch = 0; ch < 9; ++ch) {
        loud.cc(0, ch, 7, 127).cc(0, ch, 11, 127).program(0, ch, 30);
        for (int key : {36, 40, 43, 48, 52, 55, 60}) loud.on(0, ch, key, 127);
    }
    const Bytes song = test::smf(0, 96, {loud.ev(192, {0xB0, 123, 0}).eot()});
    JobOptions o;
    o.render = opts();
    JobReport report;
    ASSERT_EQ(renderJob({target(song, "loud.wav")}, o, report), 0) << report.error;
    ASSERT_GT(report.peak, 1.0);  // it would clip
    EXPECT_NEAR(report.gain, 1.0 / report.peak, 1e-9);
    const Decoded d = decode(dir / "loud.wav");
    const auto atFullScale = std::count_if(d.samples.begin(), d.samples.end(),
                                           [](short s) { return std::abs(s) >= 32766; });
    EXPECT_GE(atFullScale, 1);
    EXPECT_LE(atFullScale, 4);  // the peak itself, not a run of clipped samples

    o.normalizeDb = -6.0;
    ASSERT_EQ(renderJob({target(song, "half.wav")}, o, report), 0) << report.error;
    const Decoded h = decode(dir / "half.wav");
    const int peak =
        std::abs(*std::max_element(h.samples.begin(), h.samples.end(),
                                   [](short a, short b) { return std::abs(a) < std::abs(b); }));
    EXPECT_NEAR(peak, 32767 * 0.501, 40);
}

TEST_F(RenderJob, FailedOrInterruptedJobLeavesNoFileBehind) {
    const Bytes song = test::smf(0, 96, {notes(2).eot()});
    { std::ofstream(dir / "keep.wav") << "old"; }
    JobOptions o;
    o.render = opts();
    JobReport report;
    const std::atomic<bool> interrupted{true};
    EXPECT_EQ(
        renderJob({target(song, "keep.wav"), target(song, "new.flac")}, o, report, &interrupted),
        kErrCancelled);
    EXPECT_EQ(files(), std::vector<std::string>{"keep.wav"});
    std::ifstream kept(dir / "keep.wav");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "old");

    // A bad song or an unwritable folder among the targets: nothing is rendered.
    EXPECT_EQ(renderJob({target(song, "a.wav"), target(Bytes{'x', 'y'}, "b.wav")}, o, report),
              kErrNotMidi);
    EXPECT_EQ(renderJob({target(song, "a.wav"), target(song, "missing/b.wav")}, o, report),
              kErrAudioWrite);
    EXPECT_NE(report.error.find("missing"), std::string::npos) << report.error;
    fs::create_directory(dir / "folder.wav");
    EXPECT_EQ(renderJob({target(song, "a.wav"), target(song, "folder.wav")}, o, report),
              kErrAudioWrite);
    fs::remove(dir / "folder.wav");
    EXPECT_EQ(files(), std::vector<std::string>{"keep.wav"});
}

}  // namespace
}  // namespace lirno::device
