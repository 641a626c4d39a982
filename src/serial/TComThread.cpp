#include "serial/TComThread.h"

#include "serial/TComArrivalLoop.h"
#include "serial/TComThreadEnd.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <chrono>
#include <exception>

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
    bool ended = false;    // the thread's function has returned

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

    // Window thread, once the port is gone: the notification on its way has nothing to read.
    void DropPending() {
        std::lock_guard guard(lock);
        if (!running)
            pending = false;
    }
};

static_assert(TComThread::EndBoundMs > TComArrivalLoop::CancelBoundMs);

namespace {

const QEvent::Type NotifyEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class TRxNotifyEvent : public QEvent {
public:
    explicit TRxNotifyEvent(std::shared_ptr<TComThread::State> s)
        : QEvent(NotifyEventType), state(std::move(s)) {}
    std::shared_ptr<TComThread::State> state;
};

} // namespace

TComThread::TComThread(TComHandle port, QObject* handOff, TComReadAhead& ahead, Delivery delivery)
    : state_(std::make_shared<State>(std::move(delivery))), handOff_(handOff), ahead_(&ahead) {
    stopSignal_ = CreateStopSignal();
    try {
        waker_ = CreateWaker(state_);
        thread_ = std::thread([this, port] {
            RaisePriority();
            Run(port, stopSignal_);
            MarkDetached();
            {
                std::lock_guard guard(state_->lock);
                state_->ended = true;
            }
            state_->changed.notify_all();
        });
    } catch (...) {
        ReleaseWaker(waker_);
        ReleaseStopSignal(stopSignal_);
        throw;
    }
}

TComThread::~TComThread() {
    Stop();
}

bool TComThread::Stop(const std::function<void()>& releasePort) {
    bool released = false;
    if (thread_.joinable()) {
        {
            std::lock_guard guard(state_->lock);
            state_->stopping = true;
        }
        state_->changed.notify_all();
        RaiseStopSignal(stopSignal_);
        const TComThreadEnd end{[this](int ms) { return EndsWithin(ms); }, releasePort,
                                [this] { thread_.join(); }};
        released = end.Run(EndBoundMs);
        if (released)
            state_->DropPending();
        else
            state_->RunPending();
    }
    if (waker_ != NoComHandle) {
        ReleaseWaker(waker_);
        waker_ = NoComHandle;
    }
    if (stopSignal_ != NoComHandle) {
        ReleaseStopSignal(stopSignal_);
        stopSignal_ = NoComHandle;
    }
    return released;
}

bool TComThread::ReturnedWithin(int ms) {
    std::unique_lock guard(state_->lock);
    return state_->changed.wait_for(guard, std::chrono::milliseconds(ms),
                                    [this] { return state_->ended; });
}

bool TComThread::HandleEvent(QEvent* event) {
    if (event->type() != NotifyEventType)
        return false;
    static_cast<TRxNotifyEvent*>(event)->state->RunPending();
    return true;
}

void TComThread::RunPending(const std::shared_ptr<State>& state) {
    state->RunPending();
}

bool TComThread::Detached() const {
    std::lock_guard guard(state_->lock);
    return state_->detached;
}

void TComThread::MarkDetached() {
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
    if (!Wake(waker_))
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
