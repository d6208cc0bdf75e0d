// How closely the device keeps time with MIDI ports, through fake ports:
//
//   ports_check [SONG.mid...]   (default: every song in the shared real folder)
//
// 1. A song played to a port, pumped in 441-frame calls: the worst distance
//    of any channel message from its ideal time, in ms.
// 2. Keys played while a song plays to a port that a thread pumps in real
//    time (256 frames a call): the recorded tick's time against the song
//    time heard when the key was played (the pump's schedule), in ms.
// 3. A key played while nothing plays: in which rendered block it is heard.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/engine/fluid_device.h"
#include "device/song/song_file.h"
#include "device/song/timing.h"
#include "midi/vocabulary.h"
#include "support/fake_ports.h"

namespace {

using namespace lirno::device;
using lirno::test::FakePorts;
using Clock = std::chrono::steady_clock;

constexpr const char* kPort = "fake:synth:0";
constexpr const char* kFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

DeviceSettings manualWith(std::shared_ptr<FakePorts> ports) {
    DeviceSettings s;
    s.audioDriver = kAudioManual;
    s.soundFont = kFont;
    s.ports = std::move(ports);
    return s;
}

struct Ended {
    std::atomic<bool> done{false};
    Notifier notifier() {
        return [this](DeviceId, int) { done.store(true); };
    }
};

// Worst |sent - ideal| over the song's channel messages, in frames; each is
// found in order among what was sent (a key struck again sends a note-off first).
double worstToPortMs(const std::vector<std::uint8_t>& bytes, std::size_t& events) {
    std::shared_ptr<const Song> song;
    if (parseSong(bytes, song) != 0) return -1;
    auto ports = std::make_shared<FakePorts>();
    FluidDevice dev(manualWith(ports));
    DeviceId id = 0;
    std::uint32_t len = 0;
    if (dev.setOutputPort(kPort) != 0 || dev.openBytes(bytes, id, len) != 0) return -1;
    Ended ended;
    dev.play(id, 0, ended.notifier());
    while (!ended.done.load() &&
           ports->frame() < nsToFrames(song->endNs, kSampleRate) + kSampleRate)
        ports->pump(441);
    const auto sent = ports->sent();
    std::size_t k = 0;
    std::int64_t worst = 0;
    events = 0;
    for (std::size_t e = 0; e < song->events.size(); ++e) {
        const SongEvent& ev = song->events[e];
        if (!lirno::midi::isChannelStatus(ev.status)) continue;
        const auto ideal = static_cast<std::int64_t>(nsToFrames(ev.timeNs, kSampleRate));
        // A note-on of velocity 0 goes out as the note-off it is.
        const bool off = (ev.status & 0xF0) == 0x90 && ev.data2 == 0;
        const auto status = static_cast<std::uint8_t>(off ? (ev.status & 0x0F) | 0x80 : ev.status);
        // Program changes nobody hears are never sent: look no further than
        // a block past the event's time.
        std::size_t j = k;
        while (j < sent.size() && static_cast<std::int64_t>(sent[j].frame) <= ideal + 64 &&
               !(sent[j].bytes[0] == status && sent[j].bytes[1] == ev.data1)) {
            ++j;
        }
        if (j == sent.size() || static_cast<std::int64_t>(sent[j].frame) > ideal + 64) continue;
        const std::int64_t distance = std::abs(static_cast<std::int64_t>(sent[j].frame) - ideal);
        if (distance > 32 && std::getenv("PORTS_CHECK_DEBUG") != nullptr) {
            std::fprintf(stderr, "event %zu status %02x %d at %lld sent %llu (j-k %zu)\n", e,
                         ev.status, ev.data1, static_cast<long long>(ideal),
                         static_cast<unsigned long long>(sent[j].frame), j - k);
        }
        worst = std::max(worst, distance);
        ++events;
        k = j + 1;
    }
    return static_cast<double>(worst) * 1000.0 / kSampleRate;
}

// The port's clock in real time; what song frame it stood at each call's
// scheduled time.
struct RealTimePump {
    struct Mark {
        std::int64_t ns;
        std::uint64_t frame;
    };
    std::vector<Mark> marks;
    std::mutex m;
    std::atomic<bool> stop{false};

    void run(FakePorts& ports, FluidDevice& dev) {
        constexpr std::size_t kFrames = 256;
        const auto period = std::chrono::nanoseconds(1'000'000'000LL * kFrames / kSampleRate);
        auto at = Clock::now();
        while (!stop.load()) {
            std::this_thread::sleep_until(at);
            {
                std::lock_guard lk(m);
                marks.push_back({at.time_since_epoch().count(), dev.playedFrame()});
            }
            ports.pump(kFrames);
            at += period;
        }
    }
    // The song frame heard at `ns` had the clock kept perfect time.
    double frameAt(std::int64_t ns) {
        std::lock_guard lk(m);
        auto it = std::upper_bound(marks.begin(), marks.end(), ns,
                                   [](std::int64_t t, const Mark& mk) { return t < mk.ns; });
        if (it == marks.begin()) return 0;
        --it;
        return static_cast<double>(it->frame) +
               static_cast<double>(ns - it->ns) * kSampleRate / 1e9;
    }
};

std::size_t sameTick = 0, recordedNotes = 0;
double worstStamp = 0;  // ms
std::size_t stampsWithin1Ms = 0;

double worstRecordedMs(const std::vector<std::uint8_t>& bytes, double& tickMs) {
    std::shared_ptr<const Song> song;
    if (parseSong(bytes, song) != 0 || !song->timing) return -1;
    auto ports = std::make_shared<FakePorts>();
    FluidDevice dev(manualWith(ports));
    DeviceId id = 0;
    std::uint32_t len = 0;
    if (dev.setOutputPort(kPort) != 0 || dev.openBytes(bytes, id, len) != 0) return -1;
    if (dev.startRecording() != 0) return -1;
    RealTimePump pump;
    Ended ended;
    dev.play(id, 0, ended.notifier());
    std::thread clock([&] { pump.run(*ports, dev); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<std::int64_t> played;
    for (int i = 0; i < 40 && !ended.done.load(); ++i) {
        const std::int64_t now = Clock::now().time_since_epoch().count();
        ports->play(now, 0x90, static_cast<std::uint8_t>(40 + i), 100);
        ports->play(now, 0x80, static_cast<std::uint8_t>(40 + i), 0);
        played.push_back(now);
        std::this_thread::sleep_for(std::chrono::microseconds(23'000 + 1'700 * (i % 7)));
    }
    const auto got = dev.stopRecording();
    pump.stop.store(true);
    clock.join();
    double worst = 0;
    tickMs = 0;
    std::size_t n = 0;
    for (const RecordedEvent& e : got) {
        if ((e.status & 0xF0) != 0x90) continue;
        const std::size_t i = static_cast<std::size_t>(e.data1 - 40);
        if (i >= played.size()) continue;
        // The tick nearest to the song time heard when the key went down.
        const auto heardNs = static_cast<std::int64_t>(pump.frameAt(played[i]) * 1e9 / kSampleRate);
        std::uint64_t heard = song->timing->nsToTick(heardNs);
        if (song->timing->tickToNs(heard + 1) - heardNs < heardNs - song->timing->tickToNs(heard))
            ++heard;
        const double off = static_cast<double>(song->timing->tickToNs(e.tick)) -
                           static_cast<double>(song->timing->tickToNs(heard));
        tickMs = std::max(tickMs, static_cast<double>(song->timing->tickToNs(e.tick + 1) -
                                                      song->timing->tickToNs(e.tick)) /
                                      1e6);
        worst = std::max(worst, std::abs(off) / 1e6);
        if (e.tick == heard) ++sameTick;
        // Beyond the rounding to a tick: how far the stamp itself was off.
        const double tick = static_cast<double>(song->timing->tickToNs(e.tick + 1) -
                                                song->timing->tickToNs(e.tick));
        const double fromHeard =
            std::abs(static_cast<double>(song->timing->tickToNs(e.tick) - heardNs));
        const double beyond = std::max(0.0, fromHeard - tick / 2) / 1e6;
        worstStamp = std::max(worstStamp, beyond);
        if (beyond <= 1.0) ++stampsWithin1Ms;
        ++n;
    }
    recordedNotes += n;
    return n == played.size() ? worst : -1;
}

// The rendered block (counted from 1) in which a key played while nothing
// plays is first heard.
int blockHeard() {
    auto ports = std::make_shared<FakePorts>();
    FluidDevice dev(manualWith(ports));
    if (dev.waitReady() != 0) return -1;
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    dev.renderManual(l.data(), r.data(), kBlockFrames);
    ports->play(Clock::now().time_since_epoch().count(), 0x90, 60, 100);
    for (int b = 1; b <= 16; ++b) {
        dev.renderManual(l.data(), r.data(), kBlockFrames);
        double e = 0;
        for (std::size_t i = 0; i < kBlockFrames; ++i) e += l[i] * l[i];
        if (e > 1e-9) return b;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> songs(argv + 1, argv + argc);
    if (songs.empty()) {
        const std::filesystem::path dir = std::filesystem::path(LIRNO_SHARED_MIDI) / "real";
        if (std::filesystem::is_directory(dir)) {
            for (const auto& f : std::filesystem::directory_iterator(dir)) {
                if (f.path().extension() == ".mid") songs.push_back(f.path().string());
            }
        }
        std::sort(songs.begin(), songs.end());
    }
    double worstPort = 0, worstRecord = 0, longestTick = 0;
    std::size_t events = 0;
    for (const std::string& path : songs) {
        const auto bytes = readFile(path);
        std::size_t n = 0;
        const double portMs = worstToPortMs(bytes, n);
        double tickMs = 0;
        const double recMs = worstRecordedMs(bytes, tickMs);
        std::printf(
            "%-52s  to port: %6zu events, worst %.3f ms  recorded: worst %.3f ms (tick %.3f ms)\n",
            std::filesystem::path(path).filename().c_str(), n, portMs, recMs, tickMs);
        if (portMs >= 0) worstPort = std::max(worstPort, portMs);
        if (recMs >= 0) worstRecord = std::max(worstRecord, recMs);
        longestTick = std::max(longestTick, tickMs);
        events += n;
    }
    std::printf("songs %zu, events %zu: worst to port %.3f ms\n", songs.size(), events, worstPort);
    std::printf(
        "recorded notes %zu: on the tick heard %zu, worst off by %.3f ms (longest tick "
        "%.3f ms)\n",
        recordedNotes, sameTick, worstRecord, longestTick);
    std::printf("stamps beyond the tick's rounding: worst %.3f ms, %zu within 1 ms\n", worstStamp,
                stampsWithin1Ms);
    std::printf("a key played while nothing plays: heard in rendered block %d\n", blockHeard());
    return 0;
}
