#include "app/FileUtils.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(FileUtils, AddBackslash) {
    const QString sep = PathSeparator(); // '/' on Unix, '\\' on Windows
    EXPECT_EQ(AddBackslash(""), "");
    EXPECT_EQ(AddBackslash("tmp"), "tmp" + sep);
    EXPECT_EQ(AddBackslash("tmp" + sep), "tmp" + sep);
    // An empty folder keeps a following name relative.
    EXPECT_EQ(AddBackslash("") + "QLMUpdate.zip", "QLMUpdate.zip");
}

TEST(FileUtils, LeftText) {
    EXPECT_EQ(LeftText("$GPGGA,123", 6), "$GPGGA");
    EXPECT_EQ(LeftText("$GP", 6), "$GP");
    EXPECT_EQ(LeftText("", 6), "");
}

TEST(FileUtils, SplitTextPieces) {
    const QString longLine(300, QLatin1Char('v'));
    struct Case {
        QString text;
        bool result;
        QStringList pieces;
    } cases[] = {
        {"", false, {}},
        {"\n", true, {""}},
        {"x", true, {"x"}},
        {"a\nb", true, {"a", "b"}},
        {"a\nb\n", true, {"a", "b"}},
        {"a\n\nb", true, {"a", "", "b"}},
        {"QLM\r\n1.23\r\n", true, {"QLM\r", "1.23\r"}},
        {longLine + "\n", true, {longLine}},
    };
    for (const auto& c : cases) {
        QStringList list{"stale"};
        EXPECT_EQ(SplitText('\n', c.text, list), c.result) << c.text.toStdString();
        EXPECT_EQ(list, c.pieces) << c.text.toStdString();
    }
}

TEST(FileUtils, FileSizeOf) {
    QTemporaryDir dir;
    const QString file = dir.filePath("image.bin");
    WriteFile(file, QByteArray(98304, 'x'));
    EXPECT_EQ(FileSizeOf(file), 98304);
    EXPECT_EQ(FileSizeOf(dir.filePath("missing.bin")), -1);
    EXPECT_EQ(FileSizeOf(""), -1);
    // A folder is an entry too.
    EXPECT_GE(FileSizeOf(dir.path()), 0);
}

TEST(FileUtils, FileSizeOfKeepsLow32BitsSigned) {
    QTemporaryDir dir;
    const QString file = dir.filePath("sparse.bin");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize((qint64(1) << 32) + 5)); // sparse: takes no disk space
    }
    EXPECT_EQ(FileSizeOf(file), 5);
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.resize(qint64(0xFFFFFFFF)));
    }
    EXPECT_EQ(FileSizeOf(file), -1 /* 0xFFFFFFFF as signed */);
}

TEST(FileUtils, DeleteFolderEmptiesTopLevelAndRemovesEmptyFolder) {
    QTemporaryDir parent;
    const QString work = parent.filePath("QLMUpdate");
    ASSERT_TRUE(QDir().mkpath(work));
    WriteFile(work + "/a.bin", "a");
    WriteFile(work + "/.hidden", "h");
    DeleteFolder(work);
    EXPECT_FALSE(QFileInfo::exists(work));
}

TEST(FileUtils, DeleteFolderLeavesSubFolderAndTheFolder) {
    QTemporaryDir parent;
    const QString work = parent.filePath("QLMUpdate");
    ASSERT_TRUE(QDir().mkpath(work + "/sub"));
    WriteFile(work + "/a.bin", "a");
    WriteFile(work + "/sub/inner.bin", "i");
    DeleteFolder(work);
    EXPECT_FALSE(QFileInfo::exists(work + "/a.bin"));
    EXPECT_TRUE(QFileInfo::exists(work + "/sub/inner.bin"));
    EXPECT_TRUE(QFileInfo(work).isDir());
}

TEST(FileUtils, DeleteFolderRemovesLinksNotTheirTargets) {
    QTemporaryDir parent;
    const QString work = parent.filePath("QLMUpdate");
    const QString outside = parent.filePath("outside");
    ASSERT_TRUE(QDir().mkpath(work));
    ASSERT_TRUE(QDir().mkpath(outside));
    WriteFile(outside + "/keep.txt", "k");
    ASSERT_TRUE(QFile::link(outside, work + "/link"));
    DeleteFolder(work);
    EXPECT_FALSE(QFileInfo::exists(work));
    EXPECT_TRUE(QFileInfo::exists(outside + "/keep.txt"));
}

TEST(FileUtils, FindFilesListsFilesNotFolders) {
    QTemporaryDir dir;
    WriteFile(dir.filePath("os.bin"), "1");
    WriteFile(dir.filePath("EXT.BIN"), "2");
    WriteFile(dir.filePath("readme.txt"), "3");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.bin"));
    WriteFile(dir.filePath("folder.bin/deep.bin"), "4");

    QStringList list{"earlier"};
    EXPECT_EQ(FindFiles(dir.path(), "*.bin", list, false), 3);
    EXPECT_EQ(list, (QStringList{"earlier", "EXT.BIN", "os.bin"}));

    QStringList deep;
    EXPECT_EQ(FindFiles(dir.path(), "*.bin", deep, true), 3);
    // Full paths, joined with the platform's separator.
    const QString top = AddBackslash(dir.path());
    EXPECT_TRUE(deep.contains(top + "folder.bin" + PathSeparator() + "deep.bin"));
    EXPECT_TRUE(deep.contains(top + "os.bin"));
}

TEST(FileUtils, ListSubFoldersOrdersDirectChildrenBeforeSubtrees) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("a/a1")));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("b/b1")));
    QStringList list;
    ListSubFolders(dir.path(), list);
    const QString p = AddBackslash(dir.path());
    const QString sep = PathSeparator();
    EXPECT_EQ(list, (QStringList{p + "a", p + "b", p + "a" + sep + "a1", p + "b" + sep + "b1"}));
}
