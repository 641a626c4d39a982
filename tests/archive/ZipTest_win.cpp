// Archive cases that rest on Windows: names that stand for devices there, or that the system
// would quietly change, never become files (nor open a device).
#include "ZipFixtures.h"

#include "archive/ExtractDir.h"
#include "archive/ZipDirectoryReader.h"
#include "archive/ZipExtractEngine.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <vector>

#include <windows.h>

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

// A member that fails its check goes even when its name can no longer be deleted once it is
// closed (a virus scanner holding it does that; here a read-only mark another program sets
// while it is written): it is marked for deletion through its own handle before it is closed.
TEST_F(ZipWinTest, AMemberThatFailsItsCheckGoesThoughItsNameCannotBeDeleted) {
    const QString path = ws.PyZip("crc.zip", "z.writestr('QLM_OS.bin', bytes(491516), "
                                             "compress_type=zipfile.ZIP_DEFLATED)");
    const QByteArray bytes = ws.ReadFile("crc.zip");
    const int64_t crcField = ZipLayout(bytes).centralHeaders[0] + 16;
    Patch32(path, crcField, qFromLittleEndian<quint32>(bytes.constData() + crcField) ^ 1);
    QFile archive(path);
    ASSERT_TRUE(archive.open(QIODevice::ReadOnly));
    TZipDirectory directory;
    ASSERT_EQ(TZipDirectoryReader().Read(archive, directory), 0);
    TExtractDir target;
    ASSERT_EQ(target.Open(ws.Base()), 0);

    const QString member = QDir::toNativeSeparators(ws.Base() + "/QLM_OS.bin");
    const auto* wide = reinterpret_cast<const wchar_t*>(member.utf16());
    TZipExtractEngine::Callbacks callbacks;
    bool marked = false;
    callbacks.Pump = [&] {
        const DWORD attributes = GetFileAttributesW(wide);
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY))
            marked = SetFileAttributesW(wide, attributes | FILE_ATTRIBUTE_READONLY) || marked;
    };
    std::vector<int> codes;
    callbacks.Report = [&](int code, const QString&) { codes.push_back(code); };
    EXPECT_EQ(TZipExtractEngine().Run(archive, directory.Entries, target, callbacks), 0);
    ASSERT_TRUE(marked) << "the member could not be marked read-only while it was written";
    EXPECT_EQ(codes, std::vector<int>{ZipEngineCode::BadCrc});
    EXPECT_EQ(ws.BaseEntries(), QStringList{});
}

// A work folder deeper than the old limit of about 260 characters takes members all the same.
TEST_F(ZipWinTest, AFolderBeyondTheOldPathLimitTakesMembers) {
    QString folder = QDir::toNativeSeparators(ws.Base());
    while (folder.size() < 300)
        folder += "\\" + QString(40, QLatin1Char('d'));
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_EQ(TExtractDir::ProbeWritable(folder), 0);
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{}); // the probe is gone
    TExtractDir target;
    ASSERT_EQ(target.Open(folder), 0);
    const int fd = target.CreateNew("QLM_OS.bin");
    ASSERT_GE(fd, 0);
    QFile member;
    ASSERT_TRUE(member.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    member.write("image");
    member.close();
    EXPECT_TRUE(target.Exists("QLM_OS.bin"));
    QFile written(folder + "\\QLM_OS.bin");
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("image"));
}
