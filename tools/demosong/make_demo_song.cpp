// Writes the demo song: the "Ode to Joy" theme (Beethoven, public domain) as
// a format-1 file with a tempo track, melody, piano chords, bass and drums.
//
//   make_demo_song OUT.mid
#include <cstdio>
#include <string>
#include <vector>

#include "common/smfwrite.h"

using lirno::smf::Track;

namespace {

constexpr int kQuarter = 480;

struct Note {
    int pitch;  // 0 for a rest
    int eighths;
};

// The theme: phrase A, phrase B, the bridge, phrase B again (16 bars of 4/4).
std::vector<Note> melody()
{
    const int C = 60, D = 62, E = 64, F = 65, G = 67, G3 = 55;
    const std::vector<Note> a = {{E, 2}, {E, 2}, {F, 2}, {G, 2}, {G, 2}, {F, 2}, {E, 2}, {D, 2},
                                 {C, 2}, {C, 2}, {D, 2}, {E, 2}, {E, 3}, {D, 1}, {D, 4}};
    const std::vector<Note> b = {{E, 2}, {E, 2}, {F, 2}, {G, 2}, {G, 2}, {F, 2}, {E, 2}, {D, 2},
                                 {C, 2}, {C, 2}, {D, 2}, {E, 2}, {D, 3}, {C, 1}, {C, 4}};
    const std::vector<Note> bridge = {{D, 2}, {D, 2}, {E, 2}, {C, 2}, {D, 2}, {E, 1}, {F, 1},
                                      {E, 2}, {C, 2}, {D, 2}, {E, 1}, {F, 1}, {E, 2}, {D, 2},
                                      {C, 2}, {D, 2}, {G3, 4}};
    std::vector<Note> all;
    for (const auto* part : {&a, &b, &bridge, &b}) all.insert(all.end(), part->begin(), part->end());
    return all;
}

// One chord root per bar (C major and G major), as MIDI pitches of the bass.
const std::vector<int> kRoots = {48, 43, 48, 43, 48, 43, 48, 48, 43, 48, 43, 43, 48, 43, 48, 48};

void note(Track& t, int& wait, int channel, int pitch, int velocity, int length)
{
    const auto on = static_cast<std::uint8_t>(0x90 | channel);
    const auto off = static_cast<std::uint8_t>(0x80 | channel);
    const auto p = static_cast<std::uint8_t>(pitch);
    t.ev(static_cast<std::uint32_t>(wait), {on, p, static_cast<std::uint8_t>(velocity)});
    t.ev(static_cast<std::uint32_t>(length), {off, p, 64});
    wait = 0;
}

Track tempoTrack()
{
    Track t;
    t.name("Ode to Joy");
    t.ev(0, {0xFF, 0x58, 0x04, 4, 2, 24, 8});  // 4/4
    t.tempo(0, 500000);                        // 120 beats a minute
    t.tempo(15 * 4 * kQuarter, 600000);        // the last bar slows down
    return t.end(4 * kQuarter);
}

Track melodyTrack()
{
    Track t;
    t.name("Melody").ev(0, {0xC0, 73});  // Flute
    int wait = 0;
    for (const Note& n : melody()) note(t, wait, 0, n.pitch + 12, 100, n.eighths * kQuarter / 2);
    return t.end();
}

Track pianoTrack()
{
    Track t;
    t.name("Piano").ev(0, {0xC1, 0}).ev(0, {0xB1, 7, 90});
    for (int root : kRoots) {
        const int third = 4, fifth = 7;  // both chords are major
        for (int half = 0; half < 2; ++half) {
            const auto r = static_cast<std::uint8_t>(root + 12);
            const auto m = static_cast<std::uint8_t>(root + 12 + third);
            const auto f = static_cast<std::uint8_t>(root + 12 + fifth);
            t.ev(0, {0x91, r, 70}).ev(0, {0x91, m, 70}).ev(0, {0x91, f, 70});
            t.ev(2 * kQuarter - 10, {0x81, r, 0}).ev(0, {0x81, m, 0}).ev(0, {0x81, f, 0});
            t.ev(10, {0xB1, 64, 0});  // a pedal-free gap keeps the chords apart
        }
    }
    return t.end();
}

Track bassTrack()
{
    Track t;
    t.name("Bass").ev(0, {0xC2, 32}).ev(0, {0xB2, 10, 54});
    int wait = 0;
    for (int root : kRoots)
        for (int beat = 0; beat < 4; ++beat)
            note(t, wait, 2, beat == 2 ? root + 7 : root, 90, kQuarter);
    return t.end();
}

Track drumTrack()
{
    Track t;
    t.name("Drums");
    for (std::size_t bar = 0; bar < kRoots.size(); ++bar) {
        for (int eighth = 0; eighth < 8; ++eighth) {
            std::vector<std::uint8_t> hits = {42};         // closed hi-hat
            if (eighth == 0 || eighth == 4) hits.push_back(36);  // bass drum
            if (eighth == 2 || eighth == 6) hits.push_back(38);  // snare
            if (bar == 0 && eighth == 0) hits.push_back(49);     // crash
            for (auto h : hits) t.ev(0, {0x99, h, static_cast<std::uint8_t>(eighth % 2 ? 60 : 95)});
            bool first = true;
            for (auto h : hits) {
                t.ev(first ? kQuarter / 2 : 0, {0x89, h, 0});
                first = false;
            }
        }
    }
    return t.end();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo_song OUT.mid\n");
        return 2;
    }
    const auto bytes = lirno::smf::file(
        1, kQuarter, {tempoTrack(), melodyTrack(), pianoTrack(), bassTrack(), drumTrack()});
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
