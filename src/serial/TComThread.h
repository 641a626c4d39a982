#pragma once

#include "serial/ComTypes.h"
#include "serial/TComReadAhead.h"

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The receive thread of one open port. It sleeps until new bytes arrive or it is told to stop,
// and hands each arrival to the window thread with a synchronous call: it posts an event to
// a hand-off object living there (Windows: a message to a window of its own made on the window
// thread) and blocks until the window thread has run the delivery.
// So at most one notification is outstanding, deliveries never overlap and keep their order,
// and bytes that arrive while the window thread is busy are reported by one delivery.
//
// The thread asks for the highest scheduling priority the system grants it, silently keeping
// its own where none is granted, so the window thread hears of arrivals at once under load.
// A device that vanishes is dropped from the wait: the thread then waits only for its stop
// signal and delivers nothing more.
//
// Unix: arrivals are taken edge-triggered (epoll EPOLLET), so bytes that stay queued because
// nobody read them wake nobody; real-time round-robin scheduling where the user may have it.
// Windows: a pending one-byte read at time-critical priority (TComArrivalLoop); the byte it
// takes waits in the port's read-ahead for the window thread's next read.
class TComThread {
public:
    struct State;
    // Runs on the window thread; an exception ends the receive thread (nothing more arrives).
    using Delivery = std::function<void()>;

    // handOff must live on the window thread, and ahead (the port's read-ahead) wherever, both
    // outliving this object. Raises std::system_error when the thread cannot be set up.
    TComThread(TComHandle port, QObject* handOff, TComReadAhead& ahead, Delivery delivery);
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Longer than the receive loop waits for a cancelled read, so that only a thread held by
    // a read its driver never ends comes to it.
    static constexpr int EndBoundMs = 3000;

    // Window thread: stops and joins the thread, then runs a notification that was on its way
    // (the device is still open then, so its handler can read). Safe from within a handler.
    // A thread that has not ended within EndBoundMs is joined only after releasePort has
    // closed the port (when given); the notification is dropped then, and true returned.
    bool Stop(const std::function<void()>& releasePort = {});

    // The posted event's handler; the hand-off object's event() passes it on.
    static bool HandleEvent(QEvent* event);
    // Window thread: runs the notification waiting in state, if any.
    static void RunPending(const std::shared_ptr<State>& state);

    // True once the thread no longer watches the device (hang-up or a failed delivery).
    bool Detached() const;

    // How often the thread has woken from its wait for arrivals: what it costs while idle.
    long long Wakeups() const { return wakeups_; }

private:
    // The platform's part: the stop signal, the priority and the wait for arrivals.
    static TComHandle CreateStopSignal();
    static void RaiseStopSignal(TComHandle stop);
    static void ReleaseStopSignal(TComHandle stop);
    static void RaisePriority();
    void Run(TComHandle port, TComHandle stop);
    // The platform's own way to wake the window thread for a notification, if it has one
    // better than a posted event (NoComHandle: none). Made and released on the window thread.
    static TComHandle CreateWaker(const std::shared_ptr<State>& state);
    static void ReleaseWaker(TComHandle waker);
    // False when the waker could not be used.
    static bool Wake(TComHandle waker);
    // Window thread: true once the thread has ended, waiting at most ms. Windows counts a
    // thread as ended only when its pending I/O has ended too.
    bool EndsWithin(int ms);
    // Window thread: true once the thread's function has returned, waiting at most ms.
    bool ReturnedWithin(int ms);

    // Hands one arrival to the window thread and waits until it has run; false when the
    // thread must end (stopping, or the delivery raised).
    bool Notify();
    void MarkDetached();

    std::shared_ptr<State> state_;
    QObject* handOff_;
    TComReadAhead* ahead_;
    std::atomic<long long> wakeups_{0};
    TComHandle stopSignal_ = NoComHandle;
    TComHandle waker_ = NoComHandle;
    std::thread thread_;
};

// The object on the window thread that receives the receive threads' notifications.
class TComHandOff : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool event(QEvent* event) override;
};
