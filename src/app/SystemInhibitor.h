#pragma once

#include <QString>

#include <functional>
#include <memory>

// Holds off sleep, shutdown and logout while the device is written: a device whose transfer
// is cut off stays in its boot loader. Where the system offers no such lock the program goes
// on without one; an update never fails for want of it.
class SystemInhibitor {
public:
    // window gives the native handle of the window the system names when it tells the user
    // what holds the session up (0 while it has none); none for a program without a window.
    explicit SystemInhibitor(std::function<quintptr()> window = {});
    ~SystemInhibitor();
    SystemInhibitor(const SystemInhibitor&) = delete;
    SystemInhibitor& operator=(const SystemInhibitor&) = delete;

    // Takes the lock, giving reason as the why the system shows; a lock already held stays.
    void Hold(const QString& reason);
    // Gives the lock back; nothing when none is held.
    void Release();
    bool Holding() const { return holding_; }

private:
    struct Backend;
    std::unique_ptr<Backend> backend_;
    bool holding_ = false;
};
