#pragma once

#include <QObject>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The receive thread of one open port. It sleeps until new bytes arrive or it is told to stop,
// and hands each arrival to the window thread with a synchronous call: it posts an event to
// a hand-off object living there and blocks until the window thread has run the delivery.
// So at most one notification is outstanding, deliveries never overlap and keep their order,
// and bytes that arrive while the window thread is busy are reported by one delivery.
//
// Arrivals are taken edge-triggered (epoll EPOLLET): bytes that stay queued because nobody
// read them wake nobody. A device that hangs up (POLLHUP/POLLERR) is dropped from the wait;
// the thread then waits only for its stop signal and delivers nothing more.
class TComThread {
public:
    // Runs on the window thread; an exception ends the receive thread (nothing more arrives).
    using Delivery = std::function<void()>;

    // handOff must live on the window thread and outlive this object.
    TComThread(int fd, QObject* handOff, Delivery delivery);
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Window thread: stops and joins the thread, then runs a notification that was on its way
    // (the device is still open then, so its handler can read). Safe from within a handler.
    void Stop();

    // The posted event's handler; the hand-off object's event() passes it on.
    static bool HandleEvent(QEvent* event);

    // True once the thread no longer watches the device (hang-up or a failed delivery).
    bool Detached() const;

    struct State;

private:
    void Run(int fd, int stopFd);
    bool Notify();

    std::shared_ptr<State> state_;
    QObject* handOff_;
    int stopFd_ = -1;
    std::thread thread_;
};

// The object on the window thread that receives the receive threads' notifications.
class TComHandOff : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool event(QEvent* event) override;
};
