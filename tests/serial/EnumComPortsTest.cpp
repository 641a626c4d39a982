#include "serial/EnumComPorts.h"
#include "serial/EnumComPorts_unix.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(EnumComPortsTest, SortsAsCaseInsensitiveTextKeepingDuplicates) {
    QStringList ports{"COM3", "COM10", "COM2", "ttyUSB1", "ttyacm0", "TTYS0", "COM2"};
    SortComPorts(ports);
    EXPECT_EQ(ports, (QStringList{"COM10", "COM2", "COM2", "COM3", "ttyacm0", "TTYS0", "ttyUSB1"}));
}

TEST(EnumComPortsTest, ExtraPortsAreTheNonEmptyEntries) {
    EXPECT_EQ(ExtraComPorts(QStringLiteral(":/tmp/b::/dev/pts/3:")),
              (QStringList{"/tmp/b", "/dev/pts/3"}));
    EXPECT_TRUE(ExtraComPorts(QString()).isEmpty());
}

// A sysfs tty class directory in miniature: only devices with hardware behind them that the
// user may open are listed.
TEST(EnumComPortsTest, HardwarePortsComeFromTheTtyClass) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    QDir dir(root.path());
    auto addEntry = [&](const QString& name, bool device, const char* type, bool node) {
        ASSERT_TRUE(dir.mkpath(QStringLiteral("class/%1").arg(name)));
        if (device) {
            ASSERT_TRUE(dir.mkpath(QStringLiteral("class/%1/device").arg(name)));
        }
        if (type) {
            QFile file(dir.filePath(QStringLiteral("class/%1/type").arg(name)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(type);
        }
        if (node) {
            ASSERT_TRUE(dir.mkpath(QStringLiteral("dev")));
            QFile file(dir.filePath(QStringLiteral("dev/%1").arg(name)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
    };
    addEntry("ttyUSB0", true, nullptr, true);
    addEntry("ttyS0", true, "0\n", true);      // placeholder without a UART
    addEntry("ttyS1", true, "4\n", true);      // a 16550A
    addEntry("ttyS2", true, nullptr, true);    // no type to tell: kept
    addEntry("tty0", false, nullptr, true);    // virtual terminal
    addEntry("ttyACM0", true, nullptr, false); // no device node to open
    EXPECT_EQ(HardwareComPorts(dir.filePath("class"), dir.filePath("dev")),
              (QStringList{"ttyS1", "ttyS2", "ttyUSB0"}));
    EXPECT_TRUE(HardwareComPorts(dir.filePath("missing"), dir.filePath("dev")).isEmpty());
}

TEST(EnumComPortsTest, ListsExtraPortsSortedWithTheHardwarePorts) {
    const QByteArray saved = qgetenv("QLM_EXTRA_PORTS");
    qputenv("QLM_EXTRA_PORTS", "/tmp/qlm-b:/TMP/qlm-a::/tmp/qlm-b");
    QStringList ports{"stale"};
    EnumComPorts(ports);
    qputenv("QLM_EXTRA_PORTS", saved);

    EXPECT_FALSE(ports.contains("stale"));
    EXPECT_EQ(ports.count("/tmp/qlm-b"), 2);
    EXPECT_EQ(ports.count("/TMP/qlm-a"), 1);
    QStringList sorted = ports;
    SortComPorts(sorted);
    EXPECT_EQ(ports, sorted);
    EXPECT_LT(ports.indexOf("/TMP/qlm-a"), ports.indexOf("/tmp/qlm-b"));
}

} // namespace
