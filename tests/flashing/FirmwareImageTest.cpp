#include "flashing/FirmwareImage.h"
#include "FakeLog.h"
#include "app/Errors.h"
#include "flashing/ImageList.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace {

// Bytes that never repeat the padding byte at the end, so padding is visible.
QByteArray Pattern(int size) {
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    return bytes;
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

struct LoadCase {
    const char* label;
    int size;
    int kind;
    int32_t expectedResult;
    int32_t expectedLength;
    bool accepted;
};

class LoadImageTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadImageTest, PadsToWholeBlocksAndChecksTheSize) {
    const LoadCase& c = GetParam();
    QTemporaryDir dir;
    const QByteArray content = Pattern(c.size);
    const QString path = WriteFile(dir, "fw.bin", content);
    FakeLog log;
    TFirmwareImage image;

    // Surrounding blanks and control characters of the path are ignored.
    EXPECT_EQ(image.LoadImage(" \t" + path + "\r\n", c.kind, log), c.expectedResult);

    ASSERT_EQ(image.Length(), c.expectedLength);
    EXPECT_EQ(image.Bytes().left(c.size), content);
    EXPECT_EQ(image.Bytes().mid(c.size), QByteArray(c.expectedLength - c.size, '\x1A'));
    const QString line = c.accepted ? "-> LOADING FIRMWARE FILE: fw.bin  [OK]"
                                    : "-> LOADING FIRMWARE FILE: fw.bin  [ERROR: Wrong filesize]";
    EXPECT_EQ(log.lines, QStringList{line});
}

INSTANTIATE_TEST_SUITE_P(Sizes, LoadImageTest,
                         ::testing::Values(LoadCase{"OsImage", 491516, 0, 491520, 491520, true},
                                           LoadCase{"ExtImage", 98304, 1, 98304, 98304, true},
                                           LoadCase{"ExtSizeAsOs", 98304, 0, 0, 98304, false},
                                           LoadCase{"OsSizeAsExt", 491516, 1, 0, 491520, false},
                                           LoadCase{"WholeBlocksNeverPadded", 491520, 0, 0, 491520,
                                                    false},
                                           LoadCase{"OneByte", 1, 0, 0, 1024, false},
                                           LoadCase{"UnknownKind", 98304, 2, 0, 98304, false}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(LoadImage, LastOsBlockHoldsTheFileTailAndFourPaddingBytes) {
    QTemporaryDir dir;
    const QByteArray content = Pattern(491516);
    FakeLog log;
    TFirmwareImage image;
    ASSERT_EQ(image.LoadImage(WriteFile(dir, "os.bin", content), 0, log), 491520);
    ASSERT_EQ(image.BlockCount(), 480);

    std::vector<uint8_t> packet(1028, 0xEE);
    image.BuildBlock(479, packet.data());
    EXPECT_EQ(packet[0], 0);
    EXPECT_EQ(packet[1], 0);
    EXPECT_EQ(packet[2], 0);
    const QByteArray data(reinterpret_cast<const char*>(packet.data()) + 3, 1024);
    EXPECT_EQ(data, content.right(1020) + QByteArray(4, '\x1A'));

    unsigned sum = 0;
    for (char b : content.right(1020))
        sum += static_cast<uint8_t>(b);
    EXPECT_EQ(packet[1027], static_cast<uint8_t>(sum + 4 * 0x1A));
}

TEST(LoadImage, MissingFileRaisesAnIoError) {
    QTemporaryDir dir;
    FakeLog log;
    TFirmwareImage image;
    EXPECT_THROW(image.LoadImage(dir.filePath("gone.bin"), 0, log), EInOutError);
    EXPECT_TRUE(log.lines.isEmpty());
}

struct ChecksumCase {
    const char* label;
    QByteArray block;
    uint8_t expected;
};

class ChecksumTest : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(ChecksumTest, SumsTheDataBytesModulo256) {
    const ChecksumCase& c = GetParam();
    QTemporaryDir dir;
    FakeLog log;
    TFirmwareImage image;
    // Two blocks: the checksum of block 1 must not see block 0.
    image.LoadImage(WriteFile(dir, "b.bin", QByteArray(1024, '\x55') + c.block), 1, log);
    EXPECT_EQ(image.BlockChecksum(1024, 2047), c.expected);

    std::vector<uint8_t> packet(1028);
    image.BuildBlock(1, packet.data());
    EXPECT_EQ(packet[1027], c.expected);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(packet.data()) + 3, 1024), c.block);
}

QByteArray OneFF() {
    QByteArray b(1024, '\0');
    b[517] = '\xFF';
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ChecksumTest,
    ::testing::Values(ChecksumCase{"AllZeroButOneFF", OneFF(), 0xFF},
                      ChecksumCase{"AllOnes", QByteArray(1024, '\x01'), 0x00},
                      ChecksumCase{"AllFF", QByteArray(1024, '\xFF'), 0x00},
                      ChecksumCase{"AllPadding", QByteArray(1024, '\x1A'), 0x00},
                      ChecksumCase{"Ramp",
                                   [] {
                                       QByteArray b(1024, 0);
                                       for (int i = 0; i < 1024; ++i)
                                           b[i] = char(i & 0xFF);
                                       return b;
                                   }(),
                                   0x00},
                      ChecksumCase{"Three", QByteArray(3, '\x80') + QByteArray(1021, '\0'), 0x80}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(BuildBlock, RefusesABlockOutsideTheImage) {
    QTemporaryDir dir;
    FakeLog log;
    TFirmwareImage image;
    image.LoadImage(WriteFile(dir, "e.bin", Pattern(98304)), 1, log);
    std::vector<uint8_t> packet(1028);
    EXPECT_THROW(image.BuildBlock(96, packet.data()), EQlmError);
    EXPECT_NO_THROW(image.BuildBlock(95, packet.data()));
}

struct ClassifyCase {
    const char* label;
    std::vector<std::pair<const char*, int>> files;
    bool expected;
    std::vector<std::pair<const char*, int>> tags; // kept entries, in name order
};

class ClassifyImagesTest : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyImagesTest, KeepsTheListOnlyWithOneImageOfEachClass) {
    const ClassifyCase& c = GetParam();
    QTemporaryDir dir;
    for (const auto& [name, size] : c.files)
        WriteFile(dir, name, QByteArray(size, 'x'));
    TImageList list;
    list.ClassifyImages(dir.path()); // a stale earlier content must go
    EXPECT_EQ(list.ClassifyImages(dir.path()), c.expected);

    std::vector<std::pair<QString, int>> got;
    for (const auto& e : list.Entries())
        got.emplace_back(e.name, e.tag);
    std::vector<std::pair<QString, int>> want;
    for (const auto& [name, tag] : c.tags)
        want.emplace_back(QString::fromLatin1(name), tag);
    EXPECT_EQ(got, want);
    EXPECT_EQ(list.IsEmpty(), !c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ClassifyImagesTest,
    ::testing::Values(
        ClassifyCase{
            "OneOfEach", {{"a.bin", 491516}, {"b.bin", 98304}}, true, {{"a.bin", 1}, {"b.bin", 2}}},
        ClassifyCase{"ThirdFileStaysUntagged",
                     {{"ext.bin", 98304}, {"notes.bin", 4000}, {"os.bin", 491516}},
                     true,
                     {{"ext.bin", 2}, {"notes.bin", 0}, {"os.bin", 1}}},
        ClassifyCase{"OtherExtensionsIgnored",
                     {{"os.bin", 491516}, {"ext.img", 98304}, {"ext.bin", 98304}},
                     true,
                     {{"ext.bin", 2}, {"os.bin", 1}}},
        ClassifyCase{"TwoExternal", {{"a.bin", 98304}, {"b.bin", 98304}}, false, {}},
        ClassifyCase{
            "ThreeRecognised", {{"a.bin", 98304}, {"b.bin", 491516}, {"c.bin", 491516}}, false, {}},
        ClassifyCase{"OsOnly", {{"a.bin", 491516}}, false, {}},
        ClassifyCase{"PaddedOsSizeIsNotOs", {{"a.bin", 491520}, {"b.bin", 98304}}, false, {}},
        ClassifyCase{"Empty", {}, false, {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ClassifyImages, NameOfTagFindsEachClass) {
    QTemporaryDir dir;
    WriteFile(dir, "QLM_OS.bin", QByteArray(491516, 'o'));
    WriteFile(dir, "QLM_EXT.bin", QByteArray(98304, 'e'));
    TImageList list;
    ASSERT_TRUE(list.ClassifyImages(dir.path()));
    EXPECT_EQ(list.NameOfTag(1), "QLM_OS.bin");
    EXPECT_EQ(list.NameOfTag(2), "QLM_EXT.bin");
    EXPECT_EQ(list.NameOfTag(0), "");
}

} // namespace
