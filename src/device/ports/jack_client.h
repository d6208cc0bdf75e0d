// One JACK client shared by our input and output ports, with the server's
// calls handed on to whichever ports are open.
#pragma once

#include <jack/jack.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace lirno::device {

// A port of ours on the client. process() runs on JACK's real-time thread;
// the others on its notification thread, where no server call may be made.
class JackUser {
  public:
    virtual ~JackUser() = default;
    virtual void process(jack_nframes_t frames) noexcept = 0;
    virtual void portRegistered(jack_port_t* /*port*/) noexcept {}
    virtual void portGone(jack_port_t* /*port*/) noexcept {}
    virtual void disconnected(jack_port_t* /*a*/, jack_port_t* /*b*/) noexcept {}
    virtual void serverGone() noexcept {}
};

class JackClient {
  public:
    // Null when no server runs, or while a client of a server that went
    // away is still open; never starts one, and says nothing.
    static std::shared_ptr<JackClient> open(const char* name);
    explicit JackClient(jack_client_t* client);  // takes it over
    ~JackClient();
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    jack_client_t* get() const noexcept { return client_; }
    bool alive() const noexcept;
    // "NAME:" as the server gave it (it renames a client whose name is taken).
    std::string prefix() const;
    // Microseconds on JACK's clock to nanoseconds on std::chrono::steady_clock.
    // jackd2 keeps CLOCK_MONOTONIC_RAW (a quarter of a second off
    // steady_clock on a test machine, and drifting from it with NTP's
    // corrections), so the time is taken as an age on JACK's clock now.
    static std::int64_t steadyNs(jack_time_t us) noexcept;

    // Held around each request to the server (registering, connecting):
    // libjack's requests from two threads at once can get each other's
    // answers, so ours go one at a time.
    std::mutex& requests() noexcept { return requestMutex_; }

    // From add() on the user gets the server's calls; once remove() returns
    // no call into it runs.
    void add(JackUser& user);
    void remove(JackUser& user);

  private:
    static int onProcess(jack_nframes_t frames, void* self) noexcept;
    static void onRegistration(jack_port_id_t id, int registered, void* self) noexcept;
    static void onConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* self) noexcept;
    static void onShutdown(void* self) noexcept;

    jack_client_t* client_;
    bool dead_ = false;  // under notifyMutex_
    // The real-time thread only tries the lock: a cycle is skipped while a
    // port is being added or removed, never waited for.
    std::mutex processMutex_;
    mutable std::mutex notifyMutex_;
    std::mutex requestMutex_;
    std::vector<JackUser*> users_;  // changed under both locks
};

// The full names of the ports that match, freed with jack_free.
std::vector<std::string> jackPorts(jack_client_t* client, unsigned long flags);

}  // namespace lirno::device
