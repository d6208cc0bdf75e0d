// The device with MIDI ports: a song played to a port, what a port is left
// with after every way a play ends, recording against the song, and a key
// played live heard at once.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "device/engine/fluid_device.h"
#include "device/errors.h"
#include "device/song/song_file.h"
#include "device/song/timing.h"
#include "device_support.h"
#include "midi_writer.h"
#include "support/fake_ports.h"

namespace lirno::device {
namespace {

using namespace std::chrono_literals;
using lirno::test::FakePorts;
using test::Bytes;
using test::Track;

constexpr std::size_t kRate = kSampleRate;
constexpr const char* kPort = "fake:synth:0";

// Two channels at 120 bpm, 96 ticks a quarter: a piano line with a
// controller moving on the bass's channel, and a long bass note under it.
Bytes twoChannelSong() {
    Track t;
    t.program(0, 0, 5).program(0, 1, 33).cc(0, 1, 7, 90).on(0, 1, 40);
    for (int i = 0; i < 16; ++i) {
        t.on(i == 0 ? 0 : 48, 0, 60 + i % 7).cc(0, 1, 11, 60 + i).off(48, 0, 60 + i % 7);
    }
    t.off(0, 1, 40).eot();
    return test::smf(0, 96, {t});
}

DeviceSettings portSettings(const std::shared_ptr<FakePorts>& ports) {
    DeviceSettings s = test::manualSettings();
    s.ports = ports;
    return s;
}

std::vector<FakePorts::Sent> channelMessages(const std::vector<FakePorts::Sent>& sent) {
    std::vector<FakePorts::Sent> out;
    for (const auto& m : sent) {
        if (!m.bytes.empty() && midi::isChannelStatus(m.bytes[0])) out.push_back(m);
    }
    return out;
}

TEST(PortsDevice, ASongPlayedToAPortArrivesInOrderWithinHalfABlockAndChasedFirst) {
    auto ports = std::make_shared<FakePorts>();
    // No SoundFont: a port does not need one.
    DeviceSettings settings = portSettings(ports);
    settings.soundFont = "/nonexistent/none.sf2";
    test::Notices ended[2];  // outlive the device, which may still notify
    FluidDevice dev(settings);
    EXPECT_EQ(dev.setOutputPort("fake:nowhere:9"), kErrMidiPort);
    EXPECT_EQ(dev.outputPort(), "");
    ASSERT_EQ(dev.setOutputPort(kPort), 0);
    EXPECT_EQ(dev.outputPort(), kPort);
    const Bytes bytes = twoChannelSong();
    std::shared_ptr<const Song> song;
    ASSERT_EQ(parseSong(bytes, song), 0);
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(bytes, id, len), 0);

    for (const std::uint32_t from : {0u, 8u}) {  // from the start, then from 1 s on
        SCOPED_TRACE(from);
        ports->clearSent();
        // The play starts at the next block start.
        const std::uint64_t base =
            (ports->frame() + kBlockFrames - 1) / kBlockFrames * kBlockFrames;
        test::Notices& notices = ended[from > 0 ? 1 : 0];
        ASSERT_EQ(dev.play(id, from, notices.notifier()), 0);
        while (notices.size() == 0 && ports->frame() < base + 20 * kRate) ports->pump(441);
        ASSERT_TRUE(notices.waitFor(1));
        EXPECT_EQ(notices.codes(), std::vector<int>{kNotifySuccessful});
        const auto sent = channelMessages(ports->sent());
        const std::int64_t startFrame =
            static_cast<std::int64_t>(nsToFrames(unitsToNs(from), kRate));
        const std::size_t first = song->events.firstAt(unitsToNs(from));
        std::size_t k = 0;
        // The last play's channels reset, then the state in force at 1 s,
        // before anything of the song.
        const std::set<std::vector<std::uint8_t>> chased{
            {0xC0, 5}, {0xC1, 33}, {0xB1, 7, 90}, {0xB1, 11, 61}};
        std::set<std::vector<std::uint8_t>> seen;
        for (; from > 0 && k < sent.size() && (sent[k].bytes[0] & 0xF0) != 0x90; ++k) {
            EXPECT_EQ(sent[k].frame, base) << k;
            const bool reset = sent[k].bytes[0] >= 0xB0 && sent[k].bytes[0] <= 0xB1 &&
                               (sent[k].bytes[1] == 64 || sent[k].bytes[1] >= 121);
            EXPECT_TRUE(reset || chased.contains(sent[k].bytes)) << k;
            if (!reset) seen.insert(sent[k].bytes);
        }
        EXPECT_EQ(seen.size(), from > 0 ? 4u : 0u);
        for (std::size_t e = first; e < song->events.size(); ++e) {
            const SongEvent& ev = song->events[e];
            if (!midi::isChannelStatus(ev.status)) continue;
            ASSERT_LT(k, sent.size());
            EXPECT_EQ(sent[k].bytes[0], ev.status) << e;
            EXPECT_EQ(sent[k].bytes[1], ev.data1) << e;
            const auto ideal = static_cast<std::int64_t>(nsToFrames(ev.timeNs, kRate)) -
                               startFrame + static_cast<std::int64_t>(base);
            EXPECT_LE(std::abs(static_cast<std::int64_t>(sent[k].frame) - ideal), 32) << e;
            ++k;
        }
    }
}

// Whether every note switched on in `sent` has been switched off after it,
// and All Notes Off and Reset All Controllers went to every channel of `used`.
void expectLetGo(const std::vector<FakePorts::Sent>& sent, std::set<int> used) {
    std::set<std::pair<int, int>> on;
    std::set<int> notesOff, reset;
    for (const auto& m : sent) {
        const int kind = m.bytes[0] & 0xF0, ch = m.bytes[0] & 0x0F;
        if (kind == 0x90 && m.bytes[2] > 0) on.insert({ch, m.bytes[1]});
        if (kind == 0x80 || (kind == 0x90 && m.bytes[2] == 0)) on.erase({ch, m.bytes[1]});
        if (kind == 0xB0 && m.bytes[1] == 123) notesOff.insert(ch);
        if (kind == 0xB0 && m.bytes[1] == 121) reset.insert(ch);
    }
    EXPECT_TRUE(on.empty()) << on.size() << " notes left on";
    EXPECT_EQ(notesOff, used);
    EXPECT_EQ(reset, used);
}

TEST(PortsDevice, EveryEndOfAPlayLetsGoOfThePortsNotesAndALostPortFailsThePlay) {
    auto ports = std::make_shared<FakePorts>();
    test::Notices notices, lost;  // outlive the device, which may still notify
    FluidDevice dev(portSettings(ports));
    ASSERT_EQ(dev.waitReady(), 0);
    ASSERT_EQ(dev.setOutputPort(kPort), 0);
    const Bytes bytes = twoChannelSong();
    DeviceId id = 0;
    std::uint32_t len = 0;
    // A key held on the keyboard sounds on the port too, and is let go with the song's.
    for (const char* how : {"stop", "pause", "close", "restart", "synth"}) {
        SCOPED_TRACE(how);
        ASSERT_EQ(dev.openBytes(bytes, id, len), 0);
        ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
        ports->clearSent();
        for (int i = 0; i < 50; ++i) ports->pump(441);
        ports->play(0, 0x90, 72, 80);
        ports->pump(441);
        const std::string h = how;
        if (h == "stop") dev.stop(id);
        if (h == "pause") dev.pause(id);
        if (h == "close") dev.close(id);
        if (h == "restart") dev.play(id, 0, notices.notifier());
        if (h == "synth") {
            ASSERT_EQ(dev.setOutputPort(""), 0);
        }
        for (int i = 0; i < 4; ++i) ports->pump(441);
        auto sent = ports->sent();
        if (h == "restart") {  // up to the new play's first chased message
            const auto it = std::find_if(sent.begin() + 1, sent.end(),
                                         [](const auto& m) { return m.bytes[0] == 0xC0; });
            sent.erase(it, sent.end());
        }
        expectLetGo(sent, {0, 1});
        if (h == "synth") {
            EXPECT_EQ(dev.outputPort(), "");
            ASSERT_EQ(dev.setOutputPort(kPort), 0);
        }
        if (h != "close") dev.close(id);
    }

    ASSERT_EQ(dev.openBytes(bytes, id, len), 0);
    ASSERT_EQ(dev.play(id, 0, lost.notifier()), 0);
    ports->pump(4410);
    ports->lose();
    ASSERT_TRUE(lost.waitFor(1));
    EXPECT_EQ(lost.codes(), std::vector<int>{kNotifyFailure});
    EXPECT_EQ(dev.failure(id), kErrMidiPortLost);
    for (int i = 0; i < 200 && ports->openOutputs() > 0; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(dev.outputPort(), "");
    // The next play sounds on the synthesizer.
    ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
    std::vector<float> l(kRate / 2), r(kRate / 2);
    dev.renderManual(l.data(), r.data(), l.size());
    double energy = 0;
    for (const float v : l) energy += v * v;
    EXPECT_GT(energy, 0.0);
}

void renderSeconds(FluidDevice& dev, double seconds) {
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    for (std::size_t f = 0; f < seconds * kRate; f += kBlockFrames) {
        dev.renderManual(l.data(), r.data(), kBlockFrames);
    }
}

// At the song's tick of `seconds` (120 bpm, 96 a quarter), within a tick.
void expectAt(const RecordedEvent& e, double seconds) {
    EXPECT_NEAR(static_cast<double>(e.tick), seconds * 192.0, 1.0) << int(e.status);
}

TEST(PortsDevice, RecordingKeepsWhatIsPlayedAtTheSongsTicksAndKeyAsHeard) {
    auto ports = std::make_shared<FakePorts>();
    test::Notices notices;
    FluidDevice dev(portSettings(ports));
    ASSERT_EQ(dev.waitReady(), 0);
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(test::songOfSeconds(20), id, len), 0);
    dev.setInputChannel(3);
    ASSERT_EQ(dev.startRecording(), 0);
    ports->play(0, 0x90, 50, 100);  // nothing plays: heard, not kept
    ports->play(0, 0x80, 50, 0);
    ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
    renderSeconds(dev, 1.0);
    // Where the song is heard at the last render call, and a key a quarter
    // second after it: a second and a quarter into the song.
    PlayAnchor a = dev.playAnchor();
    ASSERT_NE(a.serial, 0u);
    const double at1 = static_cast<double>(a.frame) / kRate + 0.25;
    ports->play(a.ns + 250'000'000, 0x90, 60, 100);
    ports->play(a.ns + 250'000'000, 0xC0, 7);  // not kept
    ports->play(a.ns + 350'000'000, 0x80, 60, 0);
    // At half speed a key played half a second on is a quarter second on in
    // the song; two semitones up, the song's own key is two below.
    ASSERT_EQ(dev.setPlayback({50, 2, {}}), 0);
    renderSeconds(dev, 1.0);
    a = dev.playAnchor();
    const double at2 = static_cast<double>(a.frame) / kRate + 0.25;
    ports->play(a.ns + 500'000'000, 0x90, 64, 90);
    ports->play(a.ns + 500'000'000, 0xB0, 64, 127);  // the pedal, held at the stop
    renderSeconds(dev, 0.5);
    const std::uint64_t stopFrame = dev.playedFrame();
    const auto got = dev.stopRecording();
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0], (RecordedEvent{got[0].tick, 0x93, 60, 100}));
    expectAt(got[0], at1);
    EXPECT_EQ(got[1], (RecordedEvent{got[1].tick, 0x83, 60, 0}));
    expectAt(got[1], at1 + 0.1);
    EXPECT_EQ(got[2], (RecordedEvent{got[2].tick, 0x93, 62, 90}));
    expectAt(got[2], at2);
    EXPECT_EQ(got[3], (RecordedEvent{got[3].tick, 0xB3, 64, 127}));
    expectAt(got[3], at2);
    // Let go where it stopped.
    const double stopAt = static_cast<double>(stopFrame) / kRate;
    EXPECT_EQ(got[4], (RecordedEvent{got[4].tick, 0x83, 62, 0}));
    expectAt(got[4], stopAt);
    EXPECT_EQ(got[5], (RecordedEvent{got[5].tick, 0xB3, 64, 0}));
    expectAt(got[5], stopAt);
    EXPECT_TRUE(dev.stopRecording().empty());

    // Without any MIDI input there is nothing to record from.
    auto none = std::make_shared<FakePorts>();
    none->noInput = true;
    FluidDevice deaf(portSettings(none));
    EXPECT_EQ(deaf.startRecording(), kErrNoMidiInput);
    FluidDevice bare(test::manualSettings());
    EXPECT_EQ(bare.startRecording(), kErrNoMidiInput);
}

// Units of an eighth of a second.
std::uint32_t positionOf(FluidDevice& dev, DeviceId id) {
    std::uint32_t units = 0;
    EXPECT_EQ(dev.position(id, units), 0);
    return units;
}

TEST(PortsDevice, BackFromAPortTheSilentClockGoesOnFromWhereTheSongStood) {
    auto ports = std::make_shared<FakePorts>();
    DeviceSettings settings = portSettings(ports);
    settings.audioDriver = kAudioNone;
    test::Notices notices;  // outlives the device, which may still notify
    FluidDevice dev(settings);
    ASSERT_EQ(dev.waitReady(), 0);
    DeviceId id = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(dev.openBytes(test::songOfSeconds(30), id, len), 0);
    ASSERT_EQ(dev.play(id, 0, notices.notifier()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(dev.setOutputPort(kPort), 0);
    // The port is the clock now, and it is never called: the song stands.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::uint32_t stood = positionOf(dev, id);
    const auto back = std::chrono::steady_clock::now();
    // Back once the old port has had its time for a farewell (half a second).
    ASSERT_EQ(dev.setOutputPort(""), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const std::uint32_t now = positionOf(dev, id);
    const double since =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count();
    EXPECT_GE(now, stood);
    EXPECT_LE(now, stood + std::uint32_t(since * 8) + 2);  // not the time on the port too
}

TEST(PortsDevice, AKeyPlayedWhileNothingPlaysIsHeardInTheNextBlockNotLate) {
    auto ports = std::make_shared<FakePorts>();
    FluidDevice dev(portSettings(ports));
    ASSERT_EQ(dev.waitReady(), 0);
    std::vector<float> l(kBlockFrames), r(kBlockFrames);
    const auto blockEnergy = [&] {
        dev.renderManual(l.data(), r.data(), kBlockFrames);
        double e = 0;
        for (std::size_t i = 0; i < kBlockFrames; ++i) e += l[i] * l[i] + r[i] * r[i];
        return e;
    };
    for (int i = 0; i < 8; ++i) EXPECT_LT(blockEnergy(), 1e-9);
    // A key nothing could sound for over a second is not sounded late.
    ports->play(0, 0x90, 62, 110);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_LT(blockEnergy(), 1e-9);
    ports->play(0, 0x90, 60, 110);
    EXPECT_GT(blockEnergy(), 1e-8);
}

}  // namespace
}  // namespace lirno::device
