// Our ports on a JACK server: MIDI read and written in the process cycle.
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>

#include "device/engine/output.h"  // OutputSink only: the engine is not linked
#include "device/engine/sample_rates.h"
#include "device/errors.h"
#include "device/ports/backends.h"
#include "device/ports/jack_client.h"
#include "midi/vocabulary.h"

namespace lirno::device {
namespace {

constexpr std::string_view kPrefix = "jack:";

// Registers "base", or "base 2", ... when a port of ours already has the
// name. Under the client's requests() lock.
jack_port_t* registerPort(jack_client_t* client, const std::string& base, unsigned long flags) {
    for (int n = 1; n <= 8; ++n) {
        const std::string name = n == 1 ? base : base + " " + std::to_string(n);
        if (jack_port_t* port =
                jack_port_register(client, name.c_str(), JACK_DEFAULT_MIDI_TYPE, flags, 0)) {
            return port;
        }
    }
    return nullptr;
}

class JackInput final : public MidiInput, private JackUser {
  public:
    JackInput(std::shared_ptr<JackClient> client, jack_port_t* port, MidiInputSink& sink,
              bool hardware)
        : client_(std::move(client)), port_(port), sink_(sink), hardware_(hardware) {
        client_->add(*this);
        if (hardware_) connect(jackPorts(client_->get(), JackPortIsOutput | JackPortIsPhysical));
        worker_ = std::jthread([this](std::stop_token stop) { connectNewSources(stop); });
    }
    ~JackInput() override {
        client_->remove(*this);
        worker_ = {};
        std::lock_guard request(client_->requests());
        jack_port_unregister(client_->get(), port_);
    }
    bool connected() const override { return client_->alive() && jack_port_connected(port_) > 0; }
    bool alive() const override { return client_->alive(); }

  private:
    void process(jack_nframes_t frames) noexcept override {
        void* buffer = jack_port_get_buffer(port_, frames);
        const jack_nframes_t cycleStart = jack_last_frame_time(client_->get());
        const std::uint32_t count = jack_midi_get_event_count(buffer);
        for (std::uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) continue;
            const std::uint8_t status = event.buffer[0];
            if (!midi::isChannelStatus(status) ||
                event.size < std::size_t(1 + midi::dataBytes(status))) {
                continue;
            }
            MidiInEvent in;
            in.timeNs =
                client_->steadyNs(jack_frames_to_time(client_->get(), cycleStart + event.time));
            in.status = status;
            in.data1 = event.buffer[1];
            in.data2 = midi::dataBytes(status) == 2 ? event.buffer[2] : 0;
            sink_.midiIn(in);
        }
    }
    // No server call may be made here: the worker connects it.
    void portRegistered(jack_port_t* port) noexcept override {
        const int flags = jack_port_flags(port);
        if (!hardware_ || (flags & JackPortIsOutput) == 0 || (flags & JackPortIsPhysical) == 0 ||
            std::string_view(jack_port_type(port)) != JACK_DEFAULT_MIDI_TYPE) {
            return;
        }
        {
            std::lock_guard lock(mutex_);
            pending_.emplace_back(jack_port_name(port));
        }
        wake_.notify_one();
    }
    void connectNewSources(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        while (wake_.wait(lock, stop, [this] { return !pending_.empty(); })) {
            const std::vector<std::string> sources = std::exchange(pending_, {});
            lock.unlock();
            connect(sources);
            lock.lock();
        }
    }
    void connect(const std::vector<std::string>& sources) {
        std::lock_guard request(client_->requests());
        for (const std::string& source : sources)
            jack_connect(client_->get(), source.c_str(), jack_port_name(port_));
    }

    std::shared_ptr<JackClient> client_;
    jack_port_t* port_;
    MidiInputSink& sink_;
    bool hardware_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::vector<std::string> pending_;
    std::jthread worker_;
};

// Plays to one port and is the play's clock: the server's frames since the
// first cycle, at its rate, become frames at kSampleRate. Both are running
// totals, so the conversion never drifts; and they follow the server's frame
// clock, so cycles this client missed (an xrun) are caught up and the song
// keeps to real time.
class JackOutput final : public MidiOutput, private JackUser {
  public:
    JackOutput(std::shared_ptr<JackClient> client, jack_port_t* port, jack_port_t* destination,
               std::string name, OutputSink& clock)
        : client_(std::move(client)),
          port_(port),
          destination_(destination),
          name_(std::move(name)),
          clock_(clock),
          rate_(jack_get_sample_rate(client_->get())) {
        client_->add(*this);
    }
    ~JackOutput() override {
        client_->remove(*this);
        std::lock_guard request(client_->requests());
        jack_port_unregister(client_->get(), port_);
    }
    std::string port() const override { return name_; }

    void send(std::size_t offset, std::span<const std::uint8_t> message) noexcept override {
        if (!buffer_ || message.empty()) return;
        const std::uint64_t at = rendered_ + offset;
        const std::uint64_t frame = (at * rate_ + kSampleRate - 1) / kSampleRate;  // rounded up
        const std::uint64_t inCycle = frame > serverFrames_ ? frame - serverFrames_ : 0;
        const auto f = jack_nframes_t(std::clamp<std::uint64_t>(inCycle, lastFrame_, cycle_ - 1));
        if (jack_midi_event_write(buffer_, f, message.data(), message.size()) == 0) lastFrame_ = f;
    }

  private:
    void process(jack_nframes_t frames) noexcept override {
        void* buffer = jack_port_get_buffer(port_, frames);
        jack_midi_clear_buffer(buffer);
        // The server takes a new connection into its graph a cycle or two
        // after jack_connect returns: the play's first notes wait for it.
        if (!started_ && jack_port_connected(port_) == 0) return;
        cycle_ = frames;
        lastFrame_ = 0;
        const jack_nframes_t cycleStart = jack_last_frame_time(client_->get());
        if (started_) serverFrames_ += jack_nframes_t(cycleStart - lastCycle_);  // wraps
        started_ = true;
        lastCycle_ = cycleStart;
        const std::uint64_t end = (serverFrames_ + frames) * kSampleRate / rate_;
        buffer_ = buffer;
        if (end > rendered_ && !lost_.load()) clock_.render(nullptr, nullptr, end - rendered_);
        rendered_ = end;
        buffer_ = nullptr;
    }
    void portGone(jack_port_t* port) noexcept override {
        if (port == destination_) lose();
    }
    void disconnected(jack_port_t* a, jack_port_t* b) noexcept override {
        if ((a == port_ && b == destination_) || (a == destination_ && b == port_)) lose();
    }
    void serverGone() noexcept override { lose(); }
    void lose() noexcept {
        if (!lost_.exchange(true)) clock_.outputLost();
    }

    std::shared_ptr<JackClient> client_;
    jack_port_t* port_;
    jack_port_t* destination_;
    std::string name_;
    OutputSink& clock_;
    std::uint64_t rate_;
    std::atomic<bool> lost_{false};
    // The process thread's own.
    void* buffer_ = nullptr;  // only while clock_.render runs
    jack_nframes_t cycle_ = 0;
    jack_nframes_t lastFrame_ = 0;
    bool started_ = false;
    jack_nframes_t lastCycle_ = 0;
    std::uint64_t serverFrames_ = 0;  // at this cycle's start
    std::uint64_t rendered_ = 0;      // frames at kSampleRate
};

std::string labelOf(jack_port_t* port) {
    std::vector<char> a(jack_port_name_size()), b(jack_port_name_size());
    char* aliases[2] = {a.data(), b.data()};
    if (jack_port_get_aliases(port, aliases) > 0 && a[0] != '\0') return a.data();
    return jack_port_name(port);
}

class JackPorts final : public PortSystem {
  public:
    explicit JackPorts(std::shared_ptr<JackClient> client) : client_(std::move(client)) {}
    bool running() const override { return client_->alive(); }

    std::vector<PortInfo> sources() override { return list(JackPortIsOutput); }
    std::vector<PortInfo> destinations() override { return list(JackPortIsInput); }

    std::unique_ptr<MidiInput> openSystemInput(MidiInputSink& sink, bool hardware) override {
        if (!client_->alive()) return nullptr;
        jack_port_t* port = nullptr;
        {
            std::lock_guard request(client_->requests());
            port = registerPort(client_->get(), "input", JackPortIsInput);
        }
        if (!port) return nullptr;
        return std::make_unique<JackInput>(client_, port, sink, hardware);
    }

    std::unique_ptr<MidiOutput> openOutput(const std::string& name, OutputSink& clock,
                                           int& error) override;

  private:
    std::vector<PortInfo> list(unsigned long flags) const {
        std::vector<PortInfo> ports;
        if (!client_->alive()) return ports;
        const std::string own = client_->prefix();
        for (const std::string& name : jackPorts(client_->get(), flags)) {
            if (name.starts_with(own)) continue;
            jack_port_t* port = jack_port_by_name(client_->get(), name.c_str());
            if (!port) continue;
            ports.push_back({std::string(kPrefix) + name, labelOf(port),
                             (jack_port_flags(port) & JackPortIsPhysical) != 0});
        }
        return ports;
    }

    std::shared_ptr<JackClient> client_;
};

std::unique_ptr<MidiOutput> JackPorts::openOutput(const std::string& name, OutputSink& clock,
                                                  int& error) {
    error = kErrMidiPort;
    if (!name.starts_with(kPrefix) || !client_->alive()) return nullptr;
    const std::string target = name.substr(kPrefix.size());
    jack_port_t* destination = jack_port_by_name(client_->get(), target.c_str());
    if (!destination || (jack_port_flags(destination) & JackPortIsInput) == 0 ||
        std::string_view(jack_port_type(destination)) != JACK_DEFAULT_MIDI_TYPE ||
        target.starts_with(client_->prefix())) {
        return nullptr;
    }
    std::unique_lock request(client_->requests());
    jack_port_t* port = registerPort(client_->get(), "output", JackPortIsOutput);
    if (!port) return nullptr;
    if (jack_connect(client_->get(), jack_port_name(port), target.c_str()) != 0) {
        jack_port_unregister(client_->get(), port);
        return nullptr;
    }
    request.unlock();
    error = 0;
    return std::make_unique<JackOutput>(client_, port, destination, name, clock);
}

}  // namespace

std::unique_ptr<PortSystem> openJackPorts() {
    auto client = JackClient::open(kClientName);
    if (!client) return nullptr;
    return std::make_unique<JackPorts>(std::move(client));
}

}  // namespace lirno::device
