#include "app/SafeFiles.h"

#include "app/FileUtils.h"
#include "app/WinApi_win.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <memory>
#include <vector>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace {

// The current user's SID, from the process token.
std::vector<BYTE> UserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    std::vector<BYTE> sid;
    if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        const DWORD length = GetLengthSid(user);
        sid.assign(static_cast<BYTE*>(user), static_cast<BYTE*>(user) + length);
    }
    CloseHandle(token);
    return sid;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    return IsWellKnownSid(sid, type) != 0;
}

// Makes a folder that only the user may enter: its owner, full control, nothing inherited.
// Gives 0, or the system's error code.
DWORD MakePrivateFolder(const QString& path) {
    const std::vector<BYTE> user = UserSid();
    LPWSTR userText = nullptr;
    if (user.empty() || !ConvertSidToStringSidW(const_cast<BYTE*>(user.data()), &userText))
        return ERROR_INVALID_SID;
    const QString sddl =
        QStringLiteral("O:%1D:P(A;OICI;FA;;;%1)").arg(QString::fromWCharArray(userText));
    LocalFree(userText);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(sddl), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return GetLastError();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const DWORD error =
        CreateDirectoryW(Wide(ExtendedPath(path)), &attributes) ? 0 : GetLastError();
    LocalFree(descriptor);
    return error;
}

} // namespace

// Private on Windows: a real folder (no junction or other reparse point) that the user owns
// and whose access list lets in nobody but the user and the system's own accounts.
bool IsPrivateFolder(const QString& path) {
    const QString native = ExtendedPath(path);
    const DWORD attributes = GetFileAttributesW(Wide(native));
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    const std::vector<BYTE> user = UserSid();
    PSID owner = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (user.empty() ||
        GetNamedSecurityInfoW(Wide(native), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool ok = owner && EqualSid(owner, const_cast<BYTE*>(user.data())) && acl;
    for (DWORD i = 0; ok && i < acl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&header)) ||
            header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue; // denials only narrow it
        PSID sid = &reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart;
        ok = EqualSid(sid, const_cast<BYTE*>(user.data())) || IsWellKnown(sid, WinLocalSystemSid) ||
             IsWellKnown(sid, WinBuiltinAdministratorsSid) || IsWellKnown(sid, WinCreatorOwnerSid);
    }
    LocalFree(descriptor);
    return ok;
}

QString PreparePrivateFolder(const QString& parent, const QString& name) {
    if (parent.isEmpty())
        return {}; // no folder to make it in (not the current one)
    const QString path = AddBackslash(QDir::toNativeSeparators(parent)) + name;
    if (!QFileInfo::exists(parent))
        QDir().mkpath(parent); // the parents are ordinary folders; only ours must be private
    const DWORD error = MakePrivateFolder(path);
    if (error == 0 || (error == ERROR_ALREADY_EXISTS && IsPrivateFolder(path)))
        return path;
    // Someone else's folder, a junction or a file is in the way: never write into it.
    return MakeFreshPrivateFolder(parent, name);
}

QString MakeFreshPrivateFolder(const QString& parent, const QString& name) {
    if (parent.isEmpty())
        return {};
    const QString path = AddBackslash(QDir::toNativeSeparators(parent)) + name;
    static const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString fresh = path + QLatin1Char('-');
        for (int i = 0; i < 6; ++i)
            fresh += letters.at(QRandomGenerator::system()->bounded(letters.size()));
        const DWORD error = MakePrivateFolder(fresh);
        if (error == 0)
            return fresh;
        if (error != ERROR_ALREADY_EXISTS)
            break;
    }
    return {};
}

QString LinkToRawName(const QString&, const QString&, const QByteArray&) {
    return {}; // every name is text here
}

int OpenForWritingNoFollow(const QString& path) {
    // The last part is opened as itself, not as what a reparse point in its place leads to;
    // a reparse point found there is refused.
    HANDLE file =
        CreateFileW(Wide(ExtendedPath(path)), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        !SetEndOfFile(file)) {
        CloseHandle(file);
        errno = ELOOP;
        return -1;
    }
    return WritingDescriptor(file);
}

int OpenRegularFileForReading(const QString& path) {
    HANDLE file =
        CreateFileW(Wide(ExtendedPath(path)), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    // A disk file, not a pipe, a console or a device that the name leads to.
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(file);
        return -1;
    }
    return ReadingDescriptor(file);
}

// The hold is a handle on the folder that may add files to it and shares that right with
// nobody: another holder's open, which asks for the same, is refused. Listing the folder,
// working with the files in it and removing it ask for other rights, so they go on.
bool FolderLock::Acquire(const QString& path) {
    Release();
    HANDLE folder = CreateFileW(Wide(ExtendedPath(path)), FILE_ADD_FILE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(folder, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(folder);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(folder);
    path_ = path;
    return true;
}

bool FolderLock::RemoveFolder() {
    if (!Held())
        return false;
    // Removed while still held, so nobody can take it in between; it goes once the hold ends.
    const bool removed = RemoveDirectoryW(Wide(ExtendedPath(path_))) != 0;
    Release();
    return removed;
}

void FolderLock::Release() {
    if (!Held())
        return;
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = Invalid;
    path_.clear();
}
