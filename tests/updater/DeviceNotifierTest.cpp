#include "updater/DeviceNotifier.h"

#include <gtest/gtest.h>

namespace {
QByteArray Uevent(std::initializer_list<const char*> fields) {
    QByteArray message;
    for (const char* f : fields) {
        message += f;
        message += '\0';
    }
    return message;
}
} // namespace

TEST(DeviceNotifier, TurnsTtyAddAndRemoveIntoNoticeCodes) {
    struct Case {
        QByteArray message;
        std::optional<int> code;
    } cases[] = {
        {Uevent({"add@/devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0", "ACTION=add",
                 "DEVPATH=/devices/.../ttyUSB0", "SUBSYSTEM=tty", "DEVNAME=ttyUSB0",
                 "SEQNUM=4711"}),
         DeviceNotifier::DeviceArrival},
        {Uevent(
             {"remove@/devices/.../ttyACM0", "ACTION=remove", "SUBSYSTEM=tty", "DEVNAME=ttyACM0"}),
         DeviceNotifier::DeviceRemoveComplete},
        // Other subsystems and actions are no port change.
        {Uevent({"add@/devices/.../1-1", "ACTION=add", "SUBSYSTEM=usb"}), std::nullopt},
        {Uevent({"change@/devices/.../ttyUSB0", "ACTION=change", "SUBSYSTEM=tty"}), std::nullopt},
        {Uevent({"bind@/devices/.../ttyUSB0", "ACTION=bind", "SUBSYSTEM=usb-serial"}),
         std::nullopt},
        {QByteArray(), std::nullopt},
        {QByteArray("garbage without fields"), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DeviceNotifier::ParseUevent(c.message), c.code) << c.message.toStdString();
}
