#include "device/ports/jack_client.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace lirno::device {
namespace {

// libjack reports a missing server on stderr; the caller says what matters.
void quiet(const char*) {}

// Clients of ours whose server went away, not yet closed. libjack keeps the
// shared memory of the server it first reached until its last client
// closes: a client opened on a new server meanwhile would use the old one's
// and crash. So none is opened until these are closed.
std::atomic<int> orphans{0};

}  // namespace

std::shared_ptr<JackClient> JackClient::open(const char* name) {
    static std::once_flag quietOnce;
    std::call_once(quietOnce, [] {
        jack_set_error_function(quiet);
        jack_set_info_function(quiet);
    });
    if (orphans.load() > 0) return nullptr;
    jack_status_t status{};
    jack_client_t* client = jack_client_open(name, JackNoStartServer, &status);
    if (!client) return nullptr;
    auto self = std::make_shared<JackClient>(client);
    if (jack_set_process_callback(client, onProcess, self.get()) != 0 ||
        jack_set_port_registration_callback(client, onRegistration, self.get()) != 0 ||
        jack_set_port_connect_callback(client, onConnect, self.get()) != 0) {
        return nullptr;
    }
    jack_on_shutdown(client, onShutdown, self.get());
    if (jack_activate(client) != 0) return nullptr;
    return self;
}

JackClient::JackClient(jack_client_t* client) : client_(client) {}

JackClient::~JackClient() {
    jack_deactivate(client_);
    jack_client_close(client_);
    std::lock_guard lock(notifyMutex_);
    if (dead_) --orphans;
}

std::int64_t JackClient::steadyNs(jack_time_t us) noexcept {
    const jack_time_t jackNow = jack_get_time();
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() +
           (std::int64_t(us) - std::int64_t(jackNow)) * 1000;
}

bool JackClient::alive() const noexcept {
    std::lock_guard lock(notifyMutex_);
    return !dead_;
}

std::string JackClient::prefix() const {
    return std::string(jack_get_client_name(client_)) + ":";
}

void JackClient::add(JackUser& user) {
    std::scoped_lock lock(notifyMutex_, processMutex_);
    users_.push_back(&user);
}

void JackClient::remove(JackUser& user) {
    std::scoped_lock lock(notifyMutex_, processMutex_);
    std::erase(users_, &user);
}

int JackClient::onProcess(jack_nframes_t frames, void* data) noexcept {
    auto* self = static_cast<JackClient*>(data);
    std::unique_lock lock(self->processMutex_, std::try_to_lock);
    if (!lock.owns_lock()) return 0;
    for (JackUser* user : self->users_) user->process(frames);
    return 0;
}

void JackClient::onRegistration(jack_port_id_t id, int registered, void* data) noexcept {
    auto* self = static_cast<JackClient*>(data);
    jack_port_t* port = jack_port_by_id(self->client_, id);
    if (!port) return;
    std::lock_guard lock(self->notifyMutex_);
    for (JackUser* user : self->users_) {
        if (registered) {
            user->portRegistered(port);
        } else {
            user->portGone(port);
        }
    }
}

void JackClient::onConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* data) noexcept {
    if (connected) return;
    auto* self = static_cast<JackClient*>(data);
    jack_port_t* pa = jack_port_by_id(self->client_, a);
    jack_port_t* pb = jack_port_by_id(self->client_, b);
    std::lock_guard lock(self->notifyMutex_);
    for (JackUser* user : self->users_) user->disconnected(pa, pb);
}

void JackClient::onShutdown(void* data) noexcept {
    auto* self = static_cast<JackClient*>(data);
    std::lock_guard lock(self->notifyMutex_);
    if (!self->dead_) ++orphans;
    self->dead_ = true;
    for (JackUser* user : self->users_) user->serverGone();
}

std::vector<std::string> jackPorts(jack_client_t* client, unsigned long flags) {
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
    if (!ports) return names;
    for (const char** p = ports; *p; ++p) names.emplace_back(*p);
    jack_free(static_cast<void*>(ports));
    return names;
}

}  // namespace lirno::device
