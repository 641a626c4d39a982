// Archive cases that rest on Unix: symbolic links in the base directory, and a directory even
// root cannot write to.
#include "ZipFixtures.h"

#include "archive/ZipMessages.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
using Icon = MessagePresenter::Icon;
class ZipUnixTest : public ZipTest {};
} // namespace

TEST_F(ZipUnixTest, SymbolicLinksInTheBaseDirectoryAreNeverFollowed) {
    ws.WriteFile("sandbox/target.bin", "precious");
    ASSERT_TRUE(QFile::link(ws.Sandbox() + "/target.bin", ws.Base() + "/link.bin"));
    ASSERT_TRUE(QFile::link(ws.Sandbox() + "/new.bin", ws.Base() + "/dangling.bin"));
    const QString path = ws.PyZip("links.zip", "z.writestr('link.bin', b'overwrite')\n"
                                               "z.writestr('dir/dangling.bin', b'create')\n"
                                               "z.writestr('fine.bin', b'fine')");
    zip.SetZipFileName(path);
    EXPECT_EQ(zip.Extract(), 0);

    EXPECT_EQ(ws.ReadFile("sandbox/target.bin"), QByteArray("precious"));
    EXPECT_FALSE(QFileInfo::exists(ws.Sandbox() + "/new.bin"));
    EXPECT_TRUE(QFileInfo(ws.Base() + "/link.bin").isSymLink());
    EXPECT_TRUE(QFileInfo(ws.Base() + "/dangling.bin").isSymLink());
    EXPECT_EQ(ws.ReadFile("sandbox/out/fine.bin"), QByteArray("fine"));
    EXPECT_EQ(ws.SandboxEntries(), QStringList({"out", "target.bin"}));
}

TEST_F(ZipUnixTest, BaseDirectoryMustBeWritable) {
    // Even root cannot create files in /sys.
    char probe[] = "/sys/tmpXXXXXX";
    const int fd = mkstemp(probe);
    if (fd >= 0) {
        close(fd);
        unlink(probe);
        GTEST_SKIP() << "/sys is writable here";
    }
    const int code = errno;
    zip.SetZipFileName(Package());
    zip.ExtrBaseDir = "/sys";
    EXPECT_EQ(zip.Extract(), ZipMsg::CannotWrite);
    ASSERT_EQ(Boxes().size(), 1);
    ExpectBox(QString("Cannot write to /sys/ <%1:%2>")
                  .arg(QString::number(code, 16).toUpper(), QString::fromLocal8Bit(strerror(code))),
              Icon::Error);
}
