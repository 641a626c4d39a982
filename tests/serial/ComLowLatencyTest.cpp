// The low-latency flag asked of a USB adapter's driver, and put back when the port lets the
// adapter go (its driver would keep it until the adapter is unplugged). Pseudo-terminals have
// no such flag: a driver of the test's own stands in.
#include "PtyPair.h"
#include "serial/TComLowLatency_unix.h"
#include "serial/TComPort.h"

#include <QFile>
#include <QString>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <map>
#include <ostream>
#include <vector>

namespace {

constexpr int OtherFlag = ASYNC_SKIP_TEST; // a setting of the adapter's that is none of ours

// The flags of a driver that keeps them per device, as the common USB adapter's does: an fd
// stands for the device it is open on (a number no file is open on for itself).
class DriverFlags : public TComSerialFlags {
public:
    bool Read(int fd, int& flags) override {
        if (!readable)
            return false;
        flags = Of(fd);
        return true;
    }
    bool Write(int fd, int flags) override {
        writes.push_back(flags);
        if (!writable)
            return false;
        Of(fd) = flags;
        return true;
    }
    int& Of(int fd) { return byDevice[Device(fd)]; }
    int& Of(const QString& device) { return byDevice[device]; }

    static QString Device(int fd) {
        const QString target = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd));
        return target.isEmpty() ? QStringLiteral("fd %1").arg(fd) : target;
    }

    bool readable = true;
    bool writable = true;
    std::map<QString, int> byDevice;
    std::vector<int> writes;
};

struct FlagCase {
    const char* name;
    int atOpen;
    bool writable;
    int whileOpen;
    int afterRelease;
    size_t writes;
};

void PrintTo(const FlagCase& c, std::ostream* out) {
    *out << c.name;
}

class ComLowLatencyTest : public ::testing::TestWithParam<FlagCase> {};

TEST_P(ComLowLatencyTest, FlagIsPutBackAsItWasFound) {
    const FlagCase& c = GetParam();
    DriverFlags driver;
    driver.writable = c.writable;
    driver.Of(901) = c.atOpen;
    const auto restore = RequestLowLatency(901, driver);
    EXPECT_EQ(driver.Of(901), c.whileOpen);
    if (restore)
        restore();
    EXPECT_EQ(driver.Of(901), c.afterRelease);
    EXPECT_EQ(driver.writes.size(), c.writes);
}

INSTANTIATE_TEST_SUITE_P(Cases, ComLowLatencyTest,
                         ::testing::Values(FlagCase{"OffAtOpen", 0, true, ASYNC_LOW_LATENCY, 0, 2},
                                           FlagCase{"OffWithOtherSettings", OtherFlag, true,
                                                    OtherFlag | ASYNC_LOW_LATENCY, OtherFlag, 2},
                                           FlagCase{"OnAtOpenStaysOn", ASYNC_LOW_LATENCY, true,
                                                    ASYNC_LOW_LATENCY, ASYNC_LOW_LATENCY, 0},
                                           FlagCase{"RefusedByTheDriver", 0, false, 0, 0, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ComLowLatency, DriverWithoutTheSettingIsLeftAlone) {
    DriverFlags driver;
    driver.readable = false;
    EXPECT_FALSE(RequestLowLatency(901, driver));
    EXPECT_TRUE(driver.writes.empty());
}

// Only the flag goes back: what changed meanwhile stays, and a flag someone else cleared
// already is not written again; an adapter that is gone by then is not written to.
TEST(ComLowLatency, ReleaseTouchesOnlyTheFlag) {
    DriverFlags driver;
    const auto restore = RequestLowLatency(901, driver);
    ASSERT_TRUE(restore);
    driver.Of(901) |= OtherFlag;
    restore();
    EXPECT_EQ(driver.Of(901), OtherFlag);

    driver.writes.clear();
    const auto cleared = RequestLowLatency(902, driver);
    driver.Of(902) = 0;
    cleared();
    const auto gone = RequestLowLatency(903, driver);
    driver.readable = false;
    gone();
    EXPECT_EQ(driver.writes, (std::vector<int>{ASYNC_LOW_LATENCY, ASYNC_LOW_LATENCY}));
}

// The port asks for the flag on its device at Open and puts it back at Close, also when the
// port closes because its name changed, and when it is destroyed open.
class ComPortLowLatencyTest : public ::testing::Test {
protected:
    void SetUp() override { before = TComSerialFlags::Use(&driver); }
    void TearDown() override { TComSerialFlags::Use(before); }

    int FlagsOf(const PtyPair& device) { return driver.Of(device.SlavePath()); }

    DriverFlags driver;
    TComSerialFlags* before = nullptr;
    PtyPair first;
    PtyPair second;
};

TEST_F(ComPortLowLatencyTest, OpenSetsTheFlagAndEveryReleasePutsItBack) {
    driver.Of(second.SlavePath()) = OtherFlag;
    {
        TComPort port;
        port.SetPort(first.SlavePath());
        port.Open();
        EXPECT_EQ(FlagsOf(first), ASYNC_LOW_LATENCY);
        port.Close();
        EXPECT_EQ(FlagsOf(first), 0);

        port.Open();
        port.SetPort(second.SlavePath()); // reopened on the other device
        ASSERT_TRUE(port.Connected());
        EXPECT_EQ(FlagsOf(first), 0);
        EXPECT_EQ(FlagsOf(second), OtherFlag | ASYNC_LOW_LATENCY);
    }
    EXPECT_EQ(FlagsOf(second), OtherFlag) << "after the port was destroyed open";
    EXPECT_EQ(driver.byDevice.size(), 2u) << "the port spoke only to its two devices";
}

} // namespace
