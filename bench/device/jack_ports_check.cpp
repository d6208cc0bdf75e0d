// How closely the device keeps time with MIDI ports on a real JACK server
// (its own jackd on the dummy driver, 44100 Hz, 256-frame cycles):
//
//   jack_ports_check [runs] [SONG.mid...]
//       (default: 3 runs over the three densest songs of the shared real folder)
//
// 1. A song played to the probe's MIDI port: each message's server frame
//    against the song's own time, aligned on the first note.
// 2. A note played into our input while nothing plays, the synthesizer on
//    FluidSynth's JACK audio output: the cycle in which the probe, reading
//    that output, first finds sound.
// 3. Notes played into our input, while a song plays to the probe, exactly
//    on the frames where later notes of the song reach the probe: each
//    recorded tick against the tick of the song's note.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/engine/fluid_device.h"
#include "device/song/song_file.h"
#include "device/song/timing.h"
#include "midi/vocabulary.h"
#include "support/jack_server.h"

namespace {

using namespace lirno::device;
namespace midi = lirno::midi;
using Bytes3 = std::array<std::uint8_t, 3>;

constexpr const char* kFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr const char* kProbeIn = "jack:probe:in";
constexpr const char* kOurInput = "Lirno Player:input";
constexpr std::int64_t kPlayNs = 12'000'000'000;  // of each song, from its first note
constexpr float kLoud = 1e-4f;                    // above FluidSynth's silence

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double framesToMs(double frames) {
    return frames * 1000.0 / kSampleRate;
}

bool isNoteOn(std::uint8_t status, std::uint8_t velocity) {
    return midi::statusKind(status) == midi::kNoteOn && velocity > 0;
}

// The bench's own client "probe": a MIDI input (what the device plays to
// it, with server frames), a MIDI output (what it plays to the device, at
// chosen frames) and an audio input (where sound first shows).
class Probe {
  public:
    struct Msg {
        jack_nframes_t frame;
        Bytes3 bytes;
    };

    explicit Probe(const char* name) : client_(jack_client_open(name, JackNoStartServer, nullptr)) {
        if (!client_) return;
        in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        audio_ = jack_port_register(client_, "audio", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &Probe::process, this);
        jack_activate(client_);
    }
    ~Probe() {
        if (client_) jack_client_close(client_);
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    jack_client_t* get() const { return client_; }
    jack_nframes_t now() const { return jack_frame_time(client_); }
    jack_nframes_t period() const { return jack_get_buffer_size(client_); }

    void schedule(std::vector<Msg> messages) {
        std::lock_guard lock(mutex_);
        toSend_ = std::move(messages);
        next_ = 0;
    }
    std::vector<Msg> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    void clearReceived() {
        std::lock_guard lock(mutex_);
        received_.clear();
    }
    // From here on, the first loud frame at or after `from` is kept.
    void listen(jack_nframes_t from) {
        std::lock_guard lock(mutex_);
        listenFrom_ = from;
        heard_.reset();
    }
    std::optional<jack_nframes_t> heard() const {
        std::lock_guard lock(mutex_);
        return heard_;
    }
    // Frames since the audio input last carried sound.
    std::int32_t quietFor() const {
        std::lock_guard lock(mutex_);
        return static_cast<std::int32_t>(lastStart_ - lastLoud_);
    }
    // Whether frame f came in the first cycle after cycles the probe missed
    // (an xrun: jackd runs without real-time priority here).
    bool afterXrun(jack_nframes_t f) const {
        std::lock_guard lock(mutex_);
        return std::any_of(xrunCycles_.begin(), xrunCycles_.end(),
                           [&](jack_nframes_t c) { return f - c < period(); });
    }
    // JACK's time of the cycle's first frame less the time the cycle ran, in µs.
    int lagUs() const {
        std::lock_guard lock(mutex_);
        return lagUs_;
    }
    std::size_t xruns() const {
        std::lock_guard lock(mutex_);
        return xruns_;
    }

  private:
    static int process(jack_nframes_t frames, void* data) {
        auto* self = static_cast<Probe*>(data);
        const jack_nframes_t start = jack_last_frame_time(self->client_);
        void* out = jack_port_get_buffer(self->out_, frames);
        void* in = jack_port_get_buffer(self->in_, frames);
        const auto* audio = static_cast<const float*>(jack_port_get_buffer(self->audio_, frames));
        jack_midi_clear_buffer(out);
        std::lock_guard lock(self->mutex_);
        if (self->cycles_++ > 0 && start - self->lastStart_ > frames) {
            ++self->xruns_;
            self->xrunCycles_.push_back(start);
        }
        self->lastStart_ = start;
        self->lagUs_ =
            static_cast<int>(static_cast<std::int64_t>(jack_frames_to_time(self->client_, start)) -
                             static_cast<std::int64_t>(jack_get_time()));
        self->sendDue(out, start, frames);
        for (std::uint32_t i = 0, n = jack_midi_get_event_count(in); i < n; ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, in, i) != 0 || e.size != 3) continue;
            self->received_.push_back({start + e.time, {e.buffer[0], e.buffer[1], e.buffer[2]}});
        }
        self->hear(audio, start, frames);
        return 0;
    }
    void sendDue(void* out, jack_nframes_t start, jack_nframes_t frames) {
        lirno::test::writeDue(out, toSend_, next_, start, frames);
    }
    void hear(const float* audio, jack_nframes_t start, jack_nframes_t frames) {
        for (jack_nframes_t i = 0; i < frames; ++i) {
            if (std::fabs(audio[i]) <= kLoud) continue;
            lastLoud_ = start + i;
            if (!heard_ && lastLoud_ - listenFrom_ < 0x80000000u) heard_ = lastLoud_;
        }
    }

    jack_client_t* client_;
    jack_port_t* in_ = nullptr;
    jack_port_t* out_ = nullptr;
    jack_port_t* audio_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<Msg> toSend_;
    std::size_t next_ = 0;
    std::vector<Msg> received_;
    jack_nframes_t lastStart_ = 0;
    jack_nframes_t lastLoud_ = 0;
    jack_nframes_t listenFrom_ = 0;
    std::optional<jack_nframes_t> heard_;
    std::uint64_t cycles_ = 0;
    std::size_t xruns_ = 0;
    std::vector<jack_nframes_t> xrunCycles_;
    int lagUs_ = 0;
};

DeviceSettings jackSettings(const std::string& audio) {
    DeviceSettings s;
    s.audioDriver = audio;
    s.soundFont = kFont;
    s.ports = systemMidiPorts();
    s.outputLinger = std::chrono::minutes(10);
    return s;
}

bool waitUntil(auto done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

// The client's out into our input, once the device has opened it.
bool connectToInput(Probe& keys, FluidDevice& dev) {
    if (!waitUntil([&] { return jack_port_by_name(keys.get(), kOurInput) != nullptr; }))
        return false;
    const std::string out = std::string(jack_get_client_name(keys.get())) + ":out";
    if (jack_connect(keys.get(), out.c_str(), kOurInput) != 0) return false;
    return waitUntil([&] { return dev.inputConnected(); });
}

struct Stats {
    std::vector<double> ms;
    void add(double v) { ms.push_back(v); }
    double quantile(double q) const {
        if (ms.empty()) return -1;
        std::vector<double> s = ms;
        std::sort(s.begin(), s.end());
        return s[static_cast<std::size_t>(q * static_cast<double>(s.size() - 1))];
    }
};

const SongEvent* firstNote(const Song& song) {
    for (const SongEvent& e : song.events) {
        if (isNoteOn(e.status, e.data2)) return &e;
    }
    return nullptr;
}

const Probe::Msg* firstNote(const std::vector<Probe::Msg>& got) {
    for (const Probe::Msg& m : got) {
        if (isNoteOn(m.bytes[0], m.bytes[2])) return &m;
    }
    return nullptr;
}

}  // namespace

namespace {

// Starts the song on a device that plays to the probe; the server frame of
// its first note at the probe, or none.
std::optional<jack_nframes_t> startSong(FluidDevice& dev, Probe& probe,
                                        const std::vector<std::uint8_t>& bytes, DeviceId& id) {
    std::uint32_t length = 0;
    probe.clearReceived();
    if (dev.openBytes(bytes, id, length) != 0 || dev.play(id, 0, [](DeviceId, int) {}) != 0)
        return std::nullopt;
    std::optional<jack_nframes_t> first;
    waitUntil(
        [&] {
            const auto got = probe.received();
            if (const Probe::Msg* m = firstNote(got)) first = m->frame;
            return first.has_value();
        },
        std::chrono::seconds(10));
    return first;
}

std::int64_t playedUntilNs(const Song& song) {
    return std::min(song.endNs, firstNote(song)->timeNs + kPlayNs);
}

void sleepNs(std::int64_t ns) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
}

struct PlayResult {
    Stats offset;   // signed, ms: received less ideal
    Stats centred;  // the same, about the middle of each song's range
    std::size_t afterXrun = 0;
    std::size_t notesMissing = 0;
    std::size_t othersMissing = 0;  // never sent: program changes nobody hears, ...
};

// Each channel message of the song, found in order among what the probe
// got (a key struck again sends a note-off first), against its ideal frame
// from the first note. Messages in a cycle after an xrun go apart.
void comparePlayed(const Song& song, const Probe& probe, jack_nframes_t first, PlayResult& r) {
    constexpr std::int64_t kWindow = 1024;
    Stats own;
    const auto got = probe.received();
    const auto base = static_cast<std::int64_t>(nsToFrames(firstNote(song)->timeNs, kSampleRate));
    const std::int64_t until = playedUntilNs(song);
    const auto at = [&](const Probe::Msg& m) {
        return static_cast<std::int64_t>(static_cast<std::int32_t>(m.frame - first));
    };
    std::size_t k = 0;
    for (const SongEvent& ev : song.events) {
        if (ev.timeNs > until) break;
        if (!midi::isChannelStatus(ev.status)) continue;
        const std::int64_t ideal =
            static_cast<std::int64_t>(nsToFrames(ev.timeNs, kSampleRate)) - base;
        const bool off = midi::statusKind(ev.status) == midi::kNoteOn && ev.data2 == 0;
        const auto status = static_cast<std::uint8_t>(
            off ? (midi::kNoteOff | midi::channelOf(ev.status)) : ev.status);
        std::size_t j = k;
        while (j < got.size() && at(got[j]) <= ideal + kWindow &&
               !(got[j].bytes[0] == status && got[j].bytes[1] == ev.data1)) {
            ++j;
        }
        if (j == got.size() || at(got[j]) > ideal + kWindow) {
            ++(isNoteOn(ev.status, ev.data2) ? r.notesMissing : r.othersMissing);
            continue;
        }
        if (probe.afterXrun(got[j].frame)) {
            ++r.afterXrun;
        } else {
            own.add(framesToMs(static_cast<double>(at(got[j]) - ideal)));
        }
        k = j + 1;
    }
    // The first note carries its own rounding to a block; about the song's
    // median offset the spread is the device's alone.
    const double middle = own.quantile(0.5);
    for (double v : own.ms) {
        r.offset.add(v);
        r.centred.add(v - middle);
    }
}

// 1. The song to the probe's port.
void measurePlay(const std::vector<std::uint8_t>& bytes, const Song& song, Probe& probe,
                 PlayResult& r) {
    FluidDevice dev(jackSettings(kAudioNone));
    DeviceId id = 0;
    if (dev.setOutputPort(kProbeIn) != 0) {
        std::printf("  could not play to %s\n", kProbeIn);
        return;
    }
    const auto first = startSong(dev, probe, bytes, id);
    if (!first) {
        std::printf("  the song's first note never reached the probe\n");
        return;
    }
    sleepNs(playedUntilNs(song) - firstNote(song)->timeNs + 300'000'000);
    dev.stop(id);
    comparePlayed(song, probe, *first, r);
}

// FluidSynth's left output into the probe's audio input.
bool listenToSynth(Probe& probe) {
    const char** ports =
        jack_get_ports(probe.get(), "^lirno-player:", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    if (!ports) return false;
    const bool ok = ports[0] != nullptr && jack_connect(probe.get(), ports[0], "probe:audio") == 0;
    jack_free(static_cast<void*>(ports));
    return ok;
}

// 2. Notes played while nothing plays: cycles from the note's cycle to the
// first cycle with sound, and frames from the note to the first loud frame.
void measureLive(Probe& probe, std::vector<int>& cycles, Stats& delay, int trials) {
    FluidDevice dev(jackSettings("jack"));
    if (dev.waitReady() != 0 || !dev.outputOpen() || !listenToSynth(probe) ||
        !connectToInput(probe, dev)) {
        std::printf("  FluidSynth's JACK output could not be read back\n");
        return;
    }
    const jack_nframes_t period = probe.period();
    for (int t = 0; t < trials; ++t) {
        waitUntil([&] { return probe.quietFor() > static_cast<std::int32_t>(kSampleRate / 4); },
                  std::chrono::seconds(10));
        const jack_nframes_t at =
            probe.now() + 4 * period + static_cast<jack_nframes_t>(t * 37) % period;
        probe.listen(at);
        probe.schedule({{at, {midi::kNoteOn, 60, 100}}, {at + 4410, {midi::kNoteOff, 60, 0}}});
        waitUntil([&] { return probe.heard().has_value(); }, std::chrono::seconds(2));
        const auto heard = probe.heard();
        if (!heard) {
            cycles.push_back(-1);
            continue;
        }
        cycles.push_back(static_cast<int>(*heard / period) - static_cast<int>(at / period));
        delay.add(framesToMs(static_cast<double>(*heard - at)));
    }
    probe.schedule({});
}

// Later notes of the song to play along with: from a second after the
// first, at least 100 ms apart, up to 60.
std::vector<const SongEvent*> beatsToPlay(const Song& song) {
    const std::int64_t from = firstNote(song)->timeNs + 1'000'000'000;
    const std::int64_t until = playedUntilNs(song) - 300'000'000;
    std::vector<const SongEvent*> beats;
    for (const SongEvent& e : song.events) {
        if (beats.size() == 60 || e.timeNs > until) break;
        if (!isNoteOn(e.status, e.data2) || e.timeNs < from) continue;
        if (!beats.empty() && e.timeNs - beats.back()->timeNs < 100'000'000) continue;
        beats.push_back(&e);
    }
    return beats;
}

std::uint8_t keyOf(std::size_t i) {
    return static_cast<std::uint8_t>(36 + i % 48);
}

// Each recorded note-on, in order, against the song note it was played on:
// the distance between their ticks, in ms.
void compareRecorded(const Song& song, const std::vector<const SongEvent*>& beats,
                     const std::vector<RecordedEvent>& recorded, Stats& stats, std::size_t& lost) {
    const SongTiming& timing = *song.timing;
    std::size_t i = 0;
    for (const RecordedEvent& r : recorded) {
        if (!isNoteOn(r.status, r.data2) || i == beats.size()) continue;
        if (r.data1 != keyOf(i)) {
            std::printf("  recorded key %d where %d was played\n", r.data1, keyOf(i));
            continue;
        }
        const std::uint64_t beat = timing.nsToTick(beats[i]->timeNs);
        stats.add(static_cast<double>(timing.tickToNs(r.tick) - timing.tickToNs(beat)) / 1e6);
        ++i;
    }
    lost += beats.size() - i;
}

// 3. Notes played into our input by `keys` on the frames where song notes
// reach the probe, recorded while the song plays to it. With the probe as
// the keys, JACK's graph has a loop, and the server delivers the notes a
// cycle late to break it.
void measureRecord(const std::string& audio, const std::vector<std::uint8_t>& bytes,
                   const Song& song, Probe& probe, Probe& keys, Stats& stats, std::size_t& lost) {
    FluidDevice dev(jackSettings(audio));
    if (dev.setOutputPort(kProbeIn) != 0 || !connectToInput(keys, dev)) {
        std::printf("  could not connect the probe both ways\n");
        return;
    }
    dev.setInputChannel(0);
    DeviceId id = 0;
    if (dev.startRecording() != 0) return;
    const auto first = startSong(dev, probe, bytes, id);
    const auto beats = beatsToPlay(song);
    if (!first) {
        dev.stopRecording();
        lost += beats.size();
        return;
    }
    const auto base = static_cast<std::int64_t>(nsToFrames(firstNote(song)->timeNs, kSampleRate));
    std::vector<Probe::Msg> plan;
    for (std::size_t i = 0; i < beats.size(); ++i) {
        const auto at = static_cast<jack_nframes_t>(
            *first + (static_cast<std::int64_t>(nsToFrames(beats[i]->timeNs, kSampleRate)) - base));
        plan.push_back({at, {midi::kNoteOn, keyOf(i), 100}});
        plan.push_back({at + 64, {midi::kNoteOff, keyOf(i), 0}});
    }
    keys.schedule(plan);
    sleepNs(playedUntilNs(song) - firstNote(song)->timeNs + 300'000'000);
    const auto recorded = dev.stopRecording();
    dev.stop(id);
    keys.schedule({});
    compareRecorded(song, beats, recorded, stats, lost);
}

struct Candidate {
    std::string path;
    std::vector<std::uint8_t> bytes;
    std::shared_ptr<const Song> song;
    std::size_t notes = 0;  // in the part played
};

// The given songs, or the three with the most notes in their first 12 s.
std::vector<Candidate> songsToPlay(std::vector<std::string> paths) {
    const bool chosen = !paths.empty();
    if (!chosen) {
        const std::filesystem::path dir = std::filesystem::path(LIRNO_SHARED_MIDI) / "real";
        if (std::filesystem::is_directory(dir)) {
            for (const auto& f : std::filesystem::directory_iterator(dir))
                if (f.path().extension() == ".mid") paths.push_back(f.path().string());
        }
    }
    std::vector<Candidate> songs;
    for (const std::string& path : paths) {
        Candidate c{path, readFile(path), nullptr, 0};
        if (parseSong(c.bytes, c.song) != 0 || !c.song->timing || !firstNote(*c.song)) continue;
        const std::int64_t until = playedUntilNs(*c.song);
        for (const SongEvent& e : c.song->events)
            c.notes += isNoteOn(e.status, e.data2) && e.timeNs <= until;
        songs.push_back(std::move(c));
    }
    std::sort(songs.begin(), songs.end(),
              [](const Candidate& a, const Candidate& b) { return a.notes > b.notes; });
    if (!chosen && songs.size() > 3) songs.resize(3);
    return songs;
}

}  // namespace

namespace {

// Without real songs: 16ths at 120 bpm, then at 150 bpm from bar 5, for 16 s.
std::vector<std::uint8_t> generatedSong() {
    std::vector<std::uint8_t> track;
    const auto tempo = [&](std::uint32_t us) {
        track.insert(track.end(),
                     {0x00, midi::kMeta, midi::meta::kTempo, 3, static_cast<std::uint8_t>(us >> 16),
                      static_cast<std::uint8_t>(us >> 8), static_cast<std::uint8_t>(us)});
    };
    tempo(500'000);
    for (int i = 0; i < 288; ++i) {
        if (i == 64) tempo(400'000);
        const auto key = static_cast<std::uint8_t>(48 + (i * 7) % 36);
        track.insert(track.end(), {0x00, midi::kNoteOn, key, 90, 0x60, midi::kNoteOn, key, 0});
    }
    track.insert(track.end(), {0x00, midi::kMeta, midi::meta::kEndOfTrack, 0});
    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd',  0,    0,   0,   6,   0,
                                      0,   0,   1,   0x01, 0xE0, 'M', 'T', 'r', 'k'};
    const auto n = static_cast<std::uint32_t>(track.size());
    file.insert(file.end(), {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                             static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

void printStats(const char* what, const Stats& signedMs, const std::string& extra = "") {
    Stats a;
    for (double v : signedMs.ms) a.add(std::fabs(v));
    std::printf("%-40s n=%5zu  |worst| %6.3f  |p99| %6.3f  median %6.3f ms%s\n", what, a.ms.size(),
                a.quantile(1.0), a.quantile(0.99), signedMs.quantile(0.5), extra.c_str());
}

struct RecordCase {
    const char* what;
    const char* audio;
    bool keysApart;  // a keyboard client of its own, or the probe itself
    Stats stats;
    std::size_t lost = 0;
};

void printPlay(const PlayResult& r) {
    printStats("1. song to jack:probe:in", r.offset,
               "  (" + std::to_string(r.afterXrun) +
                   " after xruns left out; not found: " + std::to_string(r.notesMissing) +
                   " notes, " + std::to_string(r.othersMissing) + " others)");
    printStats("1. same, about each song's median", r.centred);
}

void runOnce(int run, const std::vector<Candidate>& songs, Probe& probe, Probe& keys) {
    PlayResult play;
    std::array<RecordCase, 3> cases{
        {{"3. recorded, keys apart, no audio", kAudioNone, true, {}},
         {"3. recorded, keys apart, JACK audio", "jack", true, {}},
         {"3. recorded, probe both ways, no audio", kAudioNone, false, {}}}};
    for (const Candidate& c : songs) {
        std::printf("run %d: %s (%zu notes played)\n", run,
                    std::filesystem::path(c.path).filename().c_str(), c.notes);
        measurePlay(c.bytes, *c.song, probe, play);
        for (RecordCase& rc : cases) {
            measureRecord(rc.audio, c.bytes, *c.song, probe, rc.keysApart ? keys : probe, rc.stats,
                          rc.lost);
        }
    }
    std::vector<int> cycles;
    Stats live;
    measureLive(probe, cycles, live, 20);
    printPlay(play);
    for (const RecordCase& rc : cases) {
        const auto onTick = std::count_if(rc.stats.ms.begin(), rc.stats.ms.end(),
                                          [](double v) { return std::fabs(v) < 1e-6; });
        printStats(rc.what, rc.stats,
                   "  (" + std::to_string(onTick) + " on the very tick, " +
                       std::to_string(rc.lost) + " not recorded)");
    }
    std::printf("2. live note, cycles after its own:");
    for (int c : cycles) std::printf(" %d", c);
    std::printf("\n");
    printStats("2. note frame to first loud frame", live);
    std::printf("xruns so far: %zu; JACK's cycle time less the probe's run: %d us\n", probe.xruns(),
                probe.lagUs());
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.find_first_not_of("0123456789") == std::string::npos) {
            runs = std::stoi(a);
        } else {
            paths.push_back(a);
        }
    }
    lirno::test::JackServer server;
    if (!server.skipReason().empty()) {
        std::printf("skipped: %s\n", server.skipReason().c_str());
        return 0;
    }
    auto songs = songsToPlay(paths);
    if (songs.empty()) {
        Candidate c{"(generated: dense 16ths, tempo change)", generatedSong(), nullptr, 288};
        if (parseSong(c.bytes, c.song) != 0) return 1;
        songs.push_back(std::move(c));
    }
    Probe probe("probe");
    Probe keys("keys");
    if (!probe.get() || !keys.get()) {
        std::printf("the probe could not join the JACK server\n");
        return 1;
    }
    for (int run = 1; run <= runs; ++run) runOnce(run, songs, probe, keys);
    return 0;
}
