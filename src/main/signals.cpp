#include "main/signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

namespace lirno {

namespace {

constexpr std::array kSignals{SIGINT, SIGTERM, SIGHUP};
int pipeFds[2] = {-1, -1};

extern "C" void onQuitSignal(int sig) {
    const int saved = errno;
    const char byte = static_cast<char>(sig);
    [[maybe_unused]] const auto n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

void setHandler(int sig, void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(sig, &sa, nullptr);
}

}  // namespace

QuitOnSignals::QuitOnSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeFds) != 0) return;
    ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &QuitOnSignals::readSignal);
    for (const int sig : kSignals) setHandler(sig, onQuitSignal);
}

QuitOnSignals::~QuitOnSignals() {
    for (const int sig : kSignals) setHandler(sig, SIG_DFL);
    notifier_.reset();
    for (int& fd : pipeFds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void QuitOnSignals::readSignal() {
    char byte = 0;
    if (::read(pipeFds[0], &byte, 1) == 1 && onSignal_) onSignal_();
}

}  // namespace lirno
