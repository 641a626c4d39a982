// Hostile archives: names that point elsewhere, links in the base directory, data that
// does not match what the directory declares.
#include "ZipFixtures.h"

#include "app/FileUtils.h"
#include "archive/ZipExtractEngine.h"
#include "archive/ZipMessages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <functional>

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
        MismatchCase{"LocalHeaderPastTheFile", 42, true, 0xFFFFFF00, ZipEngineCode::BadLocalHeader},
        MismatchCase{"LocalHeaderMisplaced", 42, true, 1, ZipEngineCode::BadLocalHeader}),
    [](const auto& info) { return std::string(info.param.label); });

// A directory whose entries share data would unpack the same bytes again and again.
QByteArray WithDuplicatedEntry(const QByteArray& zip, int copies) {
    const ZipLayout layout(zip);
    const int64_t start = layout.centralHeaders[0];
    const int64_t next =
        layout.centralHeaders.size() > 1 ? layout.centralHeaders[1] : layout.endRecord;
    const QByteArray entry = zip.mid(start, next - start);
    QByteArray out = zip.left(start);
    for (int i = 0; i < copies; ++i) {
        QByteArray copy = entry;
        const QByteArray number = QByteArray::number(i).rightJustified(3, '0');
        copy.replace(46 + 1, 3, number); // "m000.bin" becomes "m001.bin" and so on
        out += copy;
    }
    QByteArray end = zip.mid(layout.endRecord, 22);
    qToLittleEndian<quint16>(quint16(copies), end.data() + 8);
    qToLittleEndian<quint16>(quint16(copies), end.data() + 10);
    qToLittleEndian<quint32>(quint32(copies * entry.size()), end.data() + 12);
    return out + end;
}

TEST_F(ZipSafetyTest, OverlappingMembersAreRefusedBeforeAnythingIsWritten) {
    struct Case {
        const char* what;
        std::function<void(const QString& path, const QByteArray& bytes)> patch;
    } cases[] = {
        {"every entry points at the same data",
         [this](const QString&, const QByteArray& bytes) {
             ws.WriteFile("o.zip",
                          WithDuplicatedEntry(bytes.left(ZipLayout(bytes).endRecord + 22), 200));
         }},
        {"a member runs into the next one",
         [](const QString& path, const QByteArray& bytes) {
             const ZipLayout layout(bytes);
             Patch32(path, layout.centralHeaders[0] + 20,
                     uint32_t(layout.localHeaders[1] - layout.localHeaders[0]));
         }},
        {"a member runs into the central directory",
         [](const QString& path, const QByteArray& bytes) {
             Patch32(path, ZipLayout(bytes).centralHeaders[1] + 20, 0x7FFFFFFF);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Boxes().clear();
        const QString path = ws.PyZip("o.zip", "z.writestr('m000.bin', b'x' * 5000)\n"
                                               "z.writestr('m001.bin', b'y' * 5000)");
        c.patch(path, ws.ReadFile("o.zip"));
        zip.SetZipFileName(path);
        ASSERT_GE(zip.Count(), 2);
        EXPECT_EQ(zip.Extract(), ZipMsg::OverlappingMembers);
        EXPECT_EQ(BoxTexts(), QStringList{"Error - members of this archive overlap each other or "
                                          "the central directory"});
        EXPECT_TRUE(ws.BaseEntries().isEmpty());
    }
}

TEST_F(ZipSafetyTest, DeclaredSizesThatWouldFillTheDiskAreRefused) {
    // Each member claims 4 GiB; together they claim more than the disk has.
    const int64_t free = FreeDiskSpace(ws.Base());
    ASSERT_GT(free, 0);
    const int members = int((free + zip.MinFreeSpace) / 0xFFFFFFFFLL) + 2;
    const QString path =
        ws.PyZip("bomb.zip", QString("for i in range(%1):\n"
                                     "    z.writestr('m' + str(i).zfill(5) + '.bin', b'z')\n")
                                 .arg(members));
    const ZipLayout layout(ws.ReadFile("bomb.zip"));
    for (int64_t header : layout.centralHeaders)
        Patch32(path, header + 24, 0xFFFFFFFF);
    zip.SetZipFileName(path);
    ASSERT_EQ(zip.Count(), members);
    EXPECT_EQ(zip.Extract(), ZipMsg::NoDiskSpace);
    EXPECT_EQ(BoxTexts(), QStringList{"Not enough disk space to extract to " +
                                      AddBackslash(QDir::toNativeSeparators(ws.Base()))});
    EXPECT_TRUE(ws.BaseEntries().isEmpty());

    // Only the members the filter selects count: one of them fits.
    if (free - zip.MinFreeSpace <= 0xFFFFFFFFLL)
        return;
    Boxes().clear();
    zip.ExtractFilter = [](const TZipDirEntry& entry) { return entry.FileName == "m00000.bin"; };
    EXPECT_EQ(zip.Extract(), ZipEngineCode::BadSize); // it holds 1 byte, not 4 GiB
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_TRUE(ws.BaseEntries().isEmpty());
}

TEST_F(ZipSafetyTest, StoredMemberWithWrongSizeIsNotWritten) {
    const QString path = ws.PyZip("s.zip", "z.writestr('s.bin', b'0123456789')");
    Patch32(path, ZipLayout(ws.ReadFile("s.zip")).centralHeaders[0] + 24, 5);
    zip.SetZipFileName(path);
    EXPECT_EQ(zip.Extract(), ZipEngineCode::BadSize);
    EXPECT_TRUE(ws.BaseEntries().isEmpty());
}

} // namespace
