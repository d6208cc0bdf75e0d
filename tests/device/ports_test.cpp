// The player's MIDI client against a real JACK server (the dummy driver) and
// a plain libjack client of the test's own.
#include <gtest/gtest.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "device/engine/output.h"
#include "device/engine/sample_rates.h"
#include "device/errors.h"
#include "device/ports/midi_ports.h"
#include "support/env_guard.h"
#include "support/jack_server.h"

namespace lirno::device {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kServerRate = 48000;  // not kSampleRate: outputs convert

struct Collect final : MidiInputSink {
    void midiIn(const MidiInEvent& e) noexcept override {
        std::lock_guard lock(mutex);
        events.push_back(e);
    }
    std::size_t size() {
        std::lock_guard lock(mutex);
        return events.size();
    }
    std::vector<MidiInEvent> take() {
        std::lock_guard lock(mutex);
        return std::exchange(events, {});
    }
    void clear() { take(); }
    std::mutex mutex;
    std::vector<MidiInEvent> events;
};

// A song of one note every kEvery frames (at kSampleRate), played through
// the output it clocks.
struct NoteClock final : OutputSink {
    static constexpr std::uint64_t kEvery = 4410;
    void render(float*, float*, std::size_t frames) noexcept override {
        for (std::uint64_t f = (pos + kEvery - 1) / kEvery * kEvery; f < pos + frames;
             f += kEvery) {
            const std::array<std::uint8_t, 3> note{0x90, std::uint8_t(f / kEvery % 128), 100};
            if (MidiOutput* o = out.load()) o->send(std::size_t(f - pos), note);
        }
        pos += frames;
    }
    void outputLost() noexcept override { lost = true; }
    std::atomic<MidiOutput*> out{nullptr};
    std::uint64_t pos = 0;
    std::atomic<bool> lost{false};
};

bool listed(const std::vector<PortInfo>& list, const std::string& name) {
    return std::ranges::any_of(list, [&](const PortInfo& p) { return p.name == name; });
}

// One take of eight messages into our input: they arrive in order as sent.
// Timed as their frames were spaced, unless the server missed cycles on the
// way: false for another take then, as a client late for a cycle loses the
// MIDI of that cycle and the frame clock's times are unsure.
bool notesArrive(test::JackTestClient& keys, Collect& sink) {
    constexpr jack_nframes_t kSpacing = 1234;
    sink.clear();
    const std::size_t missedBefore = keys.missedCount();
    const int xrunsBefore = keys.xruns();
    const auto sent = keys.play({{0x90, 60, 100},
                                 {0x91, 61, 1},
                                 {0x90, 60, 0},
                                 {0x81, 61, 64},
                                 {0xB0, 64, 127},
                                 {0xE0, 0, 64},
                                 {0xB0, 64, 0},
                                 {0x90, 62, 5}},
                                kSpacing, kServerRate / 20);
    const bool all = test::waitFor([&] { return sink.size() >= sent.size(); });
    const std::vector<MidiInEvent> got = sink.take();
    const bool late = keys.missedCount() != missedBefore || keys.xruns() != xrunsBefore;
    if (late && !all) {
        std::vector<std::array<std::uint8_t, 3>> bytes, sentBytes;
        for (const MidiInEvent& e : got) bytes.push_back({e.status, e.data1, e.data2});
        for (const auto& s : sent) sentBytes.push_back(s.bytes);
        EXPECT_TRUE(test::someInOrder(bytes, sentBytes));
        return false;
    }
    EXPECT_TRUE(all && got.size() == sent.size()) << got.size();
    if (!all || got.size() != sent.size()) return true;
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ((std::array{got[i].status, got[i].data1, got[i].data2}), sent[i].bytes) << i;
    if (late) return false;
    for (std::size_t i = 1; i < sent.size(); ++i) {
        const double ms = double(got[i].timeNs - got[i - 1].timeNs) / 1e6;
        EXPECT_NEAR(ms, 1000.0 * kSpacing / kServerRate, 1.0) << i;
    }
    // On steady_clock, not JACK's own clock (a quarter second apart here).
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const double age = std::chrono::duration<double>(now).count() - double(got.back().timeNs) / 1e9;
    EXPECT_GT(age, -0.01);
    EXPECT_LT(age, 0.15);
    return true;
}

void expectNotesIn(MidiPorts& ports, test::JackTestClient& keys) {
    Collect sink;
    const auto input = ports.openInput(sink);
    ASSERT_NE(input, nullptr);
    EXPECT_FALSE(input->connected());
    ASSERT_EQ(jack_connect(keys.get(), "lirno-test:out", "Lirno Player:input"), 0);
    EXPECT_TRUE(test::waitFor([&] { return input->connected(); }));
    EXPECT_FALSE(listed(ports.sources(), "jack:Lirno Player:output"));
    for (int take = 0; take < 5; ++take) {
        if (notesArrive(keys, sink)) return;
    }
    std::printf("input timing unchecked: the server missed cycles in every take\n");
}

TEST(MidiPortsTest, JackInputOutputAndLoss) {
    test::JackServer server(kServerRate);
    if (!server.skipReason().empty()) GTEST_SKIP() << server.skipReason();
    test::JackTestClient keys;
    ASSERT_NE(keys.get(), nullptr);
    const auto ports = systemMidiPorts();
    EXPECT_TRUE(listed(ports->sources(), "jack:lirno-test:out"));
    EXPECT_TRUE(listed(ports->destinations(), "jack:lirno-test:in"));

    expectNotesIn(*ports, keys);

    // Out: one note every kEvery frames arrives kEvery frames apart at the
    // server's rate, in order; across a late cycle one may be lost.
    NoteClock clock;
    int error = -1;
    EXPECT_EQ(ports->openOutput("jack:no-such:port", clock, error), nullptr);
    EXPECT_EQ(error, kErrMidiPort);
    const int xrunsBefore = keys.xruns();
    auto output = ports->openOutput("jack:lirno-test:in", clock, error);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(output->port(), "jack:lirno-test:in");
    clock.out = output.get();
    ASSERT_TRUE(test::waitFor([&] { return keys.received().size() >= 12; }));
    const auto got = keys.received();
    const bool lateCycles = keys.xruns() != xrunsBefore;
    int spaced = 0;
    for (std::size_t i = 1; i < got.size(); ++i) {
        const int step = (got[i].bytes[1] - got[i - 1].bytes[1] + 128) % 128;
        if (step != 1 && lateCycles) {
            EXPECT_GT(step, 0) << i;
            continue;
        }
        EXPECT_EQ(step, 1) << i;
        if (keys.missed(got[i - 1].frame) || keys.missed(got[i].frame)) continue;
        const double frames = double(NoteClock::kEvery) * kServerRate / kSampleRate;
        EXPECT_NEAR(double(got[i].frame - got[i - 1].frame), frames, 1.0) << i;
        ++spaced;
    }
    EXPECT_GE(spaced, 4) << "too many xruns to tell";

    // The port it plays to goes away: the clock hears of it.
    EXPECT_FALSE(clock.lost.load());
    keys.close();
    EXPECT_TRUE(test::waitFor([&] { return clock.lost.load(); }));
    clock.out = nullptr;
    output.reset();
}

// Our input waits for a JACK server that starts after it, and comes back
// with one that starts again.
TEST(MidiPortsTest, AJackServerStartedLaterGetsOurInput) {
    const std::string name = test::JackServer::uniqueName();
    const test::EnvGuard later("JACK_DEFAULT_SERVER", name);
    const auto ports = systemMidiPorts();
    Collect sink;
    const auto input = ports->openInput(sink);
    ASSERT_NE(input, nullptr);
    for (int run = 0; run < 2; ++run) {
        // No client of this process may open on the new server before our
        // input let go of the old one's (see JackClient::open).
        if (run > 0) std::this_thread::sleep_for(2 * kJackWatch);
        test::JackServer server(kServerRate, 256, name);
        if (!server.skipReason().empty()) GTEST_SKIP() << server.skipReason();
        test::JackTestClient keys;
        ASSERT_NE(keys.get(), nullptr);
        ASSERT_TRUE(test::waitFor([&] {
            return jack_port_by_name(keys.get(), "Lirno Player:input");
        })) << run;
        EXPECT_FALSE(input->connected());
        ASSERT_EQ(jack_connect(keys.get(), "lirno-test:out", "Lirno Player:input"), 0) << run;
        EXPECT_TRUE(test::waitFor([&] { return input->connected(); })) << run;
        sink.clear();
        keys.play({{0x90, 60, 100}}, 1, kServerRate / 20);
        EXPECT_TRUE(test::waitFor([&] { return sink.size() == 1; })) << run;
    }
    EXPECT_TRUE(test::waitFor([&] { return !input->connected(); }));
}

TEST(MidiPortsTest, NoServerNoJackAndNoneStarted) {
    const test::EnvGuard server("JACK_DEFAULT_SERVER", "lirno-none-" + std::to_string(::getpid()));
    const auto ports = systemMidiPorts();
    const auto jackNamed = [](const std::vector<PortInfo>& list) {
        return std::ranges::any_of(list,
                                   [](const PortInfo& p) { return p.name.starts_with("jack:"); });
    };
    EXPECT_FALSE(jackNamed(ports->sources()));
    EXPECT_FALSE(jackNamed(ports->destinations()));
    NoteClock clock;
    int error = 0;
    EXPECT_EQ(ports->openOutput("jack:system:playback_1", clock, error), nullptr);
    EXPECT_EQ(error, kErrMidiPort);
    // Nothing started one behind our back.
    jack_client_t* probe = jack_client_open("lirno-probe", JackNoStartServer, nullptr);
    EXPECT_EQ(probe, nullptr);
    if (probe) jack_client_close(probe);
}

}  // namespace
}  // namespace lirno::device
