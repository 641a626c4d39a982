#pragma once

#include "app/EventPump.h"

#include <QElapsedTimer>

// Pumps the window thread's events until pred holds or timeoutMs has passed.
template <typename P> bool PumpUntil(P pred, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() >= timeoutMs)
            return false;
        WaitPass();
    }
    return true;
}

// Pumps the window thread's events for ms milliseconds.
inline void PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
}
