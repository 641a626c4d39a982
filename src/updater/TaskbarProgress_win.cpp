#include "updater/TaskbarProgress.h"

#include <QPointer>
#include <QWidget>

#include <objbase.h>
#include <shobjidl.h>
#include <windows.h>

// The window's taskbar button, through the shell's taskbar list. Asked for at the first use,
// when the window is on the screen; a shell without one (or a window without a handle yet)
// shows nothing.
namespace {
class TaskbarButtonProgress : public TaskbarProgress {
public:
    explicit TaskbarButtonProgress(QWidget* window) : window_(window) {}
    ~TaskbarButtonProgress() override {
        if (list_)
            list_->Release();
        if (comStarted_)
            CoUninitialize();
    }
    TaskbarButtonProgress(const TaskbarButtonProgress&) = delete;
    TaskbarButtonProgress& operator=(const TaskbarButtonProgress&) = delete;

    void ShowProgress(int percent) override {
        if (const HWND button = Button()) {
            list_->SetProgressState(button, TBPF_NORMAL);
            list_->SetProgressValue(button, ULONGLONG(percent), 100);
        }
    }
    void ShowFailure() override {
        if (const HWND button = Button())
            list_->SetProgressState(button, TBPF_ERROR); // red, at the value it had reached
    }
    void Clear() override {
        if (const HWND button = Button())
            list_->SetProgressState(button, TBPF_NOPROGRESS);
    }

private:
    HWND Button() {
        if (!window_)
            return nullptr;
        // Only a window on the screen has a handle; asking for one would make it.
        const auto handle = reinterpret_cast<HWND>(window_->window()->internalWinId());
        if (!handle || !List())
            return nullptr;
        return handle;
    }
    ITaskbarList3* List() {
        if (list_ || tried_)
            return list_;
        tried_ = true;
        // The window thread has its apartment already; this only adds a reference to it.
        const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        comStarted_ = SUCCEEDED(started);
        ITaskbarList3* list = nullptr;
        if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ITaskbarList3, reinterpret_cast<void**>(&list))))
            return nullptr;
        if (FAILED(list->HrInit())) {
            list->Release();
            return nullptr;
        }
        list_ = list;
        return list_;
    }

    QPointer<QWidget> window_;
    ITaskbarList3* list_ = nullptr;
    bool tried_ = false;
    bool comStarted_ = false;
};
} // namespace

std::unique_ptr<TaskbarProgress> SystemTaskbarProgress(QWidget* window) {
    return std::make_unique<TaskbarButtonProgress>(window);
}
