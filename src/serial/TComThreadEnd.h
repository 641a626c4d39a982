#pragma once

#include <functional>

// How Close ends a port's receive thread. Windows lets a thread end only once its pending I/O
// has, so a driver that ignores the cancel of the thread's read would hold Close (and the
// window) for good; every driver completes its requests when the port's handle is closed. The
// thread is therefore given a bound to end by itself; past it the port is released first, and
// only then is the thread joined.
struct TComThreadEnd {
    // True once the thread has ended, waiting at most ms for it.
    std::function<bool(int ms)> endsWithin;
    // Closes the port's handle; may be empty where nobody can (the thread is then joined).
    std::function<void()> releasePort;
    std::function<void()> join;

    // Returns true when the port had to be released for the thread to end.
    bool Run(int boundMs) const;
};
