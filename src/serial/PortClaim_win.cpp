#include "serial/PortClaim.h"

#include "app/WinApi_win.h"

#include <mutex>
#include <set>

#include <windows.h>

namespace {

// The devices some owner in this process holds. A mutex taken again by the thread that holds
// it is simply held twice, so two owners on one thread would not keep each other out
// without this.
class ProcessClaims {
public:
    bool Add(const QString& device) {
        const std::lock_guard<std::mutex> hold(lock_);
        return devices_.insert(device).second;
    }
    void Remove(const QString& device) {
        const std::lock_guard<std::mutex> hold(lock_);
        devices_.erase(device);
    }

private:
    std::mutex lock_;
    std::set<QString> devices_;
};

ProcessClaims& Claims() {
    static ProcessClaims claims;
    return claims;
}

} // namespace

QString PortClaim::DeviceOf(const QString& portName) {
    // COM3, com3 and \\.\COM3 are one port.
    QString name = portName.trimmed().toUpper();
    if (name.startsWith(QLatin1String("\\\\.\\")) || name.startsWith(QLatin1String("\\\\?\\")))
        name.remove(0, 4);
    // A backslash would stand for a namespace in the mutex's name.
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return name;
}

PortClaim::Status PortClaim::Take(const QString& device, Handle& handle, uint32_t& osError) {
    if (!Claims().Add(device)) {
        osError = ERROR_SHARING_VIOLATION;
        return Status::InUse;
    }
    // Global: the programs of every session on this PC share the port.
    const QString name = QStringLiteral("Global\\QuillmoorPort-") + device;
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name));
    if (!mutex) {
        const DWORD error = GetLastError();
        Claims().Remove(device);
        // Another user's program made it, and holds it open while it works with the port.
        if (error == ERROR_ACCESS_DENIED) {
            osError = error;
            return Status::InUse;
        }
        return Status::Unheld;
    }
    // WAIT_ABANDONED: the holder ended without releasing it (it was killed); the port is free.
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        handle = reinterpret_cast<Handle>(mutex);
        return Status::Claimed;
    }
    CloseHandle(mutex);
    Claims().Remove(device);
    if (waited == WAIT_TIMEOUT) {
        osError = ERROR_SHARING_VIOLATION;
        return Status::InUse;
    }
    return Status::Unheld;
}

void PortClaim::Free(const QString& device, Handle handle) {
    const HANDLE mutex = reinterpret_cast<HANDLE>(handle);
    // Fails on another thread than the one that claimed; the mutex then ends with that
    // thread, as abandoned, which frees the port all the same.
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    Claims().Remove(device);
}
