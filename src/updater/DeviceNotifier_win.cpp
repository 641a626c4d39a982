#include "updater/DeviceNotifier.h"
#include "updater/PortChangeFilter.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QWidget>

#include <windows.h>

#include <dbt.h>

namespace {

// GUID_DEVINTERFACE_COMPORT: every device that offers a serial port.
constexpr GUID ComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

const wchar_t* const NoticeWindowClass = L"QuillmoorPortNotices";

// The notice code of one WM_DEVICECHANGE, or 0 when it is no port's arrival or removal.
int PortNotice(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)
        return 0;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (!header)
        return 0;
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(data);
        if (device->dbcc_classguid != ComPortInterface)
            return 0;
    } else if (header->dbch_devicetype != DBT_DEVTYP_PORT) {
        return 0; // volumes and other devices are no port change
    }
    return static_cast<int>(event);
}

} // namespace

// Windows sends WM_DEVICECHANGE for ports to every top-level window without any registration;
// a native event filter picks out the ones sent to this window. Some drivers (Bluetooth serial
// ports, some vendors') send no such broadcast, only the arrival or removal of a device with
// the serial-port interface, which comes to a message-only window of the notifier's own that
// asked for it (the main window's handle may be made anew by Qt). Either is handled from the
// event loop, as a message would be; one change told both ways gives one notice.
class DeviceNotifier::Source : public QAbstractNativeEventFilter {
public:
    Source(DeviceNotifier* owner, QWidget* window) : owner_(owner), window_(window) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        CreateNoticeWindow();
    }

    ~Source() override {
        if (notification_)
            UnregisterDeviceNotification(notification_);
        if (noticeWindow_)
            DestroyWindow(noticeWindow_);
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message != WM_DEVICECHANGE || !window_ ||
            msg->hwnd != reinterpret_cast<HWND>(window_->internalWinId()))
            return false;
        Forward(PortNotice(msg->wParam, msg->lParam));
        return false; // the window's default handling goes on
    }

private:
    void CreateNoticeWindow() {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = NoticeWindowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = NoticeWindowClass;
        RegisterClassExW(&windowClass); // fails harmlessly once registered
        noticeWindow_ = CreateWindowExW(0, NoticeWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                        nullptr, instance, nullptr);
        if (!noticeWindow_)
            return; // port broadcasts still come
        SetWindowLongPtrW(noticeWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = ComPortInterface;
        notification_ =
            RegisterDeviceNotificationW(noticeWindow_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }

    static LRESULT CALLBACK NoticeWindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
        if (message == WM_DEVICECHANGE) {
            if (auto* source = reinterpret_cast<Source*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)))
                source->Forward(PortNotice(wParam, lParam));
            return TRUE;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    void Forward(int code) {
        if (code == 0 || !changes_.Accept(code, QDeadlineTimer::current().deadline()))
            return;
        QPointer<DeviceNotifier> owner(owner_);
        QMetaObject::invokeMethod(
            owner_,
            [owner, code] {
                if (owner)
                    emit owner->Notice(code);
            },
            Qt::QueuedConnection);
    }

    DeviceNotifier* owner_;
    QPointer<QWidget> window_;
    HWND noticeWindow_ = nullptr;
    HDEVNOTIFY notification_ = nullptr;
    PortChangeFilter changes_;
};

DeviceNotifier::DeviceNotifier(QWidget* window)
    : QObject(window), source_(std::make_unique<Source>(this, window)) {}

DeviceNotifier::~DeviceNotifier() = default;

bool DeviceNotifier::Listening() const {
    return true;
}
