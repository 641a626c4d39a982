#include "app/OutputFile.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
// What a reader of the folder sees at each step: nothing partial survives a writer that
// did not commit, however it ended.
TEST(OutputFile, OnlyACommittedFileStays) {
    QTemporaryDir dir;
    const QString kept = dir.filePath(QStringLiteral("kept.bin"));
    {
        OutputFile file(kept, 8);
        ASSERT_TRUE(file.Open());
        EXPECT_TRUE(file.Write("12345", 5));
        EXPECT_EQ(file.Written(), 0); // gathered, not yet written
        EXPECT_TRUE(file.Write(QByteArray("6789")));
        EXPECT_EQ(file.Written(), 9); // the full buffer went out whole
        EXPECT_TRUE(file.Write("ab", 2));
        EXPECT_TRUE(file.Commit());
        EXPECT_EQ(file.Written(), 11);
    }
    EXPECT_EQ(ReadFile(kept), "123456789ab");

    const struct {
        const char* name;
        bool discard;
    } ends[] = {{"dropped", false}, {"discarded", true}};
    for (const auto& end : ends) {
        const QString path = dir.filePath(QString::fromLatin1(end.name));
        WriteFile(path, "an older whole file");
        {
            OutputFile file(path, 4);
            ASSERT_TRUE(file.Open());
            EXPECT_TRUE(file.Write("partial", 7));
            if (end.discard)
                file.Discard();
        }
        EXPECT_FALSE(QFile::exists(path)) << end.name;
    }

    // A file that could not be opened is not the writer's to remove.
    OutputFile nowhere(dir.filePath(QStringLiteral("no/such/folder/x.bin")));
    EXPECT_FALSE(nowhere.Open());
    EXPECT_FALSE(nowhere.Write("x", 1));
    EXPECT_FALSE(nowhere.Commit());
}
} // namespace
