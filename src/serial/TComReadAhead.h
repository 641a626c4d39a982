#pragma once

#include <QByteArray>
#include <functional>
#include <mutex>

// The receive queue of one open port as the receive thread and the window thread share it where
// the receive thread learns of an arrival by reading the first byte itself (Windows). That byte
// waits here and comes first in the window thread's next read; the two threads never read the
// device at the same time, so nothing is taken out of order.
class TComReadAhead {
public:
    // Ends the receive thread's pending read, keeping its byte here; false when the read did
    // not end in time (it may still take a byte, so the device is not read past it).
    using EndPending = std::function<bool()>;

    // Window thread: the device to itself for as long as the lock is held. ended is false when
    // the receive thread's pending read could not be ended.
    std::unique_lock<std::mutex> Claim(bool& ended);
    // Receive thread: the lock alone.
    std::unique_lock<std::mutex> Lock() { return std::unique_lock(lock_); }

    // With the lock held:
    // Up to count bytes read ahead, taken out.
    QByteArray Take(int count);
    // Puts bytes back in front, as they were never taken.
    void PutBack(const QByteArray& bytes) { bytes_.prepend(bytes); }
    void Append(char byte) { bytes_.append(byte); }
    int Size() const { return static_cast<int>(bytes_.size()); }
    void Clear() { bytes_.clear(); }
    // The receive thread's read is pending (end set) or not (null).
    void SetPending(EndPending end) { pending_ = std::move(end); }
    bool Pending() const { return static_cast<bool>(pending_); }

private:
    std::mutex lock_;
    QByteArray bytes_;
    EndPending pending_;
};
