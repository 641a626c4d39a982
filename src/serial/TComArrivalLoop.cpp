#include "serial/TComArrivalLoop.h"

TComArrivalLoop::TComArrivalLoop(Device& device, TComReadAhead& ahead, std::function<bool()> notify,
                                 std::atomic<long long>& wakeups)
    : device_(device), ahead_(ahead), notify_(std::move(notify)), wakeups_(wakeups) {}

TComArrivalLoop::End TComArrivalLoop::Run() {
    int misses = 0;
    Next next = Next::Go;
    while (next == Next::Go) {
        if (misses >= MissesBeforePolling) {
            if (device_.Wait(false, PollMs) == Device::Wake::Stop)
                break;
            ++wakeups_;
        }
        bool unread = false;
        {
            auto guard = ahead_.Lock();
            unread = ahead_.Size() > 0;
        }
        next = unread ? WatchUnread() : ReadOnce(misses);
    }
    {
        auto guard = ahead_.Lock();
        if (ahead_.Pending()) {
            ahead_.SetPending(nullptr);
            char byte = 0;
            if (device_.Cancel(CancelBoundMs))
                device_.Finish(byte); // the port is closing: what it read is dropped
        }
    }
    return next == Next::Gone ? End::Gone : End::Stopped;
}

TComArrivalLoop::Next TComArrivalLoop::ReadOnce(int& misses) {
    bool started = false;
    {
        auto guard = ahead_.Lock();
        started = device_.Start();
        if (started)
            ahead_.SetPending([this] { return EndPending(); });
    }
    Device::Outcome outcome = Device::Outcome::Failed;
    if (started) {
        if (device_.Wait(true, -1) == Device::Wake::Stop)
            return Next::Stop;
        ++wakeups_;
        auto guard = ahead_.Lock();
        if (!ahead_.Pending()) {
            // The window thread ended the read to read itself and kept its byte; bytes it
            // leaves end the next read at once.
            misses = 0;
            return Next::Go;
        }
        ahead_.SetPending(nullptr);
        char byte = 0;
        outcome = device_.Finish(byte);
        if (outcome == Device::Outcome::Byte)
            ahead_.Append(byte);
    }
    if (outcome == Device::Outcome::Byte) {
        misses = 0;
        return notify_() ? Next::Go : Next::Stop;
    }
    // A device that vanished answers no query any more.
    if (device_.Queued() < 0)
        return Next::Gone;
    ++misses;
    return Next::Go;
}

TComArrivalLoop::Next TComArrivalLoop::WatchUnread() {
    long long reported = device_.Queued();
    for (;;) {
        if (device_.Wait(false, PollMs) == Device::Wake::Stop)
            return Next::Stop;
        ++wakeups_;
        {
            auto guard = ahead_.Lock();
            if (ahead_.Size() == 0)
                return Next::Go;
        }
        const long long queued = device_.Queued();
        if (queued < 0)
            return Next::Gone;
        if (queued > 0 && queued != reported) {
            if (!notify_())
                return Next::Stop;
            reported = device_.Queued();
        }
    }
}

bool TComArrivalLoop::EndPending() {
    if (!device_.Cancel(CancelBoundMs))
        return false;
    char byte = 0;
    if (device_.Finish(byte) == Device::Outcome::Byte)
        ahead_.Append(byte);
    return true;
}
