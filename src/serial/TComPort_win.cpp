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

QString TCustomComPort::OpenErrorText(uint32_t osError) {
    if (InUseError(osError))
        return QStringLiteral("in use by another program");
    return qt_error_string(int(osError));
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

namespace {

bool SetDeviceTimeouts(HANDLE port, const TComTimeouts& timeouts) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = static_cast<DWORD>(timeouts.ReadInterval);
    t.ReadTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.ReadTotalMultiplier);
    t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts.ReadTotalConstant);
    t.WriteTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.WriteTotalMultiplier);
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts.WriteTotalConstant);
    return SetCommTimeouts(port, &t) != 0;
}

} // namespace

void TCustomComPort::ApplyTimeouts() {
    if (!Connected())
        return;
    // The receive thread sets its own read time-outs for its read; not while it does that.
    auto guard = readAhead_.Lock();
    if (!SetDeviceTimeouts(Native(handle_), timeouts_))
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
    bool ended = true;
    auto turn = readAhead_.Claim(ended);
    if (input)
        readAhead_.Clear();
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
    // The receive thread's read ends first, so that its byte comes before the device's next.
    bool ended = true;
    auto turn = readAhead_.Claim(ended);
    if (!ended)
        Raise(CE_ReadFailed, ERROR_OPERATION_ABORTED);
    str = readAhead_.Take(count);
    if (str.size() == count)
        return count;
    const QByteArray ahead = str;
    auto fail = [&](DWORD error) {
        readAhead_.PutBack(ahead); // nothing was read
        str.clear();
        Raise(CE_ReadFailed, static_cast<int>(error));
    };
    if (thread_) {
        // The receive thread's read had no read time-outs; this read has the port's.
        if (!SetDeviceTimeouts(Native(handle_), timeouts_))
            fail(GetLastError());
    }
    TComAsync async;
    if (!async.Valid())
        fail(GetLastError());
    const int want = count - static_cast<int>(ahead.size());
    str.resize(count);
    DWORD got = 0;
    char* into = str.data() + ahead.size();
    if (!ReadFile(Native(handle_), into, static_cast<DWORD>(want), &got, async.Overlapped()) &&
        GetLastError() != ERROR_IO_PENDING) {
        str.resize(ahead.size()); // a refused request reads nothing more
        return static_cast<int>(str.size());
    }
    if (!async.Finish(Native(handle_), got))
        fail(GetLastError());
    str.resize(ahead.size() + static_cast<qsizetype>(got));
    return static_cast<int>(str.size());
}

int TCustomComPort::WaitingCount() {
    if (!Connected())
        Raise(CE_ClearComFailed, ERROR_INVALID_HANDLE);
    auto guard = readAhead_.Lock();
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(Native(handle_), &errors, &status))
        Raise(CE_ClearComFailed, static_cast<int>(GetLastError()));
    return readAhead_.Size() + static_cast<int>(status.cbInQue);
}
