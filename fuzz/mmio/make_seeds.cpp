// Writes the seed corpus of fuzz_model into the folder given: one small file
// for each shape of data the analysis, the editor and the writer treat apart,
// so the fuzzer starts from inside every branch instead of finding the header.
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "common/smfwrite.h"
#include "midi/vocabulary.h"

namespace {

using lirno::smf::Bytes;
using lirno::smf::file;
using lirno::smf::Track;
namespace midi = lirno::midi;

std::uint8_t st(int status, int channel) {
    return static_cast<std::uint8_t>(status | channel);
}

Track melody(int channel, bool runningStatus, bool noteOffEvents) {
    Track t;
    t.name("Lead " + std::to_string(channel));
    t.ev(0, {st(midi::kProgramChange, channel), 24});
    t.ev(0, {st(midi::kControlChange, channel), midi::cc::kVolume, 100});
    t.ev(0, {st(midi::kControlChange, channel), midi::cc::kPan, 32});
    for (int k = 0; k < 6; ++k) {
        const auto key = static_cast<std::uint8_t>(60 + 2 * k);
        if (runningStatus) {
            t.ev(k == 0 ? 0 : 10, {st(midi::kNoteOn, channel), key, 90});
            t.raw({48, key, 0});  // Note-On with velocity 0 under running status
        } else if (noteOffEvents) {
            t.ev(0, {st(midi::kNoteOn, channel), key, 90});
            t.ev(48, {st(midi::kNoteOff, channel), key, 64});
        } else {
            t.ev(0, {st(midi::kNoteOn, channel), key, 90});
            t.ev(48, {st(midi::kNoteOn, channel), key, 0});
        }
    }
    t.end();
    return t;
}

Track conductor() {
    Track t;
    t.name("Tempo");
    t.tempo(0, 500000);
    t.ev(0, {midi::kMeta, midi::meta::kTimeSignature, 0x04, 4, 2, 24, 8});
    t.meta(0, midi::meta::kText, "text");
    t.meta(96, midi::meta::kMarker, "Verse");
    t.end(384);
    return t;
}

using Seeds = std::vector<std::pair<std::string, Bytes>>;

void add(Seeds& out, std::string name, Bytes b) {
    out.emplace_back(std::move(name), std::move(b));
}

void addSongs(Seeds& out) {
    add(out, "format0", file(0, 96, {melody(0, true, false)}));
    add(out, "format1",
        file(1, 480, {conductor(), melody(0, false, true), melody(1, true, false)}));
    add(out, "format2", file(2, 96, {melody(3, false, false), melody(4, true, false)}));
    add(out, "drums", file(1, 96, {conductor(), melody(9, false, true)}));
}

void addNormalised(Seeds& out) {
    // A track without pan or volume gets both inserted; one with several
    // channels or values stays as it is.
    add(out, "bare_notes",
        file(1, 96, {Track().ev(0, {0x90, 60, 100}).ev(96, {0x80, 60, 64}).end()}));
    add(out, "mixed",
        file(1, 96,
             {Track()
                  .ev(0, {0xC0, 1})
                  .ev(0, {0xC1, 2})
                  .ev(0, {0xB0, 7, 50})
                  .ev(0, {0xB0, 7, 90})
                  .ev(0, {0xB1, 10, 0})
                  .ev(0, {0x90, 60, 100})
                  .ev(0, {0x91, 62, 100})
                  .ev(96, {0x80, 60, 0})
                  .ev(0, {0x81, 62, 0})
                  .end()}));
    add(out, "no_channel", file(1, 96, {conductor()}));
}

void addEventKinds(Seeds& out) {
    // Other channel events, system exclusive and escapes, unknown metas.
    add(out, "other_events",
        file(0, 96,
             {Track()
                  .ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
                  .ev(0, {0xF7, 0x02, 0xF3, 0x01})
                  .ev(0, {0xA0, 60, 10})
                  .ev(0, {0xD0, 20})
                  .ev(0, {0xE0, 0, 64})
                  .ev(0, {0xB0, 1, 5})
                  .raw({0, 11, 100})
                  .ev(0, {0xFF, 0x7F, 0x03, 0, 0, 0x41})
                  .ev(0, {0x90, 60, 100})
                  .ev(0x81, {0x00})
                  .raw({0x80, 60, 0})
                  .end()}));

    // Names: none, several, empty, long, one with a two-byte length.
    add(out, "names",
        file(1, 96,
             {Track().name("").name("second").ev(0, {0x90, 60, 1}).end(),
              Track().name(std::string(300, 'n')).ev(0, {0x91, 60, 1}).end(),
              Track().name(std::string(128, 'm')).ev(0, {0x92, 60, 1}).end(),
              Track().ev(0, {0x93, 60, 1}).end()}));
    // A name event under running status, after another meta event.
    add(out, "running_meta",
        file(0, 96,
             {Track()
                  .ev(0, {0xFF, 0x01, 0x01, 'x'})
                  .raw({0, 3, 2, 'a', 'b'})
                  .ev(0, {0x90, 60, 1})
                  .end()}));
}

void addDamaged(Seeds& out) {
    // Damaged data: running status with nothing to run, a track starting
    // under running status, an undefined status byte, events after the end,
    // a truncated event, a chunk that lies about its length.
    add(out, "no_status", file(0, 96, {Track().raw({0, 60, 100, 0, 0x90, 60, 0}).end()}));
    add(out, "starts_running",
        file(1, 96, {melody(2, false, true), Track().raw({0, 62, 100, 10, 62, 0}).end()}));
    add(out, "undefined_status", file(0, 96, {Track().ev(0, {0xF4}).ev(0, {0x90, 60, 1}).end()}));
    add(out, "after_end", file(0, 96, {Track().ev(0, {0x90, 60, 1}).end().ev(0, {0x80, 60, 0})}));
    add(out, "truncated_event", file(0, 96, {Track().ev(0, {0x90, 60})}));
    {
        Bytes b = file(1, 96, {melody(0, false, true), melody(1, false, true)});
        b[14 + 7] = static_cast<std::uint8_t>(b[14 + 7] + 3);  // first chunk claims 3 bytes more
        add(out, "bad_length", b);
    }
    {
        Bytes b = file(1, 96, {melody(0, false, true), melody(1, false, true)});
        b.insert(b.end(), {'J', 'U', 'N', 'K', 0, 0, 0, 2, 1, 2});  // behind the declared tracks
        add(out, "trailer", b);
    }
    {
        Bytes b =
            file(1, 96, {melody(0, false, true), melody(1, false, true)}, 3);  // one track short
        add(out, "missing_track", b);
    }
    {
        Bytes b = file(1, 96, {melody(0, false, true)});
        b[14 + 3] = 'X';  // not a track chunk
        add(out, "foreign_chunk", b);
    }
}

// The track limit, and one over it.
void addTrackLimit(Seeds& out) {
    std::vector<Track> many;
    for (int i = 0; i < 100; ++i) {
        const int ch = i % midi::kChannels;
        many.push_back(std::move(Track()
                                     .ev(0, {st(midi::kNoteOn, ch), 60, 1})
                                     .ev(1, {st(midi::kNoteOff, ch), 60, 0})
                                     .end()));
    }
    add(out, "hundred_tracks", file(1, 96, many));
    many.push_back(many.front());
    add(out, "too_many_tracks", file(1, 96, many));
}

Seeds seeds() {
    Seeds out;
    addSongs(out);
    addNormalised(out);
    addEventKinds(out);
    addDamaged(out);
    addTrackLimit(out);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    for (const auto& [name, bytes] : seeds()) {
        const std::string path = std::string(argv[1]) + "/" + name + ".mid";
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
