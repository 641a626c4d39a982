#include "app/SignalWatcher.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr std::array WatchedSignals{SIGTERM, SIGINT, SIGHUP};

// The self-pipe: the handler only writes one byte, which is safe in a signal handler.
int pipeFds[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

void SetHandlers(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : WatchedSignals)
        ::sigaction(signal, &action, nullptr);
}
} // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    if (pipeFds[0] >= 0 || ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // one watcher per process; without a pipe the default handling stays
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
    SetHandlers(OnSignal);
}

SignalWatcher::~SignalWatcher() {
    if (!notifier_)
        return;
    SetHandlers(SIG_DFL);
    delete notifier_;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void SignalWatcher::Drain() {
    // Everything is read before anyone is told: a handler may process events meanwhile.
    char bytes[16];
    ssize_t got;
    int requests = 0;
    while ((got = ::read(pipeFds[0], bytes, sizeof bytes)) > 0)
        requests += static_cast<int>(got);
    for (int i = 0; i < requests; ++i)
        emit TerminationRequested();
}
