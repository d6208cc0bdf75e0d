// A JACK server of the test's own on the dummy driver (no sound hardware),
// for as long as the object lives. It sets JACK_DEFAULT_SERVER for this
// process and its children; when jackd cannot run, skipReason() says why and
// the test skips:
//     lirno::test::JackServer server;
//     if (!server.skipReason().empty()) GTEST_SKIP() << server.skipReason();
// and a plain libjack client to play into our ports and hear from them.
#pragma once

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "env_guard.h"

extern char** environ;

namespace lirno::test {

class JackServer {
  public:
    // A server named `name`, or one of its own when empty.
    explicit JackServer(unsigned rate = 44100, unsigned period = 256, std::string name = {})
        : name_(name.empty() ? uniqueName() : std::move(name)), env_("JACK_DEFAULT_SERVER", name_) {
        const std::string r = std::to_string(rate), p = std::to_string(period);
        const char* argv[] = {"jackd", "-n",      name_.c_str(), "-r",      "-d",   "dummy",
                              "-r",    r.c_str(), "-p",          p.c_str(), nullptr};
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int spawned =
            posix_spawnp(&pid_, "jackd", &quiet, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&quiet);
        if (spawned != 0) {
            pid_ = -1;
            skip_ = "jackd could not be started (not on PATH?)";
            return;
        }
        if (!waitUntilUp()) skip_ = "jackd did not come up within 10 s";
    }
    ~JackServer() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    const std::string& name() const { return name_; }
    const std::string& skipReason() const { return skip_; }

    static std::string uniqueName() {
        static std::atomic<int> next{0};
        return "lirno-test-" + std::to_string(::getpid()) + "-" + std::to_string(next++);
    }

  private:
    bool waitUntilUp() {
        // libjack's complaints while the server comes up are no news.
        jack_set_error_function([](const char*) {});
        jack_set_info_function([](const char*) {});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            if (jack_client_t* c = jack_client_open("lirno-probe", JackNoStartServer, nullptr)) {
                jack_client_close(c);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    std::string name_;
    EnvGuard env_;
    pid_t pid_ = -1;
    std::string skip_;
};

// Polls for up to five seconds.
template <class Done>
bool waitFor(Done done) {
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// Whether `got` is some of `sent`, in the order sent: what a late cycle
// leaves of a take.
template <class T>
bool someInOrder(const std::vector<T>& got, const std::vector<T>& sent) {
    auto next = sent.begin();
    for (const T& g : got) {
        next = std::find(next, sent.end(), g);
        if (next == sent.end()) return false;
        ++next;
    }
    return !got.empty();
}

// A keyboard and a synthesizer in one: "out" plays notes at chosen frames,
// "in" keeps what arrives with its frame.
// Writes into a cycle's MIDI buffer the messages (in frame order, each with
// its `frame` and 3 `bytes`) due in it, from `next` on; those that fell in
// cycles missed in an xrun go at once, at its start.
template <class Message>
void writeDue(void* out, const std::vector<Message>& messages, std::size_t& next,
              jack_nframes_t start, jack_nframes_t frames) {
    for (; next < messages.size(); ++next) {
        const Message& m = messages[next];
        const jack_nframes_t due = m.frame - start;
        if (due < frames) {
            jack_midi_event_write(out, due, m.bytes.data(), 3);
        } else if (start - m.frame < 0x80000000u) {
            jack_midi_event_write(out, 0, m.bytes.data(), 3);
        } else {
            break;
        }
    }
}

class JackTestClient {
  public:
    struct Sent {
        jack_nframes_t frame;  // on the server's frame clock
        std::array<std::uint8_t, 3> bytes;
    };

    JackTestClient() : client_(jack_client_open("lirno-test", JackNoStartServer, nullptr)) {
        if (!client_) return;
        out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &JackTestClient::process, this);
        jack_set_xrun_callback(
            client_, [](void* self) { return ++static_cast<JackTestClient*>(self)->xruns_, 0; },
            this);
        jack_activate(client_);
    }
    ~JackTestClient() { close(); }
    void close() {
        if (client_) jack_client_close(std::exchange(client_, nullptr));
    }
    jack_client_t* get() const { return client_; }

    using Message = std::array<std::uint8_t, 3>;
    // The messages from `lead` frames from now, `spacing` frames apart.
    std::vector<Sent> play(const std::vector<Message>& messages, jack_nframes_t spacing,
                           jack_nframes_t lead) {
        std::vector<Sent> sent;
        const jack_nframes_t start = jack_frame_time(client_) + lead;
        for (std::size_t i = 0; i < messages.size(); ++i)
            sent.push_back({start + jack_nframes_t(i) * spacing, messages[i]});
        std::lock_guard lock(mutex_);
        toSend_ = sent;
        next_ = 0;
        return sent;
    }
    std::vector<Sent> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // Whether frame f fell in cycles the client missed, or is the first
    // frame after them (an xrun on a busy machine: jackd runs without
    // real-time priority in tests); a message there is late.
    bool missed(jack_nframes_t f) const {
        std::lock_guard lock(mutex_);
        for (const auto& [from, to] : missed_) {
            if (f - from <= to - from) return true;
        }
        return false;
    }

    // Cycles the server reports as late for any client: MIDI a late client
    // was to read in them may be lost (JACK's own rule, not ours).
    int xruns() const { return xruns_.load(); }

    std::size_t missedCount() const {
        std::lock_guard lock(mutex_);
        return missed_.size();
    }

  private:
    static int process(jack_nframes_t frames, void* data) {
        auto* self = static_cast<JackTestClient*>(data);
        const jack_nframes_t start = jack_last_frame_time(self->client_);
        void* out = jack_port_get_buffer(self->out_, frames);
        void* in = jack_port_get_buffer(self->in_, frames);
        jack_midi_clear_buffer(out);
        std::lock_guard lock(self->mutex_);
        const jack_nframes_t step = start - self->lastStart_;
        if (self->cycles_++ > 0 && step > frames && step < 0x80000000u)
            self->missed_.emplace_back(self->lastStart_ + frames, start);
        self->lastStart_ = start;
        writeDue(out, self->toSend_, self->next_, start, frames);
        for (std::uint32_t i = 0, n = jack_midi_get_event_count(in); i < n; ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, in, i) != 0 || e.size != 3) continue;
            self->received_.push_back({start + e.time, {e.buffer[0], e.buffer[1], e.buffer[2]}});
        }
        return 0;
    }

    jack_client_t* client_;
    jack_port_t* out_ = nullptr;
    jack_port_t* in_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<Sent> toSend_;
    std::vector<Sent> received_;
    std::uint64_t cycles_ = 0;
    jack_nframes_t lastStart_ = 0;
    std::size_t next_ = 0;                                           // of toSend_
    std::vector<std::pair<jack_nframes_t, jack_nframes_t>> missed_;  // first frame, frame after
    std::atomic<int> xruns_{0};
};

}  // namespace lirno::test
