// Reading an archive's central directory when its name is assigned.
#include "ZipFixtures.h"
#include "support/HostProcess.h"

#include "archive/ZipMessages.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

using Icon = MessagePresenter::Icon;

namespace {

class ZipDirectoryTest : public ZipTest {};

TEST_F(ZipDirectoryTest, ReadsMembersOfARealPackageWithoutFolderEntries) {
    const QString path = Package();
    ASSERT_EQ(RunHostProgram("python3", {"-c",
                                         "import sys, zipfile\n"
                                         "with zipfile.ZipFile(sys.argv[1], 'a') as z:\n"
                                         "    z.comment = b'package note'\n",
                                         path}),
              0);
    zip.SetZipFileName(path);

    EXPECT_TRUE(Boxes().isEmpty()) << qPrintable(BoxTexts().join('|'));
    EXPECT_EQ(zip.ErrCode(), 0);
    EXPECT_EQ(zip.ZipFileName(), path);
    EXPECT_EQ(zip.ZipComment(), QByteArray("package note"));
    ASSERT_EQ(zip.Count(), 3); // "QLM/" and "QLM/images/" are counted but not kept
    // Names are kept with the platform's separator.
    QHash<QString, const TZipDirEntry*> byName;
    for (const auto& e : zip.DirEntries())
        byName.insert(QDir::fromNativeSeparators(e.FileName), &e);
    ASSERT_TRUE(byName.contains("QLM/images/os.bin"));
    ASSERT_TRUE(byName.contains("QLM/images/ext.bin"));
    ASSERT_TRUE(byName.contains("QLM/readme.txt"));
    EXPECT_EQ(byName.value("QLM/readme.txt")->FileName, QDir::toNativeSeparators("QLM/readme.txt"));
    const TZipDirEntry& os = *byName.value("QLM/images/os.bin");
    EXPECT_EQ(os.UncomprSize, uint32_t(OsImage().size()));
    EXPECT_EQ(os.CRC32, Crc32Of(OsImage()));
    EXPECT_FALSE(os.Encrypted);
    const TZipDirEntry& ext = *byName.value("QLM/images/ext.bin");
    EXPECT_EQ(ext.ComprMethod, 8);
    EXPECT_LT(ext.ComprSize, ext.UncomprSize);
    EXPECT_EQ(ext.CRC32, Crc32Of(ExtImage()));
}

TEST_F(ZipDirectoryTest, ShowsTheWaitCursorAndProcessesEventsWhileReading) {
    const QString path = Package();
    bool fired = false;
    Qt::CursorShape shape = Qt::ArrowCursor;
    QTimer::singleShot(0, [&] {
        fired = true;
        if (QApplication::overrideCursor())
            shape = QApplication::overrideCursor()->shape();
    });
    zip.SetZipFileName(path);
    EXPECT_TRUE(fired);
    EXPECT_EQ(shape, Qt::WaitCursor);
    EXPECT_EQ(zip.Count(), 3);
}

struct TailCase {
    const char* label;
    QByteArray tail;
    bool warns;
};

void PrintTo(const TailCase& c, std::ostream* os) {
    *os << c.label;
}

class ZipTailTest : public ZipTest, public ::testing::WithParamInterface<TailCase> {};

TEST_P(ZipTailTest, WarnsOnlyAboutRealGarbageAfterTheArchive) {
    const QString path = Package();
    AppendToFile(path, GetParam().tail);
    zip.SetZipFileName(path);
    if (GetParam().warns) {
        ASSERT_EQ(Boxes().size(), 1);
        ExpectBox("Warning - Garbage at the end of the zipfile!", Icon::Information);
    } else {
        EXPECT_TRUE(Boxes().isEmpty()) << qPrintable(BoxTexts().join('|'));
    }
    EXPECT_EQ(zip.Count(), 3);
    EXPECT_EQ(zip.ErrCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Tails, ZipTailTest,
                         ::testing::Values(TailCase{"HundredZeros", QByteArray(100, '\0'), false},
                                           TailCase{"Text", "<html>not found</html>\n", true},
                                           TailCase{"ControlCodesBelow512", QByteArray(511, '.'),
                                                    false},
                                           TailCase{"ZerosFrom512", QByteArray(512, '\0'), true},
                                           TailCase{"OneSlash", "/", true}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ZipDirectoryTest, WrongDirectoryOffsetWarnsAndStillExtracts) {
    const QString path = Package();
    const ZipLayout layout(ws.ReadFile("QLMUpdate.zip"));
    Patch32(path, layout.endRecord + 16, 12345);

    zip.SetZipFileName(path);
    ASSERT_EQ(Boxes().size(), 1);
    ExpectBox("Warning - Error in zip structure!", Icon::Information);
    EXPECT_EQ(zip.Count(), 3);

    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(Boxes().size(), 1);
    EXPECT_EQ(ws.ReadFile("sandbox/out/os.bin"), OsImage());
    EXPECT_EQ(ws.ReadFile("sandbox/out/ext.bin"), ExtImage());
}

TEST_F(ZipDirectoryTest, FileWithoutEndRecordIsNoArchiveAndKeepsItsName) {
    ws.WriteFile("page.zip", "<html><body>404 Not Found</body></html>\n");
    const QString path = ws.Path("page.zip");
    zip.SetZipFileName(path);
    ASSERT_EQ(Boxes().size(), 1);
    ExpectBox("This archive is not a valid Zip archive", Icon::Error);
    EXPECT_EQ(zip.ZipFileName(), path);
    EXPECT_EQ(zip.Count(), 0);

    // Extract reads it again, shows the same box, and ends quietly.
    EXPECT_EQ(zip.Extract(), ZipMsg::NotValidZip);
    EXPECT_EQ(BoxTexts(), QStringList({"This archive is not a valid Zip archive",
                                       "This archive is not a valid Zip archive"}));
    EXPECT_TRUE(ws.BaseEntries().isEmpty());
}

TEST_F(ZipDirectoryTest, MissingFileCannotBeOpenedAndIsNoArchive) {
    zip.SetZipFileName(ws.Path("nothing.zip"));
    ASSERT_EQ(Boxes().size(), 2);
    ExpectBox("Zip file could not be opened", Icon::Information, 0);
    ExpectBox("This archive is not a valid Zip archive", Icon::Error, 1);
    EXPECT_EQ(zip.ErrCode(), ZipMsg::NotValidZip);
    EXPECT_EQ(zip.ZipFileName(), ws.Path("nothing.zip"));
    EXPECT_EQ(zip.Count(), 0);
}

TEST_F(ZipDirectoryTest, EmptyNameForgetsTheArchiveWithoutABox) {
    zip.SetZipFileName(Package());
    ASSERT_EQ(zip.Count(), 3);
    zip.SetZipFileName("");
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(zip.Extract(), ZipMsg::NoZipSpecified);
}

TEST_F(ZipDirectoryTest, FileOfFourGibibytesHasNoEndRecord) {
    const QString path = Package();
    QFile file(path);
    ASSERT_TRUE(file.resize(int64_t(1) << 32)); // sparse: costs no disk space
    // Put an end record where a reader would find it, to be sure size alone decides.
    PatchFile(path, (int64_t(1) << 32) - 22, QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
    zip.SetZipFileName(path);
    ASSERT_EQ(Boxes().size(), 1);
    ExpectBox("This archive is not a valid Zip archive", Icon::Error);
    EXPECT_EQ(zip.Count(), 0);
}

// A damaged directory shows its own message, then Extract finds no archive name.
struct DamageCase {
    const char* label;
    std::function<void(const QString& path, const ZipLayout&)> damage;
    const char* message;
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.label;
}

class ZipDamageTest : public ZipTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(ZipDamageTest, ShowsItsMessageAndForgetsTheArchive) {
    const QString path = Package();
    GetParam().damage(path, ZipLayout(ws.ReadFile("QLMUpdate.zip")));

    zip.SetZipFileName(path);
    ASSERT_EQ(Boxes().size(), 1) << qPrintable(BoxTexts().join('|'));
    ExpectBox(GetParam().message, Icon::Error);
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_TRUE(zip.ZipFileName().isEmpty());

    EXPECT_EQ(zip.Extract(), ZipMsg::NoZipSpecified);
    ASSERT_EQ(Boxes().size(), 2);
    ExpectBox("Error - no zip file specified!", Icon::Error, 1);
    EXPECT_TRUE(ws.BaseEntries().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Damage, ZipDamageTest,
    ::testing::Values(
        DamageCase{"HeaderSignature",
                   [](const QString& p, const ZipLayout& l) { Patch32(p, l.centralHeaders[1], 0); },
                   "A central header signature is wrong"},
        DamageCase{
            "NameTooLong",
            [](const QString& p, const ZipLayout& l) { Patch16(p, l.centralHeaders[0] + 28, 300); },
            "Error while reading a central file name"},
        DamageCase{"HeaderCutOff",
                   [](const QString& p, const ZipLayout& l) {
                       // one entry more than there are: the next header would run past the end
                       Patch16(p, l.endRecord + 10, uint16_t(l.centralHeaders.size() + 1));
                   },
                   "Error while reading a central header"},
        DamageCase{"CommentPastEnd",
                   [](const QString& p, const ZipLayout& l) {
                       Patch16(p, l.centralHeaders.last() + 32, 0xFFFF);
                   },
                   "Error while reading a file comment"},
        DamageCase{"EntryMissingFromCount",
                   [](const QString& p, const ZipLayout& l) {
                       Patch16(p, l.endRecord + 10, uint16_t(l.centralHeaders.size() - 1));
                   },
                   "Error while reading the End Of Central Directory"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ZipDirectoryTest, DamagedDirectoryRestoresTheCursor) {
    const QString path = Package();
    Patch32(path, ZipLayout(ws.ReadFile("QLMUpdate.zip")).centralHeaders[0], 0);
    zip.SetZipFileName(path);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(zip.ErrCode(), ZipMsg::CentralSignatureError);
}

} // namespace
