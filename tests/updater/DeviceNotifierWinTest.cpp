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

constexpr GUID ComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
constexpr GUID UsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

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
    // Tells the notifiers' own windows of a device with the interface, as Windows tells the
    // windows registered for it; gives how many windows it told.
    int SendInterface(WPARAM code, const GUID& interfaceClass) {
        DEV_BROADCAST_DEVICEINTERFACE_W device{};
        device.dbcc_size = sizeof device;
        device.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        device.dbcc_classguid = interfaceClass;
        int told = 0;
        for (HWND w = FindWindowExW(HWND_MESSAGE, nullptr, L"QuillmoorPortNotices", nullptr); w;
             w = FindWindowExW(HWND_MESSAGE, w, L"QuillmoorPortNotices", nullptr)) {
            SendMessageW(w, WM_DEVICECHANGE, code, reinterpret_cast<LPARAM>(&device));
            ++told;
        }
        return told;
    }

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

// Drivers that send no port broadcast (Bluetooth serial ports, some vendors') still announce
// a device with the serial-port interface, which the notifier registered for.
TEST_F(DeviceNotifierWinTest, SerialInterfaceArrivalsAndRemovalsBecomeNotices) {
    ASSERT_EQ(SendInterface(DBT_DEVICEARRIVAL, ComPortInterface), 1);
    EXPECT_EQ(notices.count(), 0); // from the event loop
    SendInterface(DBT_DEVICEARRIVAL, UsbDeviceInterface);
    SendInterface(DBT_DEVICEQUERYREMOVE, ComPortInterface);
    SendInterface(DBT_DEVICEREMOVECOMPLETE, ComPortInterface);
    QCoreApplication::processEvents();
    ASSERT_EQ(notices.count(), 2);
    EXPECT_EQ(notices[0][0].toInt(), DeviceNotifier::DeviceArrival);
    EXPECT_EQ(notices[1][0].toInt(), DeviceNotifier::DeviceRemoveComplete);
}

// A driver that tells of one arrival both ways starts one search, not two.
TEST_F(DeviceNotifierWinTest, OneChangeToldBothWaysGivesOneNotice) {
    Send(WindowHandle(), DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT);
    ASSERT_EQ(SendInterface(DBT_DEVICEARRIVAL, ComPortInterface), 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(notices.count(), 1);
    ASSERT_EQ(SendInterface(DBT_DEVICEREMOVECOMPLETE, ComPortInterface), 1);
    Send(WindowHandle(), DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT);
    QCoreApplication::processEvents();
    EXPECT_EQ(notices.count(), 2);
}

TEST_F(DeviceNotifierWinTest, NoNoticeAfterTheNotifierIsGone) {
    Send(WindowHandle(), DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT);
    delete notifier;
    QCoreApplication::processEvents(); // the queued notice finds nobody
    EXPECT_FALSE(Send(WindowHandle(), DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT));
    EXPECT_EQ(SendInterface(DBT_DEVICEARRIVAL, ComPortInterface), 0); // its window went with it
    QCoreApplication::processEvents();
}

} // namespace
