// Unpacking members into the base directory.
#include "ZipFixtures.h"

#include "app/FileUtils.h"
#include "archive/ZipExtractEngine.h"
#include "archive/ZipMessages.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

using Icon = MessagePresenter::Icon;

namespace {

class ZipExtractTest : public ZipTest {};

TEST_F(ZipExtractTest, PackageWithImagesInAFolderLandsFlatInTheBaseDirectory) {
    zip.SetZipFileName(Package());
    EXPECT_EQ(zip.Extract(), 0);

    EXPECT_TRUE(Boxes().isEmpty()) << qPrintable(BoxTexts().join('|'));
    EXPECT_EQ(zip.SuccessCnt(), 3);
    EXPECT_EQ(ws.BaseEntries(), QStringList({"ext.bin", "os.bin", "readme.txt"}));
    EXPECT_EQ(ws.ReadFile("sandbox/out/os.bin"), OsImage());
    EXPECT_EQ(ws.ReadFile("sandbox/out/ext.bin"), ExtImage());
    EXPECT_EQ(ws.ReadFile("sandbox/out/readme.txt"), Note());
    EXPECT_EQ(ws.SandboxEntries(), QStringList({"out"}));
}

TEST_F(ZipExtractTest, BaseDirectoryWithTrailingSeparatorWorksToo) {
    zip.SetZipFileName(Package());
    zip.ExtrBaseDir = ws.Base() + "/";
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(ws.ReadFile("sandbox/out/os.bin"), OsImage());
}

TEST_F(ZipExtractTest, StoredAndDeflatedMembersBothDecode) {
    const QByteArray stored = TestBytes(70000, 3); // over one read chunk
    const QByteArray deflated = TextBytes(200000, "deflate me ");
    ws.WriteFile("stored.dat", stored);
    ws.WriteFile("deflated.dat", deflated);
    const QString path =
        ws.PyZip("methods.zip", "z.write('stored.dat', compress_type=zipfile.ZIP_STORED)\n"
                                "z.write('deflated.dat', compress_type=zipfile.ZIP_DEFLATED)\n"
                                "z.writestr('empty.dat', b'')");
    zip.SetZipFileName(path);
    ASSERT_EQ(zip.Count(), 3);
    EXPECT_EQ(zip.DirEntries()[0].ComprMethod, 0);
    EXPECT_EQ(zip.DirEntries()[1].ComprMethod, 8);

    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(zip.SuccessCnt(), 3);
    EXPECT_EQ(ws.ReadFile("sandbox/out/stored.dat"), stored);
    EXPECT_EQ(ws.ReadFile("sandbox/out/deflated.dat"), deflated);
    EXPECT_EQ(ws.ReadFile("sandbox/out/empty.dat"), QByteArray());
}

TEST_F(ZipExtractTest, FirstOfTwoSameNamedMembersWins) {
    const QString path = ws.PyZip("dup.zip", "z.writestr('a/same.bin', b'first member')\n"
                                             "z.writestr('b/same.bin', b'second member', "
                                             "compress_type=zipfile.ZIP_DEFLATED)");
    zip.SetZipFileName(path);
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(zip.SuccessCnt(), 1);
    EXPECT_EQ(ws.BaseEntries(), QStringList({"same.bin"}));
    EXPECT_EQ(ws.ReadFile("sandbox/out/same.bin"), QByteArray("first member"));
}

TEST_F(ZipExtractTest, ExistingFileIsKeptAndTheMemberSkippedSilently) {
    ws.WriteFile("sandbox/out/os.bin", "left from an earlier attempt");
    zip.SetZipFileName(Package());
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(zip.SuccessCnt(), 2);
    EXPECT_EQ(ws.ReadFile("sandbox/out/os.bin"), QByteArray("left from an earlier attempt"));
    EXPECT_EQ(ws.ReadFile("sandbox/out/ext.bin"), ExtImage());
}

TEST_F(ZipExtractTest, EmptyArchiveCannotBeOpenedByExtract) {
    const QString path = ws.PyZip("empty.zip", "pass");
    ASSERT_EQ(QFile(path).size(), 22);
    zip.SetZipFileName(path);
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(zip.Extract(), ZipMsg::FileOpenError);
    ASSERT_EQ(Boxes().size(), 1);
    ExpectBox("Zip file could not be opened", Icon::Error);
    EXPECT_TRUE(ws.BaseEntries().isEmpty());
}

TEST_F(ZipExtractTest, ArchiveOfFoldersOnlyIsEmptyToo) {
    zip.SetZipFileName(ws.PyZip("dirs.zip", "z.writestr('a/', b'')\nz.writestr('a/b/', b'')"));
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_EQ(zip.Extract(), ZipMsg::FileOpenError);
    EXPECT_TRUE(ws.BaseEntries().isEmpty());
}

TEST_F(ZipExtractTest, WithoutArchiveNameNothingIsSpecified) {
    EXPECT_EQ(zip.Extract(), ZipMsg::NoZipSpecified);
    ASSERT_EQ(Boxes().size(), 1);
    ExpectBox("Error - no zip file specified!", Icon::Error);
}

TEST_F(ZipExtractTest, DirectoryIsReadByExtractWhenNotYetRead) {
    const QString path = Package();
    zip.SetZipFileName(ws.Path("missing.zip")); // directory stays empty, name stays
    QFile::rename(path, ws.Path("missing.zip"));
    Boxes().clear();
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(ws.ReadFile("sandbox/out/ext.bin"), ExtImage());
}

TEST_F(ZipExtractTest, BaseDirectoryMustExist) {
    zip.SetZipFileName(Package());
    zip.ExtrBaseDir = ws.Path("sandbox/missing");
    EXPECT_EQ(zip.Extract(), ZipMsg::ExtractDirMissing);
    ASSERT_EQ(Boxes().size(), 1);
    ExpectBox("Extract directory '" +
                  AddBackslash(QDir::toNativeSeparators(ws.Path("sandbox/missing"))) +
                  "' must exist",
              Icon::Error);
    EXPECT_EQ(ws.SandboxEntries(), QStringList({"out"}));
}

TEST_F(ZipExtractTest, UnsupportedMethodIsSkippedWithoutABox) {
    const QString path = ws.PyZip("bz.zip", "z.writestr('packed.bin', b'x' * 1000, "
                                            "compress_type=zipfile.ZIP_BZIP2)\n"
                                            "z.writestr('plain.bin', b'plain')");
    zip.SetZipFileName(path);
    EXPECT_EQ(zip.Extract(), ZipEngineCode::UnsupportedMethod);
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(ws.BaseEntries(), QStringList({"plain.bin"}));
}

TEST_F(ZipExtractTest, ProcessesEventsAndRefusesCallsWhileBusy) {
    const QString path = Package();
    zip.SetZipFileName(path);
    const QString other = ws.PyZip("other.zip", "z.writestr('other.bin', b'other')");
    int nested = -1;
    bool sawBusy = false;
    QTimer::singleShot(0, [&] {
        sawBusy = zip.Busy();
        nested = zip.Extract();
        zip.SetZipFileName(other);
    });
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_TRUE(sawBusy);
    EXPECT_EQ(nested, 0);
    EXPECT_EQ(zip.ZipFileName(), path);
    EXPECT_EQ(zip.Count(), 3);
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(ws.BaseEntries(), QStringList({"ext.bin", "os.bin", "readme.txt"}));
}

// Encrypted members, made by zip -P.
class ZipPasswordTest : public ZipTest {
protected:
    QString Encrypted() {
        ws.WriteFile("enc/secret.bin", ExtImage());
        ws.WriteFile("enc/second.bin", Note());
        ws.WriteFile("enc/plain.txt", "not encrypted");
        ws.Zip("enc.zip", {"-j", "-P", "s3cret", "enc/secret.bin", "enc/second.bin"});
        ws.Zip("enc.zip", {"-j", "enc/plain.txt"});
        return ws.Path("enc.zip");
    }
};

TEST_F(ZipPasswordTest, RightPasswordIsAskedOnceAndDecrypts) {
    zip.SetZipFileName(Encrypted());
    ASSERT_TRUE(zip.DirEntries()[0].Encrypted);
    answers = {{TZipPasswordAnswer::Ok, "s3cret"}};
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(asked, QStringList({"secret.bin"}));
    EXPECT_EQ(ws.ReadFile("sandbox/out/secret.bin"), ExtImage());
    EXPECT_EQ(ws.ReadFile("sandbox/out/second.bin"), Note());
    EXPECT_EQ(ws.ReadFile("sandbox/out/plain.txt"), QByteArray("not encrypted"));
    EXPECT_TRUE(Boxes().isEmpty());
}

TEST_F(ZipPasswordTest, PasswordGivenInAdvanceNeedsNoQuestion) {
    zip.SetZipFileName(Encrypted());
    zip.Password = "s3cret";
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(ws.ReadFile("sandbox/out/secret.bin"), ExtImage());
}

struct SkipCase {
    const char* label;
    TZipPasswordReply reply;
    int code;
};

void PrintTo(const SkipCase& c, std::ostream* os) {
    *os << c.label;
}

class ZipPasswordSkipTest : public ZipPasswordTest,
                            public ::testing::WithParamInterface<SkipCase> {};

TEST_P(ZipPasswordSkipTest, SkipsEncryptedMembersButNotThePlainOne) {
    zip.SetZipFileName(Encrypted());
    answers = {GetParam().reply, GetParam().reply};
    EXPECT_EQ(zip.Extract(), GetParam().code);
    EXPECT_EQ(asked, QStringList({"secret.bin", "second.bin"}));
    EXPECT_EQ(ws.BaseEntries(), QStringList({"plain.txt"}));
    EXPECT_TRUE(Boxes().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ZipPasswordSkipTest,
    ::testing::Values(
        SkipCase{"Wrong", {TZipPasswordAnswer::Ok, "secret"}, ZipEngineCode::WrongPassword},
        SkipCase{"Empty", {TZipPasswordAnswer::Ok, ""}, ZipEngineCode::NoPassword},
        SkipCase{"Cancel", {TZipPasswordAnswer::Cancel, "s3cret"}, ZipEngineCode::NoPassword}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ZipPasswordTest, CancelAllStopsTheWholeExtraction) {
    zip.SetZipFileName(Encrypted());
    answers = {{TZipPasswordAnswer::CancelAll, ""}};
    EXPECT_EQ(zip.Extract(), ZipMsg::DllUserCancelled);
    EXPECT_EQ(asked, QStringList({"secret.bin"}));
    ASSERT_EQ(Boxes().size(), 1);
    ExpectBox("DLL Error - User Cancelled", Icon::Error);
    EXPECT_TRUE(ws.BaseEntries().isEmpty());
}

TEST_F(ZipPasswordTest, UnattendedNeitherAsksNorShowsBoxes) {
    zip.Unattended = true;
    zip.SetZipFileName(Encrypted());
    EXPECT_EQ(zip.Extract(), ZipEngineCode::NoPassword);
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(ws.BaseEntries(), QStringList({"plain.txt"}));
    zip.ExtrBaseDir = ws.Path("nowhere");
    EXPECT_EQ(zip.Extract(), ZipMsg::ExtractDirMissing);
    EXPECT_TRUE(Boxes().isEmpty());
}

TEST(ZipMessagesTest, UnknownIdentifierSaysResourceMissing) {
    EXPECT_EQ(ZipMessageText(10102), "Error - no zip file specified!");
    EXPECT_EQ(ZipMessageText(10227), "CancelAll");
    EXPECT_EQ(ZipMessageText(12345), "Resource missing for 12345");
}

} // namespace
