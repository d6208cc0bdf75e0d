// The sequencer device: what the player asks of a MIDI sequencer.
//
// It stands in for the desktop's sequencer service. The program only ever
// talks to it through this interface, so that the playback control can be
// tested against a fake and the real engine (FluidSynth) stays behind it.
//
// Time unit: one eighth of a second of real playing time along the song's
// tempo map. Lengths and positions are whole units.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/errors.h"

namespace lirno::device {

using DeviceId = std::uint32_t;

// Completion notices, with the values the playback side expects.
inline constexpr int kNotifySuccessful = 1;
inline constexpr int kNotifyAborted = 4;
// The play could not go on (no audio output, or it was lost); failure() says why.
inline constexpr int kNotifyFailure = 8;

// Called once per play, from a thread of the device's own (never under one
// of its locks). The caller posts it to its event loop.
using Notifier = std::function<void(DeviceId id, int notice)>;

// How the device plays, whatever song it plays: settings of the player,
// never edits of the song. Positions and lengths stay in the song's own time
// (at 100 %), so a position names the same bar at any speed.
inline constexpr int kMinSpeed = 25;  // percent
inline constexpr int kMaxSpeed = 200;
inline constexpr int kMinTranspose = -12;  // semitones
inline constexpr int kMaxTranspose = 12;

// A stretch of the song in its own ticks (as the file counts them), played
// over and over: from `fromTick` up to `toTick` (exclusive), then again.
struct Passage {
    std::uint32_t fromTick = 0;
    std::uint32_t toTick = 0;
    friend bool operator==(const Passage&, const Passage&) = default;
};

struct PlaybackSettings {
    int speed = 100;    // percent, kMinSpeed..kMaxSpeed: every event later or earlier in proportion
    int transpose = 0;  // semitones, kMinTranspose..kMaxTranspose: every channel but drum parts
    std::optional<Passage> passage;  // none: the song plays to its end
    friend bool operator==(const PlaybackSettings&, const PlaybackSettings&) = default;
};

// The sound of the synthesizer: an ordered stack of SoundFonts (the first
// that has a preset plays it) and the effects. Kept by the program between
// runs; empty `soundFonts` means the one found on the system.
struct Reverb {
    bool on = true;
    double room = 0.2;   // room size, 0..1 (FluidSynth's default)
    double level = 0.9;  // 0..1
    friend bool operator==(const Reverb&, const Reverb&) = default;
};
struct Chorus {
    bool on = true;
    double level = 2.0;  // 0..10
    friend bool operator==(const Chorus&, const Chorus&) = default;
};
struct SoundSettings {
    std::vector<std::string> soundFonts;
    Reverb reverb;
    Chorus chorus;
    friend bool operator==(const SoundSettings&, const SoundSettings&) = default;
};

constexpr bool validPlayback(const PlaybackSettings& s) noexcept {
    return s.speed >= kMinSpeed && s.speed <= kMaxSpeed && s.transpose >= kMinTranspose &&
           s.transpose <= kMaxTranspose && (!s.passage || s.passage->fromTick < s.passage->toTick);
}

// One message of a recording, in the song's own ticks (as the file counts
// them) and its own key: where in the song it sounded, whatever the speed,
// key or passage it was played at.
struct RecordedEvent {
    std::uint32_t tick = 0;
    std::uint8_t status = 0;  // a channel message on the record channel
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;  // 0 for two-byte messages
    friend bool operator==(const RecordedEvent&, const RecordedEvent&) = default;
};

// Every operation returns 0 on success or a nonzero error code that
// errorText() can describe.
class Device {
  public:
    virtual ~Device() = default;

    // Opens a MIDI file by path and reads it whole; a later rewrite of the file
    // on disk does not disturb the open device. id is never 0 and never reused.
    virtual int open(const std::string& path, DeviceId& id, std::uint32_t& length) = 0;
    // Starts playing from a position (in units) and returns at once. Exactly one
    // notice ends each play: successful at the song's end, aborted when a later
    // stop, pause, close or play interrupts it.
    virtual int play(DeviceId id, std::uint32_t from, Notifier notifier) = 0;
    virtual int stop(DeviceId id) = 0;
    virtual int pause(DeviceId id) = 0;
    virtual int close(DeviceId id) = 0;
    virtual int position(DeviceId id, std::uint32_t& pos) = 0;
    // The error that ended the last play of id with a failure notice, or 0.
    virtual int failure(DeviceId /*id*/) const { return 0; }
    // From now on every song plays so; a play under way follows at once
    // (speed and key without a restart). kErrOutOfRange for values out of
    // their ranges, or a passage that is empty; nothing changes then.
    virtual int setPlayback(const PlaybackSettings& settings) = 0;
    // From now on every song sounds so; a play under way goes on from where
    // it is with the new sound. A SoundFont that cannot be read is refused
    // (kErrNoSoundFont, kErrSoundFontLoad) and the old sound kept.
    virtual int setSound(const SoundSettings& settings) = 0;
    // Where songs play: "" for the synthesizer, else a MIDI port (as
    // PortInfo::name). A play under way goes on from where it is through the
    // new one. kErrMidiPort for a port that cannot be opened; nothing
    // changes then.
    virtual int setOutputPort(const std::string& port) { return port.empty() ? 0 : kErrMidiPort; }
    virtual std::string outputPort() const { return {}; }
    // Whether a MIDI source (a keyboard) is connected to the player's input.
    virtual bool inputConnected() const { return false; }
    // What comes in is heard on this channel (0..15), with whatever
    // instrument, volume and balance the song gives it there.
    virtual void setInputChannel(int /*channel*/) {}
    // From now on, what comes in is also kept, stamped with where the song
    // that plays is, until stopRecording(), which returns it in time order.
    // What comes in while no song plays is heard but not kept. Notes still
    // held when it stops are let go there, and a held pedal lifted.
    virtual int startRecording() { return kErrNoMidiInput; }
    virtual std::vector<RecordedEvent> stopRecording() { return {}; }
    // The text of an error code, or nothing for a code this device never returns.
    virtual std::optional<std::string> errorText(int code) const = 0;
};

}  // namespace lirno::device
