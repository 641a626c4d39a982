#include "app/EventPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {
// Upper bound on how long a pass with nothing to do blocks. Events wake a pass at once, so
// this only paces the re-check of time limits; longer keeps a silent wait cheaper.
constexpr int IdleWakeMs = 10;
} // namespace

void ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitPass() {
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) {
        QThread::msleep(IdleWakeMs);
        return;
    }
    if (dispatcher->processEvents(QEventLoop::AllEvents))
        return;
    // Nothing was pending: sleep in the dispatcher so that a new event (a received
    // character, a click) wakes us at once, and the timer bounds the wait. One timer per
    // thread serves every pass, nested waits included; it goes with the thread.
    thread_local const std::unique_ptr<QTimer> wake = [] {
        auto timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        return timer;
    }();
    wake->start(IdleWakeMs);
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    wake->stop();
}

void SleepMs(int milliseconds) {
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}
