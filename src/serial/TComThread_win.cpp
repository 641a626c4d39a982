#include "serial/TComThread.h"

#include <system_error>

#include <windows.h>

namespace {

HANDLE Native(TComHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// After a wake-up that brings no event (an empty mask, or a request that ended without one)
// the thread looks at the receive queue every PollMs for up to PollRounds times before it asks
// for the event again. Windows rarely does that; Wine ends every pending request within about
// 10 ms without an event and keeps the processor busy while one is pending, so there the
// queue is watched at this pace instead of a request spinning at time-critical priority.
constexpr DWORD PollMs = 10;
constexpr int PollRounds = 20;

// The bytes waiting in the receive queue, or -1 when the port no longer answers.
long long Queued(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port, &errors, &status))
        return -1;
    return status.cbInQue;
}

} // namespace

TComHandle TComThread::CreateStopSignal() {
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stop)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "CreateEvent");
    return reinterpret_cast<TComHandle>(stop);
}

void TComThread::RaiseStopSignal(TComHandle stop) {
    SetEvent(Native(stop));
}

void TComThread::ReleaseStopSignal(TComHandle stop) {
    CloseHandle(Native(stop));
}

void TComThread::RaisePriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

void TComThread::Run(TComHandle port, TComHandle stop) {
    const HANDLE handle = Native(port);
    const HANDLE stopEvent = Native(stop);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (!overlapped.hEvent || !SetCommMask(handle, EV_RXCHAR)) {
        if (overlapped.hEvent)
            CloseHandle(overlapped.hEvent);
        return; // nothing to wait with: no arrivals are reported
    }
    const HANDLE waits[2] = {stopEvent, overlapped.hEvent};
    bool pending = false;
    bool gone = false;
    bool stopped = false;
    bool repeatedBefore = false;
    long long queuedAfterDelivery = 0;
    // Waits for bytes beyond those already reported; false when stopped or gone.
    const auto pollForArrival = [&](bool& arrived) {
        arrived = false;
        for (int round = 0; round < PollRounds; ++round) {
            const long long queued = Queued(handle);
            if (queued < 0) {
                gone = true;
                return false;
            }
            arrived = queued > 0 && queued != queuedAfterDelivery;
            if (arrived)
                return true;
            if (WaitForSingleObject(stopEvent, PollMs) != WAIT_TIMEOUT) {
                stopped = true;
                return false;
            }
        }
        return true;
    };
    while (!stopped && !gone) {
        DWORD mask = 0;
        bool completed = WaitCommEvent(handle, &mask, &overlapped) != 0;
        if (!completed && GetLastError() == ERROR_IO_PENDING) {
            pending = true;
            const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (woke != WAIT_OBJECT_0 + 1)
                break; // stopped, or the wait itself failed: end rather than spin
            pending = false;
            DWORD unused = 0;
            completed = GetOverlappedResult(handle, &overlapped, &unused, FALSE) != 0;
        }
        if (!completed)
            mask = 0; // a request that failed or was cancelled reports nothing
        // A device that vanished answers no query any more.
        const long long queued = Queued(handle);
        if (queued < 0) {
            gone = true;
            break;
        }
        if (!(mask & EV_RXCHAR)) {
            bool arrived = false;
            if (!pollForArrival(arrived))
                break;
            if (!arrived)
                continue;
        } else {
            // Unread bytes may be reported again (Wine reports a non-empty queue, not an
            // arrival). The first repeat is delivered at once: it may be bytes that came just
            // after the last read; later ones wait for news in the queue.
            const bool repeat = queued != 0 && queued == queuedAfterDelivery;
            if (repeat && repeatedBefore) {
                bool arrived = false;
                if (!pollForArrival(arrived))
                    break;
            }
            repeatedBefore = repeat;
        }
        if (!Notify())
            break;
        queuedAfterDelivery = Queued(handle);
    }
    // Ends a request still pending while its overlapped block exists.
    SetCommMask(handle, 0);
    if (pending) {
        DWORD unused = 0;
        CancelIoEx(handle, &overlapped);
        GetOverlappedResult(handle, &overlapped, &unused, TRUE);
    }
    CloseHandle(overlapped.hEvent);
    if (gone) {
        // Nothing more arrives from a vanished device; wait for Stop only.
        MarkDetached();
        WaitForSingleObject(stopEvent, INFINITE);
    }
}
