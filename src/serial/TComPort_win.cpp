#include "serial/TComPort.h"

#include "app/WinApi_win.h"

#include <QByteArray>

#include <windows.h>

namespace {

HANDLE Native(TComHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// One overlapped request on the port, waited for to its end: the calls of this component
// return only when the operating system has finished them.
class TComAsync {
public:
    TComAsync() { overlapped_.hEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr); }
    ~TComAsync() {
        if (overlapped_.hEvent)
            CloseHandle(overlapped_.hEvent);
    }
    TComAsync(const TComAsync&) = delete;
    TComAsync& operator=(const TComAsync&) = delete;

    bool Valid() const { return overlapped_.hEvent != nullptr; }
    OVERLAPPED* Overlapped() { return &overlapped_; }

    // Waits for the request's end; false (with the error in GetLastError) when it failed.
    bool Finish(HANDLE port, DWORD& transferred) {
        if (WaitForSingleObject(overlapped_.hEvent, INFINITE) != WAIT_OBJECT_0)
            return false;
        return GetOverlappedResult(port, &overlapped_, &transferred, FALSE) != 0;
    }

private:
    OVERLAPPED overlapped_{};
};

} // namespace

QString TCustomComPort::DevicePath(const QString& portName) {
    if (portName.startsWith(QLatin1String("\\\\")))
        return portName;
    return QStringLiteral("\\\\.\\") + portName;
}

bool TCustomComPort::InUseError(uint32_t osError) {
    // A port opened by another program without sharing refuses every other open.
    return osError == ERROR_ACCESS_DENIED || osError == ERROR_SHARING_VIOLATION;
}

void TCustomComPort::OpenHandle() {
    const QString path = DevicePath(port_);
    HANDLE handle = CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        OutputDebugStringW(Wide(QStringLiteral("CreateFile ") + path));
        Raise(CE_OpenFailed, static_cast<int>(error));
    }
    handle_ = reinterpret_cast<TComHandle>(handle);
}

void TCustomComPort::ReleaseHandle() {
    if (!Connected())
        return;
    CloseHandle(Native(handle_));
    handle_ = NoComHandle;
}

void TCustomComPort::ApplyTimeouts() {
    if (!Connected())
        return;
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = static_cast<DWORD>(timeouts_.ReadInterval);
    t.ReadTotalTimeoutMultiplier = static_cast<DWORD>(timeouts_.ReadTotalMultiplier);
    t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts_.ReadTotalConstant);
    t.WriteTotalTimeoutMultiplier = static_cast<DWORD>(timeouts_.WriteTotalMultiplier);
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts_.WriteTotalConstant);
    if (!SetCommTimeouts(Native(handle_), &t))
        Raise(CE_TimeoutsFailed, static_cast<int>(GetLastError()));
}

void TCustomComPort::ApplyBufferSizes() {
    if (!Connected())
        return;
    if (!SetupComm(Native(handle_), static_cast<DWORD>(buffer_.InputSize),
                   static_cast<DWORD>(buffer_.OutputSize)))
        Raise(CE_SetupComFailed, static_cast<int>(GetLastError()));
}

void TCustomComPort::PurgeBuffers(bool input, bool output) {
    if (!Connected() || (!input && !output))
        return;
    DWORD flags = 0;
    if (input)
        flags |= PURGE_RXCLEAR;
    if (output)
        flags |= PURGE_TXCLEAR;
    PurgeComm(Native(handle_), flags);
}

int TCustomComPort::WriteBytes(const void* buffer, int count) {
    if (count <= 0)
        return 0;
    if (!Connected())
        Raise(CE_WriteFailed, ERROR_INVALID_HANDLE);
    TComAsync async;
    if (!async.Valid())
        Raise(CE_WriteFailed, static_cast<int>(GetLastError()));
    DWORD written = 0;
    if (!WriteFile(Native(handle_), buffer, static_cast<DWORD>(count), &written,
                   async.Overlapped()) &&
        GetLastError() != ERROR_IO_PENDING)
        Raise(CE_WriteFailed, static_cast<int>(GetLastError()));
    // The write time-out ends the request with what went out, which is no failure.
    if (!async.Finish(Native(handle_), written))
        Raise(CE_WriteFailed, static_cast<int>(GetLastError()));
    return static_cast<int>(written);
}

int TCustomComPort::ReadText(QByteArray& str, int count) {
    str.clear();
    if (count <= 0)
        return 0;
    if (!Connected())
        Raise(CE_ReadFailed, ERROR_INVALID_HANDLE);
    TComAsync async;
    if (!async.Valid())
        Raise(CE_ReadFailed, static_cast<int>(GetLastError()));
    str.resize(count);
    DWORD got = 0;
    if (!ReadFile(Native(handle_), str.data(), static_cast<DWORD>(count), &got,
                  async.Overlapped()) &&
        GetLastError() != ERROR_IO_PENDING) {
        str.clear(); // a refused request reads nothing
        return 0;
    }
    if (!async.Finish(Native(handle_), got)) {
        const DWORD error = GetLastError();
        str.clear();
        Raise(CE_ReadFailed, static_cast<int>(error));
    }
    str.resize(static_cast<qsizetype>(got));
    return static_cast<int>(got);
}

int TCustomComPort::WaitingCount() {
    if (!Connected())
        Raise(CE_ClearComFailed, ERROR_INVALID_HANDLE);
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(Native(handle_), &errors, &status))
        Raise(CE_ClearComFailed, static_cast<int>(GetLastError()));
    return static_cast<int>(status.cbInQue);
}
