#include "updater/DeviceNotifier.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include <windows.h>

#include <dbt.h>

// Windows sends WM_DEVICECHANGE for ports to every top-level window without any registration;
// a native event filter picks out the ones sent to this window. The notice is handled from
// the event loop, as a message would be, not inside the filter.
class DeviceNotifier::Source : public QAbstractNativeEventFilter {
public:
    Source(DeviceNotifier* owner, QWidget* window) : owner_(owner), window_(window) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    ~Source() override {
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
        if (msg->wParam != DBT_DEVICEARRIVAL && msg->wParam != DBT_DEVICEREMOVECOMPLETE)
            return false;
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam);
        if (!header || header->dbch_devicetype != DBT_DEVTYP_PORT)
            return false; // volumes and other devices are no port change
        const int code = static_cast<int>(msg->wParam);
        QPointer<DeviceNotifier> owner(owner_);
        QMetaObject::invokeMethod(
            owner_,
            [owner, code] {
                if (owner)
                    emit owner->Notice(code);
            },
            Qt::QueuedConnection);
        return false; // the window's default handling goes on
    }

private:
    DeviceNotifier* owner_;
    QPointer<QWidget> window_;
};

DeviceNotifier::DeviceNotifier(QWidget* window)
    : QObject(window), source_(std::make_unique<Source>(this, window)) {}

DeviceNotifier::~DeviceNotifier() = default;

bool DeviceNotifier::Listening() const {
    return true;
}
