#include "app/SafeFiles.h"
#include "app/FileUtils.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Sets environment variables for one scope and puts the old values back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name), old_(qgetenv(name)) {
        had_ = qEnvironmentVariableIsSet(name);
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    QByteArray old_;
    bool had_ = false;
};
} // namespace

TEST(SystemTempPath, PrefersTheUsersOwnFolders) {
    struct Case {
        const char* tmpdir;
        const char* runtime;
        QString expected;
    } cases[] = {
        {"/home/u/tmp", "/run/user/1000", "/home/u/tmp/"},
        {nullptr, "/run/user/1000", "/run/user/1000/"},
        {"", "/run/user/1000/", "/run/user/1000/"},
        {nullptr, nullptr, "/tmp/"},
    };
    for (const Case& c : cases) {
        ScopedEnv tmp("TMPDIR", c.tmpdir);
        ScopedEnv runtime("XDG_RUNTIME_DIR", c.runtime);
        EXPECT_EQ(SystemTempPath(), c.expected) << c.expected.toStdString();
    }
}

// Someone else got to the work directory's name first: the program must never use it.
TEST(PreparePrivateFolder, NeverUsesAFolderSomeoneElseCouldHavePlanted) {
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* what;
        std::function<void(const QString& parent, const QString& path)> plant;
        bool reused;
    } cases[] = {
        {"nothing there", [](const QString&, const QString&) {}, true},
        {"our own private folder",
         [](const QString&, const QString& path) { ASSERT_EQ(::mkdir(qPrintable(path), 0700), 0); },
         true},
        {"a folder others may enter",
         [](const QString&, const QString& path) {
             ASSERT_EQ(::mkdir(qPrintable(path), 0700), 0);
             ASSERT_EQ(::chmod(qPrintable(path), 0777), 0);
         },
         false},
        {"a link to a folder",
         [](const QString& parent, const QString& path) {
             ASSERT_EQ(::mkdir(qPrintable(parent + "/elsewhere"), 0700), 0);
             ASSERT_TRUE(QFile::link(parent + "/elsewhere", path));
         },
         false},
        {"a file", [](const QString&, const QString& path) { WriteFile(path, "x"); }, false},
        {"another user's folder",
         [root](const QString&, const QString& path) {
             ASSERT_EQ(::mkdir(qPrintable(path), 0700), 0);
             if (root) {
                 ASSERT_EQ(::chown(qPrintable(path), 65534, 65534), 0);
             }
         },
         !root},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir parent;
        const QString planted = parent.filePath("QLMUpdate");
        c.plant(parent.path(), planted);
        const QString work = PreparePrivateFolder(parent.path(), "QLMUpdate");
        EXPECT_EQ(work == planted, c.reused);
        if (!c.reused) {
            EXPECT_TRUE(work.startsWith(planted + "-")) << work.toStdString();
        }
        EXPECT_TRUE(IsPrivateFolder(work));
        struct stat st {};
        ASSERT_EQ(::lstat(qPrintable(work), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    if (!root) {
        GTEST_SKIP() << "another user's folder needs root to be made; checked as our own";
    }
}

TEST(PreparePrivateFolder, MakesMissingParents) {
    QTemporaryDir top;
    const QString work = PreparePrivateFolder(top.filePath("a/b"), "QLMUpdate");
    EXPECT_EQ(work, top.filePath("a/b/QLMUpdate"));
    EXPECT_TRUE(IsPrivateFolder(work));
}

TEST(OpenForWritingNoFollow, TruncatesAFileButNeverWritesThroughALink) {
    QTemporaryDir dir;
    const QString victim = dir.filePath("victim.txt");
    WriteFile(victim, "precious");
    ASSERT_TRUE(QFile::link(victim, dir.filePath("QLMUpdate.zip")));
    errno = 0;
    EXPECT_EQ(OpenForWritingNoFollow(dir.filePath("QLMUpdate.zip")), -1);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(ReadFile(victim), "precious");

    const QString plain = dir.filePath("plain.bin");
    WriteFile(plain, "old contents");
    const int fd = OpenForWritingNoFollow(plain);
    ASSERT_GE(fd, 0);
    QFile file;
    ASSERT_TRUE(file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    file.write("new");
    file.close();
    EXPECT_EQ(ReadFile(plain), "new");
}

TEST(EmptyFolder, DeletesFilesAndLinksButKeepsTheFolder) {
    QTemporaryDir parent;
    const QString work = parent.filePath("QLMUpdate");
    ASSERT_TRUE(QDir().mkpath(work + "/sub"));
    WriteFile(work + "/QLM_OS.bin", "stale");
    WriteFile(parent.filePath("outside.txt"), "keep");
    ASSERT_TRUE(QFile::link(parent.filePath("outside.txt"), work + "/link"));
    EmptyFolder(work);
    EXPECT_EQ(
        QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList{"sub"});
    EXPECT_EQ(ReadFile(parent.filePath("outside.txt")), "keep");
}

// One holder at a time; a link to the folder is not the folder; removal happens while held.
TEST(FolderLock, OneHolderAtATime) {
    QTemporaryDir parent;
    const QString folder = parent.filePath("QLMUpdate");
    ASSERT_TRUE(QDir().mkdir(folder));
    FolderLock first;
    FolderLock second;
    ASSERT_TRUE(first.Acquire(folder));
    EXPECT_FALSE(second.Acquire(folder));
    first.Release();
    ASSERT_TRUE(second.Acquire(folder));
    ASSERT_TRUE(QFile::link(folder, parent.filePath("link")));
    FolderLock viaLink;
    EXPECT_FALSE(viaLink.Acquire(parent.filePath("link")));
    EXPECT_TRUE(second.RemoveFolder());
    EXPECT_FALSE(second.Held());
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_FALSE(first.Acquire(folder));
}

TEST(EmptyFolderTree, DeletesSubFoldersButNothingALinkLeadsTo) {
    QTemporaryDir parent;
    const QString work = parent.filePath("QLMUpdate");
    ASSERT_TRUE(QDir().mkpath(work + "/incoming/deeper"));
    WriteFile(work + "/incoming/deeper/QLM_OS.bin", "stale");
    WriteFile(work + "/QLM_EXT.bin", "stale");
    ASSERT_TRUE(QDir().mkpath(parent.filePath("outside")));
    WriteFile(parent.filePath("outside/keep.txt"), "keep");
    ASSERT_TRUE(QFile::link(parent.filePath("outside"), work + "/incoming/link"));
    EmptyFolderTree(work);
    EXPECT_TRUE(
        QDir(work).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    EXPECT_EQ(ReadFile(parent.filePath("outside/keep.txt")), "keep");
}
