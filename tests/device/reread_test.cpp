// Reading a rewritten file again after an edit: the song must be exactly the
// one a fresh read gives, whatever changed and however often.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "device/song/chase.h"
#include "device/song/smf_reader.h"
#include "device/soundfont/presets_played.h"
#include "midi_writer.h"

namespace lirno::device {
namespace {

using test::Bytes;
using test::Track;

SharedBytes share(const Bytes& b) {
    auto f = std::make_shared<FileBytes>();
    f->size = b.size();
    f->data = std::make_unique<std::uint8_t[]>(b.size());
    std::copy(b.begin(), b.end(), f->data.get());
    return f;
}

void expectSameSong(const Song& got, const Song& want) {
    ASSERT_EQ(got.events.size(), want.events.size());
    EXPECT_EQ(got.endNs, want.endNs);
    EXPECT_EQ(got.format, want.format);
    EXPECT_EQ(got.tracks, want.tracks);
    for (std::size_t i = 0; i < want.events.size(); ++i) {
        const SongEvent& a = got.events[i];
        const SongEvent& b = want.events[i];
        ASSERT_TRUE(a.timeNs == b.timeNs && a.status == b.status && a.data1 == b.data1 &&
                    a.data2 == b.data2 && a.track == b.track)
            << "event " << i;
        if (a.status == 0xF0) {
            ASSERT_TRUE(std::ranges::equal(got.sysexBytes(a), want.sysexBytes(b)));
        }
    }
    // The chase state too, which a reread may take from the song before.
    for (const std::size_t at :
         {want.events.size() / 3, want.events.size() * 4 / 5, want.events.size()}) {
        const auto x = chaseState(got, at);
        const auto y = chaseState(want, at);
        ASSERT_EQ(x.size(), y.size()) << "chase at " << at;
        for (std::size_t i = 0; i < x.size(); ++i) {
            ASSERT_TRUE(x[i].status == y[i].status && x[i].data1 == y[i].data1 &&
                        x[i].data2 == y[i].data2)
                << "chase at " << at << " message " << i;
        }
    }
}

// Edits of the kinds the player makes (a note's status flipped, a data byte
// rewritten) and others (any byte), each to one place of the file. After
// each, the file is read again from the song before and compared with a
// fresh read. Returns how many rereads shared the song before's order.
int editAndReread(Bytes file, std::mt19937& rng, int edits) {
    SmfResult first = readSmf(share(file));
    if (first.error != SmfError::None) return 0;
    Song before = std::move(first.song);
    // The device thins each song it opens; a thinner reusing its last thinned
    // order must give exactly what thinning the fresh read gives.
    ProgramThinner thinner;
    thinner.thin(std::make_shared<const Song>(before));
    int shared = 0;
    for (int k = 0; k < edits; ++k) {
        const std::size_t at = 14 + rng() % (file.size() - 14);
        std::uint8_t& b = file[at];
        const unsigned kind = rng() % 10;
        if (kind < 5 && b < 0x80) {
            b = static_cast<std::uint8_t>(rng() % 0x80);
        } else if (kind < 8 && b >= 0x80 && b < 0xA0) {
            b ^= 0x10;  // Note-On <-> Note-Off, as a mute does
        } else if (kind == 9) {
            b = static_cast<std::uint8_t>(rng());
        }
        SmfResult again = rereadSmf(share(file), before);
        const SmfResult fresh = readSmf(file);
        EXPECT_EQ(again.error, fresh.error);
        if (again.error != SmfError::None) return shared;
        expectSameSong(again.song, fresh.song);
        if (::testing::Test::HasFatalFailure()) return shared;
        expectSameSong(*thinner.thin(std::make_shared<const Song>(again.song)),
                       *withoutUnheardPrograms(std::make_shared<const Song>(fresh.song)));
        if (::testing::Test::HasFatalFailure()) return shared;
        if (again.song.events.order() == before.events.order()) ++shared;
        before = std::move(again.song);
    }
    return shared;
}

Bytes generatedSong(std::mt19937& rng, int tracks) {
    std::vector<Track> t(static_cast<std::size_t>(tracks));
    t[0].tempo(0, 500'000)
        .tempo(480, 400'000)
        .sysex(0, 0xF0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .eot(960);
    for (int i = 1; i < tracks; ++i) {
        Track& tr = t[static_cast<std::size_t>(i)];
        const int ch = i % 16;
        tr.program(0, ch, i).cc(0, ch, 7, 100).cc(0, ch, 101, 0).cc(0, ch, 100, 0).cc(0, ch, 6, 12);
        for (int n = 0; n < 150; ++n) {
            const int key = 40 + static_cast<int>(rng() % 40);
            tr.on(rng() % 40, ch, key).cc(rng() % 3, ch, 7, static_cast<int>(rng() % 128));
            tr.off(1 + rng() % 60, ch, key);
            if (n % 17 == 0) tr.program(0, ch, static_cast<int>(rng() % 128));
            if (n % 23 == 0)
                tr.sysex(0, 0xF0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x02, 0x19, 0xF7});
        }
        tr.eot();
    }
    return test::smf(1, 96, t);
}

TEST(Reread, GivesExactlyTheSongAFreshReadGives) {
    std::mt19937 rng(20261208);
    int shared = 0;
    for (const int tracks : {1, 3, 17, 80}) {
        SCOPED_TRACE(tracks);
        shared += editAndReread(generatedSong(rng, tracks), rng, 60);
        if (HasFatalFailure()) return;
    }
    // The point of rereading: most edits of this kind reuse the song before.
    EXPECT_GT(shared, 60);
}

// Which program changes the device leaves out, and which presets it pins,
// follow each edit: a new volume keeps them (and the thinned order is
// shared), a new program asks for another preset, a mute that leaves a
// program change without its note drops that one too.
TEST(Reread, ProgramsNobodyHearsFollowEachEdit) {
    Track conductor;
    conductor.tempo(0, 500'000).eot();
    Track a;
    a.program(0, 0, 40)
        .on(0, 0, 60)
        .off(10, 0, 60)
        .program(0, 0, 41)
        .on(0, 0, 62)
        .off(10, 0, 62)
        .eot();
    Track b;
    b.program(0, 0, 50).cc(0, 0, 7, 100).eot();  // after a's first note, before 41: unheard
    Bytes file = test::smf(1, 96, {conductor, a, b});
    const auto at = [&file](std::initializer_list<std::uint8_t> bytes) {
        return std::search(file.begin(), file.end(), bytes.begin(), bytes.end()) - file.begin();
    };
    const auto programs = [](const Song& song) {
        std::vector<int> p;
        for (const SongEvent& e : song.events) {
            if ((e.status & 0xF0) == 0xC0) p.push_back(e.data1);
        }
        return p;
    };
    ProgramThinner thinner;
    PresetsAsked asked;
    SmfResult first = readSmf(share(file));
    Song before = std::move(first.song);
    const auto thin0 = thinner.thin(std::make_shared<const Song>(before));
    EXPECT_EQ(programs(*thin0), (std::vector<int>{40, 41}));
    EXPECT_EQ(asked.of(*thin0), presetsAskedFor(*thin0));
    // A new volume, a new program, then a mute of a's first note.
    for (const auto& [where, value] :
         {std::pair{at({0xB0, 7, 100}) + 2, 30}, std::pair{at({0xC0, 41}) + 1, 45},
          std::pair{at({0x90, 60}), 0x80}}) {
        file[static_cast<std::size_t>(where)] = static_cast<std::uint8_t>(value);
        SmfResult again = rereadSmf(share(file), before);
        ASSERT_EQ(again.song.events.order(), before.events.order());
        const auto thin = thinner.thin(std::make_shared<const Song>(again.song));
        expectSameSong(*thin,
                       *withoutUnheardPrograms(std::make_shared<const Song>(readSmf(file).song)));
        EXPECT_EQ(asked.of(*thin), presetsAskedFor(*thin));
        if (value == 30) {
            EXPECT_EQ(thin->events.order(), thin0->events.order());
        }
        before = std::move(again.song);
    }
    EXPECT_EQ(programs(*thinner.thin(std::make_shared<const Song>(before))),
              (std::vector<int>{45}));
}

TEST(Reread, SharedFilesGiveExactlyWhatAFreshReadGives) {
    const auto dir = std::filesystem::path(LIRNO_SHARED_MIDI) / "real";
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) GTEST_SKIP() << "no shared MIDI files at " << dir;
    std::mt19937 rng(7);
    int files = 0;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::ifstream in(it->path(), std::ios::binary);
        const Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (b.size() < 64) continue;
        SCOPED_TRACE(it->path().filename().string());
        editAndReread(b, rng, 12);
        if (HasFatalFailure()) return;
        ++files;
    }
    EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace lirno::device
