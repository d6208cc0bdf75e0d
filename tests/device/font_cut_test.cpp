// A SoundFont cut down to what a song plays must sound exactly as the whole
// font does.
#include <gtest/gtest.h>

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/engine/synth.h"
#include "device/render/offline.h"
#include "device/song/song_file.h"
#include "device/soundfont/font_directory.h"
#include "device/soundfont/presets_played.h"
#include "midi_writer.h"

namespace lirno::device {
namespace {

using test::Bytes;
using test::Track;

// Everything that decides which preset and which of its zones a note
// sounds with: notes before any program change (the piano, the standard
// kit), a bank one font has and the other lacks, a missing kit, a GM reset
// in the middle, a channel turned into drums, keys and velocities across
// the range.
Bytes testSong() {
    Track t;
    for (int k = 21; k <= 108; k += 29) t.on(0, 0, k, 20 + k).off(12, 0, k);
    t.on(0, 9, 36).on(0, 9, 42, 127).off(24, 9, 36).off(0, 9, 42);
    t.program(0, 9, 25)
        .on(0, 9, 38, 90)
        .off(24, 9, 38)
        .program(0, 9, 99)
        .on(0, 9, 40)
        .off(24, 9, 40);
    t.cc(0, 1, 0, 8)
        .program(0, 1, 5)
        .on(0, 1, 60, 1)
        .on(0, 1, 72, 127)
        .off(48, 1, 60)
        .off(0, 1, 72);
    t.cc(0, 1, 0, 3).program(0, 1, 77).on(0, 1, 84, 64).off(48, 1, 84);
    t.program(0, 3, 40);
    for (int v = 10; v <= 127; v += 39) t.on(0, 3, 55 + v / 8, v).off(24, 3, 55 + v / 8);
    t.sysex(0, 0xF0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
    t.on(0, 1, 64).on(0, 3, 50).off(48, 1, 64).off(0, 3, 50);
    t.sysex(0, 0xF0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x13, 0x15, 0x01, 0x17, 0xF7});
    t.program(0, 2, 0).on(0, 2, 38).on(0, 2, 47, 50).off(48, 2, 38).off(0, 2, 47);
    t.eot(96);
    return test::smf(0, 96, {t});
}

std::vector<std::string> fonts() {
    std::vector<std::string> found;
    for (const char* f : {LIRNO_TEST_SOUNDFONT, "/usr/share/sounds/sf2/FluidR3_GM.sf2"}) {
        if (std::filesystem::exists(f)) found.emplace_back(f);
    }
    return found;
}

std::vector<char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string writeFile(const std::string& name, const std::vector<char>& bytes) {
    const auto dir = std::filesystem::path(testing::TempDir()) / "font-cut";
    std::filesystem::create_directories(dir);
    const auto path = (dir / name).string();
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Where a directory chunk's records start.
std::size_t chunkData(const std::vector<char>& bytes, const std::string& id) {
    const auto at = std::search(bytes.begin(), bytes.end(), id.begin(), id.end());
    return static_cast<std::size_t>(at - bytes.begin()) + 8;
}

TEST(FontCut, SoundsExactlyAsTheWholeFont) {
    auto fontFiles = fonts();
    if (fontFiles.empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    // A damaged font too: instrument key ranges that run past 127.
    auto damaged = fileBytes(fontFiles[0]);
    const std::size_t igen = chunkData(damaged, "igen");
    const std::size_t igenEnd = chunkData(damaged, "shdr") - 8;
    for (std::size_t g = igen; g < igenEnd; g += 4) {
        if (damaged[g] == 43 && damaged[g + 1] == 0) damaged[g + 3] = '\xFF';
    }
    fontFiles.push_back(writeFile("wide-ranges.sf2", damaged));
    // A sample data list of an odd size, with no pad byte after it (as in
    // the MuseScore SF3 fonts): the directory starts right after it.
    auto odd = fileBytes(fontFiles[0]);
    const std::string sdta = "sdta";
    const auto sdtaList = static_cast<std::size_t>(
        std::search(odd.begin(), odd.end(), sdta.begin(), sdta.end()) - odd.begin() - 8);
    std::uint32_t sdtaSize = 0;
    std::memcpy(&sdtaSize, odd.data() + sdtaList + 4, 4);
    const std::vector<char> junk{'j', 'u', 'n', 'k', 1, 0, 0, 0, 'x'};  // skipped by the synth
    odd.insert(odd.begin() + static_cast<std::ptrdiff_t>(sdtaList + 8 + sdtaSize), junk.begin(),
               junk.end());
    for (std::size_t sizeAt : {std::size_t{4}, sdtaList + 4}) {
        std::uint32_t size = 0;
        std::memcpy(&size, odd.data() + sizeAt, 4);
        size += static_cast<std::uint32_t>(junk.size());
        std::memcpy(odd.data() + sizeAt, &size, 4);
    }
    fontFiles.push_back(writeFile("odd-sample-list.sf2", odd));
    ASSERT_TRUE(FontIndex::read(fontFiles.back()).has_value());
    const Bytes song = testSong();
    for (const std::string& font : fontFiles) {
        SCOPED_TRACE(font);
        RenderOptions whole;
        whole.soundFont = font;
        whole.fontUse = FontUse::Whole;
        RenderOptions cut = whole;
        cut.fontUse = FontUse::AsPlayed;
        RenderedAudio a, b;
        ASSERT_EQ(renderToMemory(song, 0, whole, a), 0);
        ASSERT_EQ(renderToMemory(song, 0, cut, b), 0);
        ASSERT_EQ(a.left.size(), b.left.size());
        float peak = 0;
        std::size_t firstDifference = a.left.size();
        for (std::size_t i = 0; i < a.left.size(); ++i) {
            peak = std::max(peak, std::abs(a.left[i]));
            if (firstDifference == a.left.size() &&
                (a.left[i] != b.left[i] || a.right[i] != b.right[i])) {
                firstDifference = i;
            }
        }
        EXPECT_GT(peak, 0.05f);
        EXPECT_EQ(firstDifference, a.left.size()) << "at frame " << firstDifference;
    }
}

TEST(FontCut, HoldsOnlyWhatIsPlayedAndIsReplacedWhenThatGrows) {
    const auto fontFiles = fonts();
    if (fontFiles.empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    int error = 0;
    auto inst = createSynth(fontFiles[0], error, 44100, 0, FontUse::AsPlayed);
    ASSERT_TRUE(inst && inst->fonts.firstCut()) << error;
    fluid_synth_t* synth = inst->synth.get();
    fluid_sfont_t* empty = fluid_synth_get_sfont_by_id(synth, inst->fonts.firstCut()->fontId());
    ASSERT_NE(empty, nullptr);
    fluid_sfont_iteration_start(empty);
    EXPECT_EQ(fluid_sfont_iteration_next(empty), nullptr);  // nothing before a song

    std::shared_ptr<const Song> song;
    ASSERT_EQ(parseSong(testSong(), song), 0);
    PresetNotes played = presetsPlayed(*song);
    ASSERT_TRUE(inst->fonts.firstCut()->cover(synth, played));
    const int first = inst->fonts.firstCut()->fontId();
    std::vector<PresetRef> held;
    fluid_sfont_t* font = fluid_synth_get_sfont_by_id(synth, first);
    fluid_sfont_iteration_start(font);
    while (fluid_preset_t* p = fluid_sfont_iteration_next(font)) {
        held.push_back({fluid_preset_get_banknum(p), fluid_preset_get_num(p)});
    }
    std::vector<PresetRef> want;
    for (const auto& [p, notes] : inst->fonts.firstCut()->loaded()) want.push_back(p);
    EXPECT_EQ(held, want);
    EXPECT_TRUE(std::find(held.begin(), held.end(), PresetRef{0, 40}) != held.end());
    EXPECT_LT(held.size(), 12u);

    // Fewer notes: the same cut. A new instrument: a new cut, the old gone.
    played.erase(PresetRef{0, 40});
    ASSERT_TRUE(inst->fonts.firstCut()->cover(synth, played));
    EXPECT_EQ(inst->fonts.firstCut()->fontId(), first);
    // A voice of the old cut still sounds (a play cut short fades out):
    // it ends before the old cut goes.
    fluid_synth_program_select(synth, 0, first, 0, 0);
    fluid_synth_noteon(synth, 0, 50, 70);  // a note the song plays
    std::vector<float> l(64), r(64);
    fluid_synth_write_float(synth, 64, l.data(), 0, 1, r.data(), 0, 1);
    ASSERT_GT(fluid_synth_get_active_voice_count(synth), 0);
    played[PresetRef{0, 56}].set(60, 100);
    ASSERT_TRUE(inst->fonts.firstCut()->cover(synth, played));
    EXPECT_EQ(fluid_synth_get_active_voice_count(synth), 0);
    EXPECT_NE(inst->fonts.firstCut()->fontId(), first);
    EXPECT_EQ(fluid_synth_sfcount(synth), 1);
    EXPECT_NE(fluid_sfont_get_preset(
                  fluid_synth_get_sfont_by_id(synth, inst->fonts.firstCut()->fontId()), 0, 56),
              nullptr);
}

TEST(FontCut, FilesBeyondTheReadersRulesAreLoadedWhole) {
    const std::string font = LIRNO_TEST_SOUNDFONT;
    if (!std::filesystem::exists(font)) GTEST_SKIP() << "no " << font;
    const auto bytes = fileBytes(font);
    ASSERT_TRUE(FontIndex::read(font).has_value());
    // Bytes after the directory: FluidSynth takes it or not, but this reader
    // cannot cut it, and the synth gets the whole file.
    auto trailing = bytes;
    trailing.insert(trailing.end(), {'j', 'u', 'n', 'k'});
    EXPECT_FALSE(FontIndex::read(writeFile("trailing.sf2", trailing)).has_value());
    // A preset bag index past the bags: neither reads it.
    auto broken = bytes;
    broken[chunkData(broken, "phdr") + 24] = '\xFF';
    broken[chunkData(broken, "phdr") + 25] = '\xFF';
    const auto brokenFile = writeFile("broken.sf2", broken);
    EXPECT_FALSE(FontIndex::read(brokenFile).has_value());
    int error = 0;
    auto inst = createSynth(brokenFile, error, 44100, 0, FontUse::AsPlayed);
    EXPECT_EQ(inst, nullptr);
    EXPECT_NE(error, 0);
}

}  // namespace
}  // namespace lirno::device
