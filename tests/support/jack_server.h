// A JACK server of the test's own on the dummy driver (no sound hardware),
// for as long as the object lives. It sets JACK_DEFAULT_SERVER for this
// process and its children; when jackd cannot run, skipReason() says why and
// the test skips:
//     lirno::test::JackServer server;
//     if (!server.skipReason().empty()) GTEST_SKIP() << server.skipReason();
#pragma once

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "env_guard.h"

extern char** environ;

namespace lirno::test {

class JackServer {
  public:
    explicit JackServer(unsigned rate = 44100, unsigned period = 256)
        : name_("lirno-test-" + std::to_string(::getpid()) + "-" + std::to_string(next()++)),
          env_("JACK_DEFAULT_SERVER", name_) {
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

  private:
    static std::atomic<int>& next() {
        static std::atomic<int> n{0};
        return n;
    }
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

}  // namespace lirno::test
