#include "updater/DeviceNotifier.h"
#include "updater/PortChangeFilter.h"

#include <gtest/gtest.h>

#include <vector>

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

// A change the system tells of twice gives one notice; another kind, or the same kind later,
// is a change of its own.
TEST(PortChangeFilter, OneNoticePerChange) {
    constexpr int arrival = DeviceNotifier::DeviceArrival;
    constexpr int removal = DeviceNotifier::DeviceRemoveComplete;
    constexpr int64_t same = PortChangeFilter::SameChangeMs;
    struct Step {
        int code;
        int64_t at;
        bool notice;
    };
    const struct Case {
        const char* what;
        std::vector<Step> steps;
    } cases[] = {
        {"one arrival told twice", {{arrival, 5000, true}, {arrival, 5010, false}}},
        {"arrival, then removal at once", {{arrival, 5000, true}, {removal, 5001, true}}},
        {"plugged out and in again",
         {{removal, 5000, true}, {arrival, 5100, true}, {arrival, 5150, false}}},
        {"the same kind later", {{arrival, 5000, true}, {arrival, 5000 + same, true}}},
        {"repeats count from the change",
         {{arrival, 5000, true},
          {arrival, 5000 + same - 1, false},
          {arrival, 5000 + same + 1, true}}},
        {"a clock that starts at zero", {{removal, 0, true}, {removal, 10, false}}},
    };
    for (const Case& c : cases) {
        PortChangeFilter filter;
        for (size_t i = 0; i < c.steps.size(); ++i)
            EXPECT_EQ(filter.Accept(c.steps[i].code, c.steps[i].at), c.steps[i].notice)
                << c.what << ", step " << i;
    }
}
