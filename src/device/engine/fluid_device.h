// The real sequencer device: our own scheduler driving FluidSynth.
//
// Threads: the caller's (any, the GUI's), one worker per device (start-up,
// completion notices, the silent clock, opening and closing the audio
// output, recording), the audio thread of the output, if any, and the MIDI
// ports' threads (what comes in; a port played to is the clock then). The
// audio side never waits and takes no lock: commands, positions and ends
// pass through atomics, and it reads only immutable plans.
#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "device/device.h"
#include "device/engine/audio_thread.h"
#include "device/engine/output.h"
#include "device/engine/pace.h"
#include "device/engine/play_anchor.h"
#include "device/engine/scheduler.h"
#include "device/engine/spsc_ring.h"
#include "device/engine/synth.h"
#include "device/ports/midi_ports.h"
#include "device/song/song.h"
#include "device/soundfont/presets_played.h"

namespace lirno::device {

inline constexpr const char* kAudioNone = "none";      // silent real-time clock
inline constexpr const char* kAudioManual = "manual";  // caller pumps renderManual()

struct DeviceSettings {
    // Path of the .sf2 or .sf3, or several joined with ':' (a stack, the
    // first winning); empty means none was found. Plays with it until
    // setSound names others.
    std::string soundFont;
    std::string audioDriver;  // "" = try the desktop defaults, kAudioNone, kAudioManual,
                              // or a FluidSynth driver name ("alsa", "pulseaudio", ...)
    // The output driver's device (its audio.<driver>.device setting), e.g.
    // "null" for ALSA's null sink; empty = the driver's default.
    std::string outputDevice;
    // Real-time priority of the output's thread (FluidSynth's audio.realtime-prio;
    // 0 = an ordinary thread); negative keeps FluidSynth's default.
    int outputPriority = -1;
    // How long the audio output stays open after playing stops, so that a
    // quick restart (after an edit, say) does not reopen the sound card.
    std::chrono::milliseconds outputLinger{2000};
    // Opens the outputs; empty = FluidSynth's drivers (openFluidOutput).
    OutputFactory output;
    // An output that has not asked for audio for this long is taken for lost.
    std::chrono::milliseconds outputStall{1500};
    // The MIDI system: the input played live and the ports played to; null
    // for none at all.
    std::shared_ptr<MidiPorts> ports;
    // A port to play to from the start ("" = the synthesizer).
    std::string midiOut;
};

// Settings from the environment: LIRNO_SOUNDFONT, LIRNO_AUDIO and LIRNO_MIDI_OUT.
DeviceSettings settingsFromEnvironment();
// The device the program uses, configured from the environment.
std::unique_ptr<Device> makeDevice();

class FluidDevice final : public Device, private OutputSink, private MidiInputSink {
  public:
    explicit FluidDevice(DeviceSettings settings);
    ~FluidDevice() override;
    FluidDevice(const FluidDevice&) = delete;
    FluidDevice& operator=(const FluidDevice&) = delete;

    int open(const std::string& path, DeviceId& id, std::uint32_t& length) override;
    int play(DeviceId id, std::uint32_t from, Notifier notifier) override;
    int stop(DeviceId id) override;
    int pause(DeviceId id) override;
    int close(DeviceId id) override;
    int position(DeviceId id, std::uint32_t& pos) override;
    int failure(DeviceId id) const override;
    int setPlayback(const PlaybackSettings& settings) override;
    int setSound(const SoundSettings& settings) override;
    std::optional<std::string> errorText(int code) const override;
    int setOutputPort(const std::string& port) override;
    std::string outputPort() const override;
    bool inputConnected() const override;
    void setInputChannel(int channel) override;
    int startRecording() override;
    std::vector<RecordedEvent> stopRecording() override;

    // Where the song was at the audio side's last render call (serial 0
    // while nothing plays), for tests and measurements.
    PlayAnchor playAnchor() const noexcept;
    // Messages that came in and found the input's queue full.
    std::uint64_t inputDropped() const noexcept {
        return inputDropped_.load(std::memory_order_relaxed);
    }

    // Opens a song from bytes already in memory (same rules as open()).
    int openBytes(std::span<const std::uint8_t> bytes, DeviceId& id, std::uint32_t& length);
    // Waits until the background start-up (SoundFont, audio output) is over;
    // returns 0, the SoundFont's error that every play reports, or
    // kErrAudioOutput when no output opened (each play tries again).
    int waitReady();
    // Manual clock only: renders the next frames exactly as the audio
    // callback would (for tests and measurements). left/right hold `frames`.
    void renderManual(float* left, float* right, std::size_t frames) noexcept;
    // The song frame the audio side has reached in the active play (its start
    // frame until the song sounds), for tests and measurements.
    std::uint64_t playedFrame() const noexcept {
        return publishedFrame_.load(std::memory_order_acquire);
    }
    // The audio driver that opened ("" before one has, or without output).
    std::string outputName() const;
    // Whether the audio output is open right now (it closes when idle).
    bool outputOpen() const;

  private:
    enum class Mode { Silent, Manual, Output };
    struct OpenSong {
        std::shared_ptr<const Song> song;
        std::uint32_t length = 0;
        std::uint32_t stoppedAt = 0;
        int failure = 0;  // why its last play failed
    };
    struct ActivePlay {
        std::uint64_t serial = 0;
        DeviceId id = 0;
        Notifier notifier;
        std::uint32_t from = 0;
    };
    struct Notice {
        Notifier fn;
        DeviceId id;
        int code;
    };
    // An output to a MIDI port and the clock it drives. Once it is no longer
    // the device's output it sends its farewell (notes off, channels reset)
    // at its next call and is then let go.
    struct PortLink final : OutputSink {
        explicit PortLink(FluidDevice& d) : dev(d) {}
        void render(float*, float*, std::size_t frames) noexcept override {
            dev.renderPort(*this, frames);
        }
        void outputLost() noexcept override { lost.store(true, std::memory_order_release); }
        FluidDevice& dev;
        std::vector<std::uint8_t> farewell;  // 3-byte messages
        std::atomic<bool> farewellDue{false};
        std::atomic<bool> lost{false};
        std::chrono::steady_clock::time_point retiredAt{};
        std::string asked;                // the port's name as asked for
        std::unique_ptr<MidiOutput> out;  // last: it stops calling before the rest goes
    };
    // A message stamped on the ports' thread with where the song was.
    struct Stamped {
        std::uint64_t serial = 0;
        std::int64_t frame = 0;
        std::uint8_t status = 0;
        std::uint8_t data1 = 0;
        std::uint8_t data2 = 0;
    };
    // What is being recorded (under m_).
    struct Recording {
        bool on = false;
        std::map<std::uint64_t, std::shared_ptr<const SongTiming>> timings;  // by play serial
        std::vector<RecordedEvent> events;
        std::bitset<128> held;  // song keys down
        bool pedal = false;
        std::uint8_t channel = 0;
    };

    int addSong(std::shared_ptr<const Song> song, DeviceId& id, std::uint32_t& length);
    int halt(DeviceId id);

    // Control side, all under m_.
    void drainEnded();
    void interruptActive(int notice, int code = 0);
    void resetAudioSide();
    void sendHalt();
    void collectPlans();
    std::uint32_t activeUnits() const;
    bool busy() const;

    // Worker thread.
    void workerMain();
    void startUp();
    void finishStartUp(int error);
    using Lock = std::unique_lock<ControlMutex>;
    void replan(Lock& lk);
    std::unique_ptr<PlayPlan> planHere(Lock& lk);
    void followChase(Lock& lk);
    void runClock(Lock& lk);
    void manageOutput(Lock& lk);
    bool openOutput(Lock& lk);
    void closeOutput(Lock& lk);
    bool outputStalled() const;
    void pinPresets(Lock& lk);
    void pinFor(const Song& song);
    bool keyboardConnected() const;
    void readKeys(Lock& lk);
    void changeSound(Lock& lk);
    void deliver(std::deque<Notice> batch);
    void openPorts();
    void switchPort(Lock& lk, std::unique_ptr<PortLink> link);
    void servePort(Lock& lk);
    void portLost(Lock& lk);
    void retirePorts(Lock& lk, bool all);
    void takeRecorded();
    void keepRecorded(const RecordedEvent& e);
    void noteTiming(std::uint64_t serial, const Song& song);

    // Audio side.
    void render(float* left, float* right, std::size_t frames) noexcept override;
    void outputLost() noexcept override;
    void renderPort(PortLink& link, std::size_t frames) noexcept;
    void renderAudio(float* left, float* right, std::size_t frames,
                     const PortLink* caller = nullptr) noexcept;
    void publishAnchor(std::int64_t ns, std::uint64_t serialBefore, std::int64_t frameBefore,
                       std::size_t frames, bool port) noexcept;
    void settle() noexcept;
    void hearInput() noexcept;

    // The ports' thread.
    void midiIn(const MidiInEvent& event) noexcept override;
    void stamp(MidiInEvent e) noexcept;

    static Mode modeFor(const std::string& driver);

    const DeviceSettings settings_;
    const Mode mode_;
    bool soundFontMissing_;  // under m_

    mutable ControlMutex m_;
    std::condition_variable_any wake_;   // worker: commands, notices, quit
    std::condition_variable_any ready_;  // waitReady()
    std::map<DeviceId, OpenSong> songs_;
    // The song last read from a file, kept for the next open of that path.
    struct LastRead {
        std::string path;
        std::shared_ptr<const Song> song;
    } lastRead_;
    std::optional<ActivePlay> active_;
    PlaybackSettings playback_;
    SoundSettings sound_;
    // A synthesizer made by setSound, which the worker puts in place.
    std::unique_ptr<SynthInstance> newSynth_;
    std::deque<Notice> notices_;
    std::vector<std::unique_ptr<PlayPlan>> plans_;  // kept while the audio side may read them
    // Plans and songs no longer needed, freed by the worker: a big song takes
    // milliseconds to free, which neither the caller nor the lock should wait for.
    std::vector<std::shared_ptr<const void>> garbage_;
    std::uint64_t nextSerial_ = 1;
    bool started_ = false;
    int startupError_ = 0;  // the SoundFont's: every play reports it
    int outputError_ = 0;   // start-up's attempt at an output, for waitReady()
    bool quit_ = false;
    std::string outputName_;
    std::string driversTried_;
    // A started play whose presets the worker pins before it goes into the
    // mailbox.
    const PlayPlan* awaitingPins_ = nullptr;

    // Handoff to the audio side, all by atomics. The control side puts a plan
    // (or &haltPlan_) in the mailbox, replacing one not yet taken. The audio
    // side names the plan it is taking in taking_ before it takes it from the
    // mailbox, and the plan it plays in inUse_: the control side frees a plan
    // only when it is in none of the three. It reports the serial of a play
    // that ran to its end in endedSerial_.
    std::atomic<const PlayPlan*> mailbox_{nullptr};
    std::atomic<const PlayPlan*> taking_{nullptr};
    std::atomic<const PlayPlan*> inUse_{nullptr};
    std::atomic<std::uint64_t> endedSerial_{0};
    std::atomic<std::uint64_t> publishedSerial_{0};
    std::atomic<std::uint64_t> publishedFrame_{0};
    const PlayPlan haltPlan_{};
    // Speed and key, which the audio side takes up at each block start: a
    // change is heard at once, without a new plan.
    std::atomic<int> speed_{100};
    std::atomic<int> transpose_{0};

    // Audio side only.
    const PlayPlan* current_ = nullptr;
    std::atomic<bool> synthReady_{false};
    RealTimePace pace_{kSampleRate};
    // Held (by a SynthClaim) by whoever uses the synth: the audio side only
    // ever tries it (and renders silence while the worker has it, pinning presets).
    std::atomic_flag synthInUse_;
    std::atomic<bool> lost_{false};
    std::atomic<std::int64_t> lastPullNs_{0};  // steady clock, for the stall watch
    AnchorBoard anchor_;
    std::atomic<bool> liveInput_{false};  // an input is open
    bool keysRead_ = false;               // worker only: a keyboard's presets are read whole

    // MIDI ports. link_ and input_ under m_; activeLink_ names link_ for the
    // audio side, which plays only for the output it names.
    std::unique_ptr<MidiInput> input_;
    bool inputTried_ = false;
    std::unique_ptr<PortLink> link_;
    std::vector<std::unique_ptr<PortLink>> retired_;
    std::atomic<const PortLink*> activeLink_{nullptr};
    // What comes in, to the audio side, and stamped, to the recording.
    SpscRing<MidiInEvent, 1024> live_;
    SpscRing<Stamped, 1024> stamped_;
    std::atomic<std::uint64_t> inputDropped_{0};
    std::atomic<std::int64_t> lastInputNs_{0};
    std::atomic<int> inputChannel_{0};
    // Nonzero while recording, a new value for each recording.
    std::atomic<std::uint32_t> recordGen_{0};
    std::uint32_t nextGen_ = 0;  // under m_
    Recording rec_;
    // The ports' thread only: the song key each key played went to (for its
    // note-off), kNoKey or kDroppedKey.
    std::array<std::int16_t, 128> recKeys_{};
    std::uint32_t recKeysGen_ = 0;

    // Worker only.
    std::chrono::steady_clock::time_point clockStart_{};
    std::uint64_t clockFrames_ = 0;
    bool clockRunning_ = false;
    std::chrono::steady_clock::time_point idleSince_{};
    std::int64_t inputSeen_ = 0;  // lastInputNs_ as the output's keeper last saw it
    std::mutex pinning_;          // the worker's and the manual clock's pins
    ProgramThinner thinner_;      // songs opened without the program changes nobody hears
    PresetsAsked asked_;          // what the songs played ask for (a font loaded whole)
    PresetsPlayed played_;        // what they play with (a font cut down to it)

    // Torn down in this order (reverse of declaration): output, scheduler,
    // synth with its settings.
    std::unique_ptr<SynthInstance> synth_;
    Scheduler scheduler_{nullptr};
    std::unique_ptr<AudioOutput> output_;
    std::thread worker_;
};

}  // namespace lirno::device
