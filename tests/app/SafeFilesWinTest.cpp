// The Windows side of the private work folder, of writing without following links and of
// emptying the work folder.
#include "app/FileUtils.h"
#include "app/SafeFiles.h"
#include "app/WinApi_win.h"
#include "support/HostProcess.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>

#include <functional>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

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

// The mount-point form of REPARSE_DATA_BUFFER, which MinGW's headers leave to the driver kit.
struct MountPointReparseBuffer {
    ULONG ReparseTag;
    USHORT ReparseDataLength;
    USHORT Reserved;
    USHORT SubstituteNameOffset;
    USHORT SubstituteNameLength;
    USHORT PrintNameOffset;
    USHORT PrintNameLength;
    WCHAR PathBuffer[1024];
};

// A junction at link leading to the folder target. Wine makes none; there a link made by the
// host stands in, which Wine shows as a reparse point that Qt takes for no link, as it takes
// a junction.
bool MakeJunction(const QString& link, const QString& target) {
    if (CreateDirectoryW(Wide(link), nullptr)) {
        HANDLE handle =
            CreateFileW(Wide(link), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        const QString substitute = QStringLiteral("\\??\\") + target;
        MountPointReparseBuffer data{};
        const auto bytes = static_cast<USHORT>(substitute.size() * 2);
        data.ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
        data.SubstituteNameLength = bytes;
        data.PrintNameOffset = bytes + 2;
        data.ReparseDataLength = static_cast<USHORT>(8 + bytes + 2 + 2);
        memcpy(data.PathBuffer, substitute.utf16(), bytes);
        DWORD returned = 0;
        const bool made =
            handle != INVALID_HANDLE_VALUE &&
            DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &data, 8 + data.ReparseDataLength,
                            nullptr, 0, &returned, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        if (!made)
            RemoveDirectoryW(Wide(link));
    }
    if (GetFileAttributesW(Wide(link)) == INVALID_FILE_ATTRIBUTES)
        RunHostProgram("python3", {"-c", "import os, sys; os.symlink(sys.argv[1], sys.argv[2])",
                                   target, link});
    const DWORD attributes = GetFileAttributesW(Wide(link));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           GetFileAttributesW(Wide(link + "\\victim.txt")) != INVALID_FILE_ATTRIBUTES;
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

// A work folder that is a junction, or holds one, is emptied without a file of the junction's
// target lost: at the top as inside.
TEST(EmptyFolder, NeverEntersAJunction) {
    const std::vector<std::pair<const char*, std::function<void(const QString&)>>> emptiers = {
        {"EmptyFolder", EmptyFolder},
        {"DeleteFolder", DeleteFolder},
        {"EmptyFolderTree", EmptyFolderTree},
    };
    for (const auto& [name, empty] : emptiers) {
        SCOPED_TRACE(name);
        QTemporaryDir parent;
        const QString target = Native(parent, "target");
        ASSERT_TRUE(QDir().mkpath(target));
        WriteFile(target + "\\victim.txt", "precious");

        const QString top = Native(parent, "QLMUpdate");
        ASSERT_TRUE(MakeJunction(top, target));
        EXPECT_TRUE(IsLinkEntry(top));
        empty(top);
        EXPECT_EQ(ReadFile(target + "\\victim.txt"), "precious");

        const QString work = Native(parent, "work");
        ASSERT_TRUE(QDir().mkpath(work + "\\sub"));
        ASSERT_TRUE(MakeJunction(work + "\\sub\\link", target));
        ASSERT_TRUE(MakeJunction(work + "\\link", target));
        WriteFile(work + "\\stale.bin", "stale");
        empty(work);
        EXPECT_EQ(ReadFile(target + "\\victim.txt"), "precious");
        EXPECT_FALSE(QFileInfo::exists(work + "\\stale.bin"));
    }
}

// A temporary folder deeper than the old limit of about 260 characters: the work folder is
// made there, found private, held, emptied and removed.
TEST(PreparePrivateFolder, WorksBeyondTheOldPathLimit) {
    QTemporaryDir top;
    QString parent = Native(top);
    while (parent.size() < 300)
        parent += "\\" + QString(40, QLatin1Char('d'));
    ASSERT_TRUE(QDir().mkpath(parent));
    const QString work = PreparePrivateFolder(parent, "QLMUpdate");
    ASSERT_EQ(work, parent + "\\QLMUpdate");
    EXPECT_TRUE(IsPrivateFolder(work));
    FolderLock lock;
    ASSERT_TRUE(lock.Acquire(work));
    WriteFile(work + "\\QLM_OS.bin", "stale");
    EmptyFolderTree(work);
    EXPECT_TRUE(QDir(work).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_TRUE(lock.RemoveFolder());
    EXPECT_FALSE(QFileInfo::exists(work));
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
