// WM_DEVICECHANGE as Windows sends it to the window, through the application's native filter.
#include "updater/DeviceNotifier.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QWidget>
#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>

namespace {

class DeviceNotifierWinTest : public ::testing::Test {
protected:
    // Sends one message through the filters as the platform does; true when it was consumed.
    bool Send(HWND hwnd, WPARAM code, DWORD deviceType) {
        DEV_BROADCAST_HDR header{};
        header.dbch_size = sizeof header;
        header.dbch_devicetype = deviceType;
        MSG msg{};
        msg.hwnd = hwnd;
        msg.message = WM_DEVICECHANGE;
        msg.wParam = code;
        msg.lParam = reinterpret_cast<LPARAM>(&header);
        qintptr result = 0;
        return QAbstractEventDispatcher::instance()->filterNativeEvent("windows_generic_MSG", &msg,
                                                                       &result);
    }
    HWND WindowHandle() { return reinterpret_cast<HWND>(window.winId()); }

    QWidget window;
    DeviceNotifier* notifier = new DeviceNotifier(&window);
    QSignalSpy notices{notifier, &DeviceNotifier::Notice};
};

TEST_F(DeviceNotifierWinTest, PortArrivalAndRemovalBecomeNoticesFromTheEventLoop) {
    EXPECT_TRUE(notifier->Listening());
    EXPECT_FALSE(Send(WindowHandle(), DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT));
    EXPECT_EQ(notices.count(), 0); // handled as a message would be, not inside the filter
    EXPECT_FALSE(Send(WindowHandle(), DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT));
    QCoreApplication::processEvents();
    ASSERT_EQ(notices.count(), 2);
    EXPECT_EQ(notices[0][0].toInt(), DeviceNotifier::DeviceArrival);
    EXPECT_EQ(notices[1][0].toInt(), DeviceNotifier::DeviceRemoveComplete);
}

TEST_F(DeviceNotifierWinTest, OtherDevicesCodesAndWindowsAreNoPortChange) {
    const HWND other = reinterpret_cast<HWND>(static_cast<quintptr>(window.winId()) + 4096);
    Send(WindowHandle(), DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME);
    Send(WindowHandle(), DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_PORT);
    Send(WindowHandle(), DBT_DEVNODES_CHANGED, DBT_DEVTYP_PORT);
    Send(other, DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT);
    QCoreApplication::processEvents();
    EXPECT_EQ(notices.count(), 0);
}

TEST_F(DeviceNotifierWinTest, NoNoticeAfterTheNotifierIsGone) {
    Send(WindowHandle(), DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT);
    delete notifier;
    QCoreApplication::processEvents(); // the queued notice finds nobody
    EXPECT_FALSE(Send(WindowHandle(), DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT));
    QCoreApplication::processEvents();
}

} // namespace
