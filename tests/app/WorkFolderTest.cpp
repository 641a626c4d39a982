// The work folder when no private folder can be made: no folder at all, never the plain path
// unverified, and never the current folder.
#include "app/WorkFolder.h"
#include "app/SafeFiles.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class NoFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(top.isValid());
        WriteFile(notAFolder, "a file");
        // A relative path would land here.
        saved = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(top.path()));
    }
    void TearDown() override {
        QDir::setCurrent(saved);
        EXPECT_EQ(
            QDir(top.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"tmp"});
        EXPECT_EQ(ReadFile(notAFolder), "a file");
    }

    QTemporaryDir top;
    const QString notAFolder = QDir::toNativeSeparators(top.filePath("tmp"));
    QString saved;
};

TEST_F(NoFolderTest, PreparePrivateFolderGivesNone) {
    EXPECT_EQ(PreparePrivateFolder(notAFolder, "QLMUpdate"), QString());
    EXPECT_EQ(MakeFreshPrivateFolder(notAFolder, "QLMUpdate"), QString());
    EXPECT_EQ(PreparePrivateFolder(QString(), "incoming"), QString());
    EXPECT_EQ(MakeFreshPrivateFolder(QString(), "incoming"), QString());
}

TEST_F(NoFolderTest, WorkFolderOpensNone) {
    WorkFolder work;
    EXPECT_EQ(work.Open(notAFolder, "QLMUpdate"), QString());
    EXPECT_EQ(work.Path(), QString());
    EXPECT_FALSE(work.Held());
    work.Remove(); // harmless
}

// Another instance holds the folder and no fresh one can be made beside it: the name leaves
// no room in a file name for the "-XXXXXX" of a fresh one, whoever runs the test.
TEST(HeldFolderTest, WithoutAFreshFolderGivesNoneAndLeavesTheHeldOneAlone) {
    QTemporaryDir parent;
    ASSERT_TRUE(parent.isValid());
    const QString name(250, QLatin1Char('Q'));
    const QString held = PreparePrivateFolder(parent.path(), name);
    ASSERT_EQ(QFileInfo(held).fileName(), name);
    const QString theirs = held + QStringLiteral("/QLM_OS.bin");
    WriteFile(theirs, "their image");
    ASSERT_EQ(MakeFreshPrivateFolder(parent.path(), name), QString());
    FolderLock other;
    ASSERT_TRUE(other.Acquire(held));

    WorkFolder work;
    EXPECT_EQ(work.Open(parent.path(), name), QString());
    EXPECT_EQ(work.Path(), QString());
    EXPECT_FALSE(work.Held());
    work.Remove();
    EXPECT_EQ(ReadFile(theirs), "their image");
    EXPECT_EQ(QDir(parent.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{name});

    // Once the other instance is gone, the folder is this one's, emptied of what it left.
    other.Release();
    EXPECT_EQ(work.Open(parent.path(), name), held);
    EXPECT_TRUE(work.Held());
    EXPECT_FALSE(QFileInfo::exists(theirs));
}

} // namespace
