// Our ports on the ALSA sequencer. One thread of the client reads what
// comes to it (MIDI in, and the system's announcements of ports coming and
// going); an output schedules its messages on a queue of ours, stamped in
// real time, so that no message's time depends on a thread waking on time.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

#include "device/engine/output.h"  // OutputSink only: the engine is not linked
#include "device/engine/sample_rates.h"
#include "device/errors.h"
#include "device/ports/backends.h"
#include "midi/vocabulary.h"

namespace lirno::device {
namespace {

constexpr std::string_view kPrefix = "alsa:";

// alsa-lib prints why the sequencer did not open; here that is no news.
void quiet(const char*, int, const char*, int, const char*, ...) {}

struct AlsaAddress {
    int client = -1;
    int port = -1;
};

std::string nameOf(AlsaAddress a) {
    return std::string(kPrefix) + std::to_string(a.client) + ":" + std::to_string(a.port);
}

// Parses "alsa:C:P"; client -1 when it is not such a name.
AlsaAddress parse(const std::string& name) {
    AlsaAddress a;
    if (!name.starts_with(kPrefix)) return a;
    const std::string rest = name.substr(kPrefix.size());
    const auto colon = rest.find(':');
    if (colon == std::string::npos) return a;
    try {
        std::size_t end = 0;
        const int c = std::stoi(rest.substr(0, colon), &end);
        if (end != colon) return a;
        const int p = std::stoi(rest.substr(colon + 1), &end);
        if (end != rest.size() - colon - 1) return a;
        a = {c, p};
    } catch (const std::exception&) {
    }
    return a;
}

// What the reading thread hands on.
class AlsaUser {
  public:
    virtual ~AlsaUser() = default;
    virtual void event(const snd_seq_event_t& ev) noexcept = 0;
};

class AlsaClient {
  public:
    explicit AlsaClient(snd_seq_t* seq) : seq_(seq), wake_(::eventfd(0, EFD_CLOEXEC)) {
        snd_seq_set_client_name(seq_, kClientName);
        // Ports that come and go are announced to a port of ours that no
        // other client lists.
        announce_ = snd_seq_create_simple_port(seq_, "announce",
                                               SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                               SND_SEQ_PORT_TYPE_APPLICATION);
        if (announce_ >= 0) {
            snd_seq_connect_from(seq_, announce_, SND_SEQ_CLIENT_SYSTEM,
                                 SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        }
        reader_ = std::thread([this] { read(); });
    }
    ~AlsaClient() {
        const std::uint64_t one = 1;
        if (wake_ >= 0) [[maybe_unused]]
            const auto woken = ::write(wake_, &one, sizeof one);
        if (reader_.joinable()) reader_.join();
        if (wake_ >= 0) ::close(wake_);
        snd_seq_close(seq_);
    }
    AlsaClient(const AlsaClient&) = delete;
    AlsaClient& operator=(const AlsaClient&) = delete;

    snd_seq_t* get() const noexcept { return seq_; }
    int id() const { return snd_seq_client_id(seq_); }
    std::mutex& sendMutex() noexcept { return sendMutex_; }

    void add(AlsaUser& user) {
        std::lock_guard lock(usersMutex_);
        users_.push_back(&user);
    }
    void remove(AlsaUser& user) {
        std::lock_guard lock(usersMutex_);
        std::erase(users_, &user);
    }

  private:
    void read();

    snd_seq_t* seq_;
    int wake_;
    int announce_ = -1;
    std::mutex sendMutex_;  // the client's output buffer is not thread-safe
    std::mutex usersMutex_;
    std::vector<AlsaUser*> users_;
    std::thread reader_;
};

void AlsaClient::read() {
    const int n = snd_seq_poll_descriptors_count(seq_, POLLIN);
    std::vector<pollfd> fds(std::size_t(std::max(n, 0)) + 1);
    snd_seq_poll_descriptors(seq_, fds.data(), unsigned(n), POLLIN);
    fds.back() = {wake_, POLLIN, 0};
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
        if (fds.back().revents != 0) return;
        snd_seq_event_t* ev = nullptr;
        while (snd_seq_event_input(seq_, &ev) >= 0 && ev) {
            std::lock_guard lock(usersMutex_);
            for (AlsaUser* user : users_) user->event(*ev);
        }
    }
}

// A device's port. The kernel's "Midi Through" is generic MIDI too, but
// software: connected by itself it would echo any program into the input.
bool hardware(snd_seq_port_info_t* info) {
    const unsigned type = snd_seq_port_info_get_type(info);
    if ((type & SND_SEQ_PORT_TYPE_HARDWARE) != 0) return true;
    return (type & SND_SEQ_PORT_TYPE_MIDI_GENERIC) != 0 &&
           (type & (SND_SEQ_PORT_TYPE_APPLICATION | SND_SEQ_PORT_TYPE_SOFTWARE)) == 0;
}

// Every port of another client with these capabilities, system ports aside.
template <class Visit>
void eachPort(snd_seq_t* seq, unsigned caps, Visit visit) {
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    const int own = snd_seq_client_id(seq);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        const int c = snd_seq_client_info_get_client(client);
        if (c == own || c == SND_SEQ_CLIENT_SYSTEM) continue;
        snd_seq_port_info_set_client(port, c);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            if ((snd_seq_port_info_get_capability(port) & caps) != caps) continue;
            visit(client, port);
        }
    }
}

std::vector<PortInfo> listPorts(snd_seq_t* seq, unsigned caps) {
    std::vector<PortInfo> ports;
    eachPort(seq, caps, [&](snd_seq_client_info_t* client, snd_seq_port_info_t* port) {
        const AlsaAddress a{snd_seq_port_info_get_client(port), snd_seq_port_info_get_port(port)};
        ports.push_back({nameOf(a),
                         std::string(snd_seq_client_info_get_name(client)) + ": " +
                             snd_seq_port_info_get_name(port),
                         hardware(port)});
    });
    return ports;
}

constexpr unsigned kReadable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned kWritable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

// alsa-lib's converter between bytes and sequencer events.
class MidiCoder {
  public:
    MidiCoder() {
        snd_midi_event_new(16, &coder_);
        if (coder_) snd_midi_event_no_status(coder_, 1);  // whole messages, no running status
    }
    ~MidiCoder() {
        if (coder_) snd_midi_event_free(coder_);
    }
    MidiCoder(const MidiCoder&) = delete;
    MidiCoder& operator=(const MidiCoder&) = delete;
    snd_midi_event_t* get() const noexcept { return coder_; }

  private:
    snd_midi_event_t* coder_ = nullptr;
};

bool isAnnouncement(const snd_seq_event_t& ev) {
    return ev.source.client == SND_SEQ_CLIENT_SYSTEM &&
           ev.source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE;
}

class AlsaInput final : public MidiInput, private AlsaUser {
  public:
    AlsaInput(std::shared_ptr<AlsaClient> client, int port, MidiInputSink& sink,
              bool connectHardware)
        : client_(std::move(client)), port_(port), sink_(sink), hardware_(connectHardware) {
        eachPort(client_->get(), kReadable, [&](snd_seq_client_info_t*, snd_seq_port_info_t* p) {
            if (hardware_ && hardware(p)) connectFrom(p);
        });
        client_->add(*this);
    }
    ~AlsaInput() override {
        client_->remove(*this);
        snd_seq_delete_simple_port(client_->get(), port_);
    }
    bool connected() const override {
        snd_seq_query_subscribe_t* query = nullptr;
        snd_seq_query_subscribe_alloca(&query);
        const snd_seq_addr_t root{static_cast<unsigned char>(client_->id()),
                                  static_cast<unsigned char>(port_)};
        snd_seq_query_subscribe_set_root(query, &root);
        snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_WRITE);
        snd_seq_query_subscribe_set_index(query, 0);
        return snd_seq_query_port_subscribers(client_->get(), query) >= 0;
    }

  private:
    void connectFrom(snd_seq_port_info_t* p) {
        snd_seq_connect_from(client_->get(), port_, snd_seq_port_info_get_client(p),
                             snd_seq_port_info_get_port(p));
    }
    void event(const snd_seq_event_t& ev) noexcept override {
        if (isAnnouncement(ev) && ev.type == SND_SEQ_EVENT_PORT_START) {
            if (!hardware_) return;
            snd_seq_port_info_t* p = nullptr;
            snd_seq_port_info_alloca(&p);
            if (snd_seq_get_any_port_info(client_->get(), ev.data.addr.client, ev.data.addr.port,
                                          p) >= 0 &&
                (snd_seq_port_info_get_capability(p) & kReadable) == kReadable && hardware(p) &&
                ev.data.addr.client != client_->id()) {
                connectFrom(p);
            }
            return;
        }
        if (ev.dest.port != port_ || isAnnouncement(ev)) return;
        std::array<unsigned char, 8> bytes{};
        snd_seq_event_t copy = ev;
        const long n = snd_midi_event_decode(coder_.get(), bytes.data(), bytes.size(), &copy);
        if (n < 1 || !midi::isChannelStatus(bytes[0]) || n < 1 + midi::dataBytes(bytes[0])) return;
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        sink_.midiIn({std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(), bytes[0],
                      bytes[1], midi::dataBytes(bytes[0]) == 2 ? bytes[2] : std::uint8_t{0}});
    }

    std::shared_ptr<AlsaClient> client_;
    int port_;
    MidiInputSink& sink_;
    bool hardware_;
    MidiCoder coder_;  // the reading thread's
};

// Renders up to kAhead ahead of real time, every kTick.
constexpr auto kAhead = std::chrono::milliseconds(20);
constexpr auto kTick = std::chrono::milliseconds(4);

class AlsaOutput final : public MidiOutput, private AlsaUser {
  public:
    AlsaOutput(std::shared_ptr<AlsaClient> client, int port, int queue, AlsaAddress destination,
               OutputSink& clock)
        : client_(std::move(client)),
          port_(port),
          queue_(queue),
          destination_(destination),
          clock_(clock) {
        {
            std::lock_guard sending(client_->sendMutex());  // an old output may still send
            snd_seq_start_queue(client_->get(), queue_, nullptr);
            snd_seq_drain_output(client_->get());
        }
        start_ = std::chrono::steady_clock::now();
        client_->add(*this);
        pacer_ = std::jthread([this](std::stop_token stop) { pace(stop); });
    }
    ~AlsaOutput() override {
        pacer_ = {};
        client_->remove(*this);
        // What is queued plays out before the queue goes.
        std::this_thread::sleep_until(start_ + frameTime(rendered_));
        snd_seq_free_queue(client_->get(), queue_);
        snd_seq_delete_simple_port(client_->get(), port_);
    }
    std::string port() const override { return nameOf(destination_); }
    std::int64_t callStartNs() const noexcept override {
        const auto at = start_ + frameTime(rendered_);
        return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
    }

    void send(std::size_t offset, std::span<const std::uint8_t> message) noexcept override {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        if (!message.empty() && message[0] == midi::kSysEx) {
            // Whole, as the coder would cut it at its buffer's size; the
            // event's data is copied when it is put out.
            snd_seq_ev_set_sysex(&ev, unsigned(message.size()),
                                 const_cast<std::uint8_t*>(message.data()));
        } else {
            snd_midi_event_reset_encode(coder_.get());
            if (snd_midi_event_encode(coder_.get(), message.data(), long(message.size()), &ev) <=
                    0 ||
                ev.type == SND_SEQ_EVENT_NONE) {
                return;
            }
        }
        const auto at = frameTime(rendered_ + offset);
        const auto secs = std::chrono::duration_cast<std::chrono::seconds>(at);
        const snd_seq_real_time_t time{unsigned(secs.count()), unsigned((at - secs).count())};
        snd_seq_ev_set_source(&ev, port_);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_schedule_real(&ev, queue_, 0, &time);
        snd_seq_event_output(client_->get(), &ev);
    }

  private:
    static std::chrono::nanoseconds frameTime(std::uint64_t frame) {
        return std::chrono::nanoseconds(frame * 1'000'000'000 / kSampleRate);
    }
    void pace(std::stop_token stop) {
        std::mutex m;
        std::condition_variable_any cv;
        std::unique_lock lock(m);
        while (!stop.stop_requested()) {
            const auto ahead = std::chrono::steady_clock::now() - start_ + kAhead;
            const auto target =
                std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(ahead).count() *
                              std::int64_t(kSampleRate) / 1'000'000'000);
            if (target > rendered_ && !lost_.load()) {
                std::lock_guard sending(client_->sendMutex());
                clock_.render(nullptr, nullptr, target - rendered_);
                snd_seq_drain_output(client_->get());
                rendered_ = target;
            }
            cv.wait_for(lock, stop, kTick, [] { return false; });
        }
    }
    void event(const snd_seq_event_t& ev) noexcept override {
        const bool gone =
            isAnnouncement(ev) &&
            ((ev.type == SND_SEQ_EVENT_PORT_EXIT && ev.data.addr.client == destination_.client &&
              ev.data.addr.port == destination_.port) ||
             (ev.type == SND_SEQ_EVENT_CLIENT_EXIT && ev.data.addr.client == destination_.client));
        if (gone && !lost_.exchange(true)) clock_.outputLost();
    }

    std::shared_ptr<AlsaClient> client_;
    int port_;
    int queue_;
    AlsaAddress destination_;
    OutputSink& clock_;
    MidiCoder coder_;
    std::atomic<bool> lost_{false};
    std::chrono::steady_clock::time_point start_;
    std::uint64_t rendered_ = 0;  // the pacer's, at kSampleRate
    std::jthread pacer_;
};

class AlsaPorts final : public PortSystem {
  public:
    explicit AlsaPorts(std::shared_ptr<AlsaClient> client) : client_(std::move(client)) {}
    bool running() const override { return true; }
    std::vector<PortInfo> sources() override { return listPorts(client_->get(), kReadable); }
    std::vector<PortInfo> destinations() override { return listPorts(client_->get(), kWritable); }

    std::unique_ptr<MidiInput> openSystemInput(MidiInputSink& sink, bool hardware) override {
        const int port = snd_seq_create_simple_port(
            client_->get(), "input", kWritable,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0) return nullptr;
        return std::make_unique<AlsaInput>(client_, port, sink, hardware);
    }

    std::unique_ptr<MidiOutput> openOutput(const std::string& name, OutputSink& clock,
                                           int& error) override {
        error = kErrMidiPort;
        const AlsaAddress to = parse(name);
        if (to.client < 0 || to.client == client_->id()) return nullptr;
        const int port = snd_seq_create_simple_port(
            client_->get(), "output", kReadable,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0) return nullptr;
        const int queue = snd_seq_alloc_named_queue(client_->get(), kClientName);
        if (queue < 0 || snd_seq_connect_to(client_->get(), port, to.client, to.port) < 0) {
            if (queue >= 0) snd_seq_free_queue(client_->get(), queue);
            snd_seq_delete_simple_port(client_->get(), port);
            return nullptr;
        }
        error = 0;
        return std::make_unique<AlsaOutput>(client_, port, queue, to, clock);
    }

  private:
    std::shared_ptr<AlsaClient> client_;
};

}  // namespace

std::unique_ptr<PortSystem> openAlsaPorts() {
    // Whatever handler the engine routes alsa-lib's messages to comes back.
    const snd_lib_error_handler_t previous = snd_lib_error;
    snd_lib_error_set_handler(quiet);
    snd_seq_t* seq = nullptr;
    const int opened = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    snd_lib_error_set_handler(previous);
    if (opened < 0 || !seq) return nullptr;
    // Room for what an output queues ahead plus a halt's releases on every
    // channel: a full pool in non-blocking mode would drop a note-off.
    snd_seq_set_client_pool_output(seq, 2000);  // the kernel's most
    snd_seq_set_output_buffer_size(seq, 2000 * sizeof(snd_seq_event_t));
    return std::make_unique<AlsaPorts>(std::make_shared<AlsaClient>(seq));
}

}  // namespace lirno::device
