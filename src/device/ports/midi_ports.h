// MIDI ports: the player as a MIDI client ("Lirno Player") that takes what a
// keyboard plays and can play a song to another synthesizer.
//
// The device only knows these interfaces, so tests drive it with fake ports.
// The system's ports (systemMidiPorts) are the ALSA sequencer's and, when a
// JACK server runs, JACK's; no client of ours ever starts a JACK server.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lirno::device {

class OutputSink;

// A port of some other client, as the user names it.
struct PortInfo {
    // What --port and LIRNO_MIDI_OUT take: "jack:CLIENT:PORT" or
    // "alsa:CLIENT:PORT" (ALSA's numbers, e.g. "alsa:20:0"). A name without
    // the prefix is looked up in both, JACK first.
    std::string name;
    std::string label;      // for lists: the client's and port's own names
    bool hardware = false;  // a physical device (inputs of these connect by themselves)
    friend bool operator==(const PortInfo&, const PortInfo&) = default;
};

// One message that came in: a channel message, status first (running
// status resolved); system messages are not passed on.
struct MidiInEvent {
    std::int64_t timeNs = 0;  // when it arrived, on std::chrono::steady_clock
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};

// Where what comes in goes. Called on the ports' own threads (JACK's is a
// real-time thread), one call at a time: it must not block.
class MidiInputSink {
  public:
    virtual ~MidiInputSink() = default;
    virtual void midiIn(const MidiInEvent& event) noexcept = 0;
};

// Our input port, open while this lives; it connects the hardware sources
// it finds now and as they appear, and any client may connect to it.
class MidiInput {
  public:
    virtual ~MidiInput() = default;  // no midiIn() call runs once it returns
    // Whether some source is connected to the input now.
    virtual bool connected() const = 0;
    // False once its system went away (a JACK server that shut down).
    virtual bool alive() const { return true; }
};

// Where a song's events go when it plays to a port. The output is also the
// play's clock: it calls clock.render(nullptr, nullptr, frames) on its own
// thread, `frames` at kSampleRate, from the moment it is opened until it is
// destroyed, a little ahead of real time; and clock.outputLost() when the
// port or the server went away. Within a render call, send() puts a message
// out `offset` frames after the start of that call's first frame, on the
// sequencer's timestamped queue (ALSA) or at its frame in the cycle (JACK),
// so that no event's time depends on a thread waking on time.
class MidiOutput {
  public:
    virtual ~MidiOutput() = default;  // stops calling the clock before it returns
    // Only from inside clock.render(): never blocks.
    virtual void send(std::size_t offset, std::span<const std::uint8_t> message) noexcept = 0;
    // The port it plays to, as PortInfo::name.
    virtual std::string port() const = 0;
    // Only from inside clock.render(): when the call's first frame goes out,
    // as steady_clock nanoseconds since its epoch; 0 for "at the call" (a
    // JACK cycle's frames start then). An output that renders ahead says
    // how far, so that what is played meanwhile is placed where it is heard.
    virtual std::int64_t callStartNs() const noexcept { return 0; }
};

class MidiPorts {
  public:
    virtual ~MidiPorts() = default;
    // Ports that can send to us (keyboards) and that we can play to.
    virtual std::vector<PortInfo> sources() = 0;
    virtual std::vector<PortInfo> destinations() = 0;
    // Opens our input port, or null. The system's input is never null: it
    // also watches for a JACK server that starts later.
    virtual std::unique_ptr<MidiInput> openInput(MidiInputSink& sink) = 0;
    // Opens an output to `port` (PortInfo::name, or a name without prefix)
    // that drives `clock`; null with `error` (kErrMidiPort) when there is no
    // such port or it cannot be connected.
    virtual std::unique_ptr<MidiOutput> openOutput(const std::string& port, OutputSink& clock,
                                                   int& error) = 0;
};

// How often the system's input looks for a JACK server (none ran, or its
// server went away and is looked for again once its client is closed).
inline constexpr auto kJackWatch = std::chrono::seconds(2);

// The system's MIDI: the ALSA sequencer where it runs, and JACK where a
// server runs (never started by us). Never null; with neither, it lists no
// ports and opens no output, and its input waits for a JACK server.
std::shared_ptr<MidiPorts> systemMidiPorts();

}  // namespace lirno::device
