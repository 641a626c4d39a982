#include "serial/TComArrivalLoop.h"
#include "serial/TComThread.h"

#include <memory>
#include <system_error>

#include <pthread.h>
#include <windows.h>

namespace {

HANDLE Native(TComHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// What the device writes into until the one-byte read has ended.
struct TArrivalBlock {
    OVERLAPPED overlapped{};
    char byte = 0;
};

// The port's side of the arrival loop: an overlapped one-byte read with no read time-outs,
// which ends when a byte arrives. (Waiting for the character event instead costs more: Wine
// ends each such wait after a millisecond without the event on a pseudo-terminal, so it turns
// into polling.) The block of a read that does not end once cancelled is left to the device,
// with its event, rather than freed under it.
class TWinArrivalDevice : public TComArrivalLoop::Device {
public:
    TWinArrivalDevice(HANDLE port, HANDLE stop)
        : port_(port), stop_(stop), block_(std::make_unique<TArrivalBlock>()) {
        block_->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~TWinArrivalDevice() override {
        if (pending_ && WaitForSingleObject(block_->overlapped.hEvent, 0) != WAIT_OBJECT_0) {
            [[maybe_unused]] TArrivalBlock* leftToDevice = block_.release();
            return;
        }
        if (block_->overlapped.hEvent)
            CloseHandle(block_->overlapped.hEvent);
    }
    TWinArrivalDevice(const TWinArrivalDevice&) = delete;
    TWinArrivalDevice& operator=(const TWinArrivalDevice&) = delete;

    bool Valid() const { return block_->overlapped.hEvent != nullptr; }

    bool Start() override {
        const HANDLE event = block_->overlapped.hEvent;
        block_->overlapped = OVERLAPPED{};
        block_->overlapped.hEvent = event;
        ResetEvent(event);
        UseArrivalTimeouts();
        if (ReadFile(port_, &block_->byte, 1, nullptr, &block_->overlapped) ||
            GetLastError() == ERROR_IO_PENDING) {
            pending_ = true;
            return true;
        }
        return false;
    }

    Wake Wait(bool request, int timeoutMs) override {
        const HANDLE waits[2] = {stop_, block_->overlapped.hEvent};
        const DWORD woke = WaitForMultipleObjects(request ? 2 : 1, waits, FALSE,
                                                  timeoutMs < 0 ? INFINITE : DWORD(timeoutMs));
        if (woke == WAIT_OBJECT_0 + 1)
            return Wake::Ended;
        if (woke == WAIT_TIMEOUT)
            return Wake::Timeout;
        return Wake::Stop; // the stop signal, or a wait that failed: end rather than spin
    }

    Outcome Finish(char& byte) override {
        DWORD got = 0;
        const bool ok = GetOverlappedResult(port_, &block_->overlapped, &got, FALSE) != 0;
        pending_ = false;
        // A read cancelled (or failing) just as its byte came in has still taken it from the
        // device; dropping it would lose a reply. A real failure shows again at the next read.
        if (got == 1) {
            byte = block_->byte;
            return Outcome::Byte;
        }
        return ok ? Outcome::Nothing : Outcome::Failed;
    }

    bool Cancel(int boundMs) override {
        CancelIoEx(port_, &block_->overlapped);
        return WaitForSingleObject(block_->overlapped.hEvent, DWORD(boundMs)) == WAIT_OBJECT_0;
    }

    long long Queued() override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(port_, &errors, &status))
            return -1;
        return status.cbInQue;
    }

private:
    // No read time-outs, so that the read waits for its byte; the window thread's reads put
    // the port's own back. The write time-outs stay.
    void UseArrivalTimeouts() {
        COMMTIMEOUTS t{};
        if (!GetCommTimeouts(port_, &t) ||
            (t.ReadIntervalTimeout == 0 && t.ReadTotalTimeoutMultiplier == 0 &&
             t.ReadTotalTimeoutConstant == 0))
            return;
        t.ReadIntervalTimeout = 0;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = 0;
        SetCommTimeouts(port_, &t);
    }

    HANDLE port_;
    HANDLE stop_;
    std::unique_ptr<TArrivalBlock> block_;
    bool pending_ = false;
};

// Qt's event loop on Windows hands posted events over through a timer of at least 10 ms
// whenever other messages wait in the queue, which under Wine they mostly do: every reply would
// wait for that tick. A message to a window of our own is dispatched as soon as the loop looks.
constexpr UINT WakeMessage = WM_APP + 0x51;
constexpr const wchar_t* WakerClassName = L"QuillmoorComWaker";

using StateRef = std::shared_ptr<TComThread::State>;

LRESULT CALLBACK WakerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WakeMessage)
        return DefWindowProcW(window, message, wParam, lParam);
    if (auto* held = reinterpret_cast<StateRef*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
        const StateRef state = *held; // the delivery may close the port and release the window
        TComThread::RunPending(state);
    }
    return 0;
}

bool WakerClassRegistered() {
    static const bool registered = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = WakerProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = WakerClassName;
        return RegisterClassW(&windowClass) != 0;
    }();
    return registered;
}

} // namespace

TComHandle TComThread::CreateWaker(const std::shared_ptr<State>& state) {
    if (!WakerClassRegistered())
        return NoComHandle; // posted events serve, only later
    HWND window = CreateWindowExW(0, WakerClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!window)
        return NoComHandle;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new StateRef(state)));
    return reinterpret_cast<TComHandle>(window);
}

void TComThread::ReleaseWaker(TComHandle waker) {
    if (waker == NoComHandle)
        return;
    const HWND window = reinterpret_cast<HWND>(waker);
    delete reinterpret_cast<StateRef*>(SetWindowLongPtrW(window, GWLP_USERDATA, 0));
    DestroyWindow(window); // a message still queued for it is dropped
}

bool TComThread::Wake(TComHandle waker) {
    return waker != NoComHandle &&
           PostMessageW(reinterpret_cast<HWND>(waker), WakeMessage, 0, 0) != 0;
}

// The thread's own handle is signalled only once the system has ended the thread, which waits
// for every request the thread issued: a read its driver never ends keeps it from signalling.
bool TComThread::EndsWithin(int ms) {
    const HANDLE thread = static_cast<HANDLE>(pthread_gethandle(thread_.native_handle()));
    if (!thread)
        return true; // nothing to wait on: the join waits as long as it must
    return WaitForSingleObject(thread, DWORD(ms)) == WAIT_OBJECT_0;
}

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
    TWinArrivalDevice device(Native(port), Native(stop));
    if (!device.Valid())
        return; // nothing to wait with: no arrivals are reported
    TComArrivalLoop loop(
        device, *ahead_, [this] { return Notify(); }, wakeups_);
    if (loop.Run() == TComArrivalLoop::End::Gone) {
        // Nothing more arrives from a vanished device; wait for Stop only.
        MarkDetached();
        device.Wait(false, -1);
    }
}
