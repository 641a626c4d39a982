// Archive cases that rest on Windows: names that stand for devices there, or that the system
// would quietly change, never become files (nor open a device).
#include "ZipFixtures.h"

namespace {
class ZipWinTest : public ZipTest {};
} // namespace

TEST_F(ZipWinTest, DeviceNamesAndNamesWindowsWouldChangeAreNotWritten) {
    const QString path = ws.PyZip("devices.zip", "for name in ['NUL.bin', 'com1.bin', 'AUX',\n"
                                                 "             'CON.txt.bin', 'LPT9.bin',\n"
                                                 "             'dot.bin.', 'space.bin ',\n"
                                                 "             'a<b.bin', 'fine.bin']:\n"
                                                 "    z.writestr(name, b'data ' + name.encode())");
    zip.SetZipFileName(path);
    zip.Extract();
    EXPECT_EQ(ws.BaseEntries(), QStringList{"fine.bin"});
    EXPECT_EQ(ws.ReadFile("sandbox/out/fine.bin"), QByteArray("data fine.bin"));
}
