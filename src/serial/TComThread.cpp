#include "serial/TComThread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <cerrno>
#include <exception>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

struct TComThread::State {
    explicit State(Delivery d) : delivery(std::move(d)) {}
    Delivery delivery;
    std::mutex lock;
    std::condition_variable changed;
    bool pending = false;  // a notification waits for the window thread
    bool running = false;  // the window thread is running it
    bool failed = false;   // a delivery raised: the thread ends
    bool stopping = false; // Stop was called
    bool detached = false; // the device is no longer watched

    // Window thread. Runs the pending delivery once; a nested call (Close inside the handler)
    // finds it running and does nothing.
    void RunPending() {
        {
            std::lock_guard guard(lock);
            if (!pending || running)
                return;
            running = true;
        }
        bool ok = true;
        try {
            delivery();
        } catch (const std::exception& error) {
            qWarning("Receive handler failed, delivery ends: %s", error.what());
            ok = false;
        } catch (...) {
            ok = false;
        }
        {
            std::lock_guard guard(lock);
            running = false;
            pending = false;
            if (!ok)
                failed = true;
        }
        changed.notify_all();
    }
};

namespace {

const QEvent::Type NotifyEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class TRxNotifyEvent : public QEvent {
public:
    explicit TRxNotifyEvent(std::shared_ptr<TComThread::State> s)
        : QEvent(NotifyEventType), state(std::move(s)) {}
    std::shared_ptr<TComThread::State> state;
};

} // namespace

TComThread::TComThread(int fd, QObject* handOff, Delivery delivery)
    : state_(std::make_shared<State>(std::move(delivery))), handOff_(handOff) {
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    try {
        thread_ = std::thread([this, fd] { Run(fd, stopFd_); });
    } catch (...) {
        close(stopFd_);
        throw;
    }
}

TComThread::~TComThread() {
    Stop();
}

void TComThread::Stop() {
    if (thread_.joinable()) {
        {
            std::lock_guard guard(state_->lock);
            state_->stopping = true;
        }
        state_->changed.notify_all();
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = write(stopFd_, &one, sizeof one);
        thread_.join();
        state_->RunPending();
    }
    if (stopFd_ >= 0) {
        close(stopFd_);
        stopFd_ = -1;
    }
}

bool TComThread::HandleEvent(QEvent* event) {
    if (event->type() != NotifyEventType)
        return false;
    static_cast<TRxNotifyEvent*>(event)->state->RunPending();
    return true;
}

bool TComThread::Detached() const {
    std::lock_guard guard(state_->lock);
    return state_->detached;
}

void TComThread::Run(int fd, int stopFd) {
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
        bool stop = false;
        bool arrived = false;
        bool gone = false;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == stopFd)
                stop = true;
            else if (events[i].events & (EPOLLHUP | EPOLLERR))
                gone = true;
            else if (events[i].events & EPOLLIN)
                arrived = true;
        }
        if (stop)
            break;
        if (gone) {
            // The device vanished: its bytes are gone with it. Wait for Stop only.
            epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
            std::lock_guard guard(state_->lock);
            state_->detached = true;
            continue;
        }
        if (arrived && !Notify())
            break;
    }
    if (poller >= 0)
        close(poller);
    std::lock_guard guard(state_->lock);
    state_->detached = true;
}

bool TComThread::Notify() {
    {
        std::lock_guard guard(state_->lock);
        if (state_->stopping)
            return false;
        state_->pending = true;
    }
    QCoreApplication::postEvent(handOff_, new TRxNotifyEvent(state_));
    std::unique_lock guard(state_->lock);
    state_->changed.wait(guard, [this] { return !state_->pending || state_->stopping; });
    return !state_->failed && !state_->stopping;
}

bool TComHandOff::event(QEvent* event) {
    if (TComThread::HandleEvent(event))
        return true;
    return QObject::event(event);
}
