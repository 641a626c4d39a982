// Hostile archives: names that point elsewhere, links in the base directory, data that
// does not match what the directory declares.
#include "ZipFixtures.h"

#include "archive/ZipExtractEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace {

class ZipSafetyTest : public ZipTest {};

TEST_F(ZipSafetyTest, NoNameWritesOutsideTheBaseDirectory) {
    const QString outside = ws.Sandbox() + "/abs.bin";
    const QString path =
        ws.PyZip("escape.zip",
                 QString("names = ['../up1.bin', '../../up2.bin', '%1', '..\\\\..\\\\back.bin',\n"
                         "         'C:drive.bin', 'C:\\\\root.bin', 'sub/../../../dots.bin',\n"
                         "         '', '..', '...', 'x/..', 'a\\\\..']\n"
                         "for n in names:\n"
                         "    i = zipfile.ZipInfo('x')\n"
                         "    i.filename = n\n"
                         "    z.writestr(i, ('member ' + n).encode())\n")
                     .arg(outside));
    zip.SetZipFileName(path);
    EXPECT_EQ(zip.Count(), 11); // the empty name has no file part and is not kept

    EXPECT_EQ(zip.Extract(), ZipEngineCode::UnsafeName);
    EXPECT_TRUE(Boxes().isEmpty()) << qPrintable(BoxTexts().join('|'));
    EXPECT_EQ(ws.SandboxEntries(), QStringList({"out"}));
    EXPECT_FALSE(QFile::exists(ws.Path("up1.bin")));
    EXPECT_FALSE(QFile::exists(ws.Path("up2.bin")));
    // Each name is reduced to its file part inside the base directory.
    EXPECT_EQ(ws.BaseEntries(), QStringList({"abs.bin", "back.bin", "dots.bin", "drive.bin",
                                             "root.bin", "up1.bin", "up2.bin"}));
    EXPECT_EQ(ws.ReadFile("sandbox/out/up2.bin"), QByteArray("member ../../up2.bin"));
    EXPECT_EQ(ws.ReadFile("sandbox/out/abs.bin"), ("member " + outside).toUtf8());
}

TEST_F(ZipSafetyTest, SymbolicLinksInTheBaseDirectoryAreNeverFollowed) {
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

// One member of a real archive is made to disagree with its directory entry; that member
// leaves no file, the others are written, and no box appears.
struct MismatchCase {
    const char* label;
    int headerOffset; // field inside the central header
    bool patch32;
    uint32_t value; // new value, or 0 for "the current value with bit 0 flipped"
    int code;
};

void PrintTo(const MismatchCase& c, std::ostream* os) {
    *os << c.label;
}

class ZipMismatchTest : public ZipTest, public ::testing::WithParamInterface<MismatchCase> {};

TEST_P(ZipMismatchTest, MemberThatDisagreesWithItsEntryLeavesNoFile) {
    const QString path =
        ws.PyZip("m.zip", "z.writestr('good.bin', b'good')\n"
                          "z.writestr('bad.bin', b''.join(b'payload %d\\n' % (i % 97) for i in "
                          "range(20000))[:100000], compress_type=zipfile.ZIP_DEFLATED)\n"
                          "z.writestr('after.bin', b'after')");
    const ZipLayout layout(ws.ReadFile("m.zip"));
    const int64_t field = layout.centralHeaders[1] + GetParam().headerOffset;
    if (GetParam().patch32) {
        const QByteArray bytes = ws.ReadFile("m.zip");
        uint32_t value = GetParam().value;
        if (value == 0)
            value = qFromLittleEndian<quint32>(bytes.constData() + field) ^ 1;
        Patch32(path, field, value);
    } else {
        Patch16(path, field, uint16_t(GetParam().value));
    }

    zip.SetZipFileName(path);
    ASSERT_EQ(zip.Count(), 3);
    EXPECT_EQ(zip.Extract(), GetParam().code);
    EXPECT_TRUE(Boxes().isEmpty()) << qPrintable(BoxTexts().join('|'));
    EXPECT_EQ(ws.BaseEntries(), QStringList({"after.bin", "good.bin"}));
    EXPECT_EQ(ws.ReadFile("sandbox/out/after.bin"), QByteArray("after"));
}

INSTANTIATE_TEST_SUITE_P(
    Mismatch, ZipMismatchTest,
    ::testing::Values(
        MismatchCase{"BadCrc", 16, true, 0, ZipEngineCode::BadCrc},
        MismatchCase{"InflatesBeyondDeclaredSize", 24, true, 1000, ZipEngineCode::BadSize},
        MismatchCase{"InflatesShortOfDeclaredSize", 24, true, 100001, ZipEngineCode::BadSize},
        MismatchCase{"DataCutShort", 20, true, 100, ZipEngineCode::BadData},
        MismatchCase{"CompressedSizePastTheFile", 20, true, 0x7FFFFFFF,
                     ZipEngineCode::BadLocalHeader},
        MismatchCase{"LocalHeaderPastTheFile", 42, true, 0xFFFFFF00, ZipEngineCode::BadLocalHeader},
        MismatchCase{"LocalHeaderMisplaced", 42, true, 1, ZipEngineCode::BadLocalHeader}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ZipSafetyTest, StoredMemberWithWrongSizeIsNotWritten) {
    const QString path = ws.PyZip("s.zip", "z.writestr('s.bin', b'0123456789')");
    Patch32(path, ZipLayout(ws.ReadFile("s.zip")).centralHeaders[0] + 24, 5);
    zip.SetZipFileName(path);
    EXPECT_EQ(zip.Extract(), ZipEngineCode::BadSize);
    EXPECT_TRUE(ws.BaseEntries().isEmpty());
}

} // namespace
