// Writes the demo song: the "Ode to Joy" theme (Beethoven, public domain) as
// a format-1 file with a tempo track, melody, piano chords, bass and drums.
//
//   make_demo_song OUT.mid
#include <cstdio>
#include <string>
#include <vector>

#include "common/smfwrite.h"
#include "midi/vocabulary.h"

using lirno::smf::Track;
namespace midi = lirno::midi;

namespace {

constexpr int kQuarter = 480;

struct Note {
    int pitch;  // 0 for a rest
    int eighths;
};

// The theme: phrase A, phrase B, the bridge, phrase B again (16 bars of 4/4).
std::vector<Note> melody() {
    const int C = 60, D = 62, E = 64, F = 65, G = 67, G3 = 55;
    const std::vector<Note> a = {{E, 2}, {E, 2}, {F, 2}, {G, 2}, {G, 2}, {F, 2}, {E, 2}, {D, 2},
                                 {C, 2}, {C, 2}, {D, 2}, {E, 2}, {E, 3}, {D, 1}, {D, 4}};
    const std::vector<Note> b = {{E, 2}, {E, 2}, {F, 2}, {G, 2}, {G, 2}, {F, 2}, {E, 2}, {D, 2},
                                 {C, 2}, {C, 2}, {D, 2}, {E, 2}, {D, 3}, {C, 1}, {C, 4}};
    const std::vector<Note> bridge = {{D, 2}, {D, 2}, {E, 2}, {C, 2}, {D, 2}, {E, 1},
                                      {F, 1}, {E, 2}, {C, 2}, {D, 2}, {E, 1}, {F, 1},
                                      {E, 2}, {D, 2}, {C, 2}, {D, 2}, {G3, 4}};
    std::vector<Note> all;
    for (const auto* part : {&a, &b, &bridge, &b})
        all.insert(all.end(), part->begin(), part->end());
    return all;
}

// One chord root per bar (C major and G major), as MIDI pitches of the bass.
const std::vector<int> kRoots = {48, 43, 48, 43, 48, 43, 48, 48, 43, 48, 43, 43, 48, 43, 48, 48};

void note(Track& t, int& wait, int channel, int pitch, int velocity, int length) {
    const auto on = static_cast<std::uint8_t>(midi::kNoteOn | channel);
    const auto off = static_cast<std::uint8_t>(midi::kNoteOff | channel);
    const auto p = static_cast<std::uint8_t>(pitch);
    t.ev(static_cast<std::uint32_t>(wait), {on, p, static_cast<std::uint8_t>(velocity)});
    t.ev(static_cast<std::uint32_t>(length), {off, p, 64});
    wait = 0;
}

Track tempoTrack() {
    Track t;
    t.name("Ode to Joy");
    t.ev(0, {midi::kMeta, midi::meta::kTimeSignature, 0x04, 4, 2, 24, 8});  // 4/4
    t.tempo(0, 500000);                                                     // 120 beats a minute
    t.tempo(15 * 4 * kQuarter, 600000);  // the last bar slows down
    return t.end(4 * kQuarter);
}

Track melodyTrack() {
    Track t;
    t.name("Melody").program(0, 0, 73);  // Flute
    int wait = 0;
    for (const Note& n : melody()) note(t, wait, 0, n.pitch + 12, 100, n.eighths * kQuarter / 2);
    return t.end();
}

Track pianoTrack() {
    Track t;
    t.name("Piano").program(0, 1, 0).cc(0, 1, midi::cc::kVolume, 90);
    for (int root : kRoots) {
        const int third = 4, fifth = 7;  // both chords are major
        for (int half = 0; half < 2; ++half) {
            const auto r = static_cast<std::uint8_t>(root + 12);
            const auto m = static_cast<std::uint8_t>(root + 12 + third);
            const auto f = static_cast<std::uint8_t>(root + 12 + fifth);
            t.on(0, 1, r, 70).on(0, 1, m, 70).on(0, 1, f, 70);
            t.off(2 * kQuarter - 10, 1, r, 0).off(0, 1, m, 0).off(0, 1, f, 0);
            t.cc(10, 1, midi::cc::kSustain, 0);  // a pedal-free gap keeps the chords apart
        }
    }
    return t.end();
}

Track bassTrack() {
    Track t;
    t.name("Bass").program(0, 2, 32).cc(0, 2, midi::cc::kPan, 54);
    int wait = 0;
    for (int root : kRoots)
        for (int beat = 0; beat < 4; ++beat)
            note(t, wait, 2, beat == 2 ? root + 7 : root, 90, kQuarter);
    return t.end();
}

Track drumTrack() {
    Track t;
    t.name("Drums");
    for (std::size_t bar = 0; bar < kRoots.size(); ++bar) {
        for (int eighth = 0; eighth < 8; ++eighth) {
            std::vector<std::uint8_t> hits = {42};               // closed hi-hat
            if (eighth == 0 || eighth == 4) hits.push_back(36);  // bass drum
            if (eighth == 2 || eighth == 6) hits.push_back(38);  // snare
            if (bar == 0 && eighth == 0) hits.push_back(49);     // crash
            for (auto h : hits) t.on(0, midi::kDrumChannel, h, eighth % 2 ? 60 : 95);
            bool first = true;
            for (auto h : hits) {
                t.off(first ? kQuarter / 2 : 0, midi::kDrumChannel, h, 0);
                first = false;
            }
        }
    }
    return t.end();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo_song OUT.mid\n");
        return 2;
    }
    const auto bytes = lirno::smf::file(
        1, kQuarter, {tempoTrack(), melodyTrack(), pianoTrack(), bassTrack(), drumTrack()});
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
        std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
