#include "app/SystemInhibitor.h"

#include "app/WinApi_win.h"

// Sleep is held off for the thread's requirement, shutdown and logout by a reason on the
// window (the system shows it and asks the user); the session end itself is refused by the
// window's session handler.
struct SystemInhibitor::Backend {
    std::function<quintptr()> window;
    HWND blocked = nullptr;
};

SystemInhibitor::SystemInhibitor(std::function<quintptr()> window)
    : backend_(std::make_unique<Backend>()) {
    backend_->window = std::move(window);
}

SystemInhibitor::~SystemInhibitor() {
    Release();
}

void SystemInhibitor::Hold(const QString& reason) {
    if (holding_)
        return;
    holding_ = true;
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    const auto handle = backend_->window ? reinterpret_cast<HWND>(backend_->window()) : nullptr;
    if (handle && ShutdownBlockReasonCreate(handle, Wide(reason)))
        backend_->blocked = handle;
}

void SystemInhibitor::Release() {
    if (!holding_)
        return;
    holding_ = false;
    if (backend_->blocked)
        ShutdownBlockReasonDestroy(backend_->blocked);
    backend_->blocked = nullptr;
    SetThreadExecutionState(ES_CONTINUOUS);
}
