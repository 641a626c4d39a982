// The Windows side of the private work folder, of writing without following links and of
// emptying the work folder.
#include "app/FileUtils.h"
#include "app/SafeFiles.h"
#include "app/WinApi_win.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace {

QString Native(const QTemporaryDir& dir, const QString& name = {}) {
    return QDir::toNativeSeparators(name.isEmpty() ? dir.path() : dir.filePath(name));
}

// A folder whose access list lets everybody in, as another user could leave one.
bool MakeOpenFolder(const QString& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const bool made = CreateDirectoryW(Wide(path), &attributes) != 0;
    LocalFree(descriptor);
    return made;
}

} // namespace

TEST(SystemTempPath, IsTheUsersTemporaryFolderWithABackslash) {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(SystemTempPath(), QString::fromWCharArray(buffer, length));
    EXPECT_TRUE(SystemTempPath().endsWith('\\'));
    EXPECT_EQ(AddBackslash("C:\\Temp"), "C:\\Temp\\");
    EXPECT_EQ(AddBackslash("C:\\Temp\\"), "C:\\Temp\\");
}

TEST(PreparePrivateFolder, MakesAFolderOnlyTheUserMayEnterAndUsesItAgain) {
    QTemporaryDir parent;
    const QString work = PreparePrivateFolder(Native(parent), "QLMUpdate");
    EXPECT_EQ(work, Native(parent, "QLMUpdate"));
    EXPECT_TRUE(IsPrivateFolder(work));
    EXPECT_EQ(PreparePrivateFolder(Native(parent), "QLMUpdate"), work);
}

TEST(PreparePrivateFolder, NeverUsesAFolderSomeoneElseCouldHavePlanted) {
    QTemporaryDir parent;
    const QString planted = Native(parent, "QLMUpdate");
    ASSERT_TRUE(MakeOpenFolder(planted));
    EXPECT_FALSE(IsPrivateFolder(planted));
    const QString work = PreparePrivateFolder(Native(parent), "QLMUpdate");
    EXPECT_TRUE(work.startsWith(planted + "-")) << work.toStdString();
    EXPECT_EQ(work.size(), planted.size() + 7);
    EXPECT_TRUE(IsPrivateFolder(work));

    // A file in the folder's place is no folder at all.
    QTemporaryDir other;
    WriteFile(Native(other, "QLMUpdate"), "x");
    EXPECT_NE(PreparePrivateFolder(Native(other), "QLMUpdate"), Native(other, "QLMUpdate"));
}

TEST(PreparePrivateFolder, MakesMissingParents) {
    QTemporaryDir top;
    const QString work = PreparePrivateFolder(Native(top, "a\\b"), "QLMUpdate");
    EXPECT_EQ(work, Native(top, "a\\b\\QLMUpdate"));
    EXPECT_TRUE(IsPrivateFolder(work));
}

TEST(OpenForWritingNoFollow, TruncatesAFileButNeverWritesThroughALink) {
    QTemporaryDir dir;
    const QString victim = Native(dir, "victim.txt");
    WriteFile(victim, "precious");
    const QString link = Native(dir, "QLMUpdate.zip");
    // Wine reports success without making a link.
    if (!CreateSymbolicLinkW(Wide(link), Wide(victim), 0) ||
        !(GetFileAttributesW(Wide(link)) & FILE_ATTRIBUTE_REPARSE_POINT) ||
        GetFileAttributesW(Wide(link)) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no symbolic links here";
    errno = 0;
    EXPECT_EQ(OpenForWritingNoFollow(link), -1);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(ReadFile(victim), "precious");

    const QString plain = Native(dir, "plain.bin");
    WriteFile(plain, "old contents");
    const int fd = OpenForWritingNoFollow(plain);
    ASSERT_GE(fd, 0);
    QFile file;
    ASSERT_TRUE(file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    file.write("new\n");
    file.close();
    EXPECT_EQ(ReadFile(plain), "new\n"); // binary: no carriage return slipped in
}

TEST(EmptyFolder, DeletesFilesReadOnlyOnesTooButKeepsSubFolders) {
    QTemporaryDir parent;
    const QString work = Native(parent, "QLMUpdate");
    ASSERT_TRUE(QDir().mkpath(work + "\\sub"));
    WriteFile(work + "\\QLM_OS.bin", "stale");
    WriteFile(work + "\\locked.bin", "r");
    SetFileAttributesW(Wide(work + "\\locked.bin"), FILE_ATTRIBUTE_READONLY);
    EmptyFolder(work);
    EXPECT_EQ(
        QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList{"sub"});
    DeleteFolder(work);
    EXPECT_TRUE(QFileInfo(work).isDir()); // the sub-folder keeps it
}

// One holder at a time, and removal happens while held.
TEST(FolderLock, OneHolderAtATime) {
    QTemporaryDir parent;
    const QString folder = Native(parent, "QLMUpdate");
    ASSERT_TRUE(QDir().mkdir(folder));
    WriteFile(folder + "\\QLM_OS.bin", "image");
    FolderLock first;
    FolderLock second;
    ASSERT_TRUE(first.Acquire(folder));
    EXPECT_FALSE(second.Acquire(folder));
    // The holder still lists and changes what the folder holds.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"QLM_OS.bin"});
    EXPECT_TRUE(RemoveFileEntry(folder + "\\QLM_OS.bin"));
    first.Release();
    ASSERT_TRUE(second.Acquire(folder));
    EXPECT_TRUE(second.RemoveFolder());
    EXPECT_FALSE(second.Held());
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_FALSE(first.Acquire(folder));
}
