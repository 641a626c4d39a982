#pragma once

#include <QString>

#include <memory>

class QWidget;

// Holds off sleep, shutdown and logout while the device is written: a device whose transfer
// is cut off stays in its boot loader. Where the system offers no such lock the program goes
// on without one; an update never fails for want of it.
class SystemInhibitor {
public:
    // window is the one the system names when it tells the user what holds the session up.
    explicit SystemInhibitor(QWidget* window);
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
