#pragma once

#include "serial/TComReadAhead.h"

#include <atomic>
#include <functional>

// The receive thread's loop where an arrival is learnt by a pending one-byte read (Windows):
// the byte that ends the read is kept in the read-ahead for the window thread, the arrival is
// reported, and the read starts again. A read that ends without a byte starts again at once, so
// a byte that comes right after it ends the new read; only after MissesBeforePolling such reads
// in a row does the loop wait PollMs before each new one, so that a device that fails every read
// costs a wake-up per PollMs instead of a busy processor. While bytes wait unread in the
// read-ahead (the handler left them), no read runs past them: the queue is watched every PollMs
// and growth in it is reported.
class TComArrivalLoop {
public:
    // The device as the loop sees it; the platform makes the requests and the waits.
    class Device {
    public:
        enum class Wake { Stop, Ended, Timeout };
        enum class Outcome { Byte, Nothing, Failed };
        virtual ~Device() = default;
        // Starts the one-byte read; false when the device refused it.
        virtual bool Start() = 0;
        // Waits up to timeoutMs (-1: no limit) for the stop signal and, with request, for the
        // read's end.
        virtual Wake Wait(bool request, int timeoutMs) = 0;
        // The ended read's result; byte holds what it read.
        virtual Outcome Finish(char& byte) = 0;
        // Asks the pending read to end and waits for that; false when it did not end within
        // boundMs (the device may still write into it).
        virtual bool Cancel(int boundMs) = 0;
        // Bytes in the device's receive queue, -1 when the device no longer answers.
        virtual long long Queued() = 0;
    };

    enum class End { Stopped, Gone };

    static constexpr int MissesBeforePolling = 8;
    static constexpr int PollMs = 10;
    // How long a read may take to end once cancelled; a driver that never ends it must not
    // hold the port's Close.
    static constexpr int CancelBoundMs = 2000;

    // notify reports an arrival and returns false when the loop must end. wakeups counts the
    // waits that ended other than by the stop signal.
    TComArrivalLoop(Device& device, TComReadAhead& ahead, std::function<bool()> notify,
                    std::atomic<long long>& wakeups);

    // Until stopped, told to end by notify, or the device is gone. A read still pending then is
    // cancelled (within CancelBoundMs).
    End Run();

private:
    enum class Next { Go, Stop, Gone };
    // One read from its start to its end.
    Next ReadOnce(int& misses);
    // While bytes wait unread in the read-ahead.
    Next WatchUnread();
    // Window thread, with the read-ahead's lock: ends the pending read, keeping its byte.
    bool EndPending();

    Device& device_;
    TComReadAhead& ahead_;
    std::function<bool()> notify_;
    std::atomic<long long>& wakeups_;
};
