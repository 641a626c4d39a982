#include "serial/TComThread.h"

#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

TComHandle TComThread::CreateStopSignal() {
    const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    return stopFd;
}

void TComThread::RaiseStopSignal(TComHandle stop) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(static_cast<int>(stop), &one, sizeof one);
}

void TComThread::ReleaseStopSignal(TComHandle stop) {
    close(static_cast<int>(stop));
}

// The event loop of the window thread hears of posted events at once.
TComHandle TComThread::CreateWaker(const std::shared_ptr<State>&) {
    return NoComHandle;
}

void TComThread::ReleaseWaker(TComHandle) {}

bool TComThread::Wake(TComHandle) {
    return false;
}

// A thread ends as soon as its function returns.
bool TComThread::EndsWithin(int ms) {
    return ReturnedWithin(ms);
}

// Real-time round-robin at the highest level allowed: any level with the privilege to set it,
// otherwise up to the user's RLIMIT_RTPRIO. Without either the thread keeps its scheduling.
void TComThread::RaisePriority() {
    int level = sched_get_priority_max(SCHED_RR);
    if (level < 0)
        return;
    sched_param param{};
    param.sched_priority = level;
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0)
        return;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) != 0 || limit.rlim_cur == 0)
        return;
    if (limit.rlim_cur != RLIM_INFINITY && static_cast<rlim_t>(level) > limit.rlim_cur)
        param.sched_priority = static_cast<int>(limit.rlim_cur);
    pthread_setschedparam(pthread_self(), SCHED_RR, &param);
}

void TComThread::Run(TComHandle port, TComHandle stop) {
    const int fd = static_cast<int>(port);
    const int stopFd = static_cast<int>(stop);
    const int poller = epoll_create1(EPOLL_CLOEXEC);
    bool watching = poller >= 0;
    if (watching) {
        epoll_event stopEvent{};
        stopEvent.events = EPOLLIN;
        stopEvent.data.fd = stopFd;
        epoll_event portEvent{};
        portEvent.events = EPOLLIN | EPOLLET;
        portEvent.data.fd = fd;
        watching = epoll_ctl(poller, EPOLL_CTL_ADD, stopFd, &stopEvent) == 0 &&
                   epoll_ctl(poller, EPOLL_CTL_ADD, fd, &portEvent) == 0;
    }
    while (watching) {
        epoll_event events[2];
        const int n = epoll_wait(poller, events, 2, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break; // cannot wait any more: end rather than spin
        }
        ++wakeups_;
        bool stopped = false;
        bool arrived = false;
        bool gone = false;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == stopFd)
                stopped = true;
            else if (events[i].events & (EPOLLHUP | EPOLLERR))
                gone = true;
            else if (events[i].events & EPOLLIN)
                arrived = true;
        }
        if (stopped)
            break;
        if (gone) {
            // The device vanished: its bytes are gone with it. Wait for Stop only.
            epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
            MarkDetached();
            continue;
        }
        if (arrived && !Notify())
            break;
    }
    if (poller >= 0)
        close(poller);
}
