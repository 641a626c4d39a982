#include "app/FileUtils.h"
#include "app/WinApi_win.h"

#include <QDir>

#include <windows.h>

QChar PathSeparator() {
    return QLatin1Char('\\');
}

bool IsLinkEntry(const QString& path) {
    // By the attributes: a junction is no symbolic link to Qt, yet leads elsewhere all the same.
    const DWORD attributes = GetFileAttributesW(Wide(ExtendedPath(path)));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool RemoveFileEntry(const QString& path) {
    const QString native = ExtendedPath(path);
    const DWORD attributes = GetFileAttributesW(Wide(native));
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    // A link or junction to a folder goes with RemoveDirectory, which never follows it.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return RemoveDirectoryW(Wide(native)) != 0;
    // A read-only file is deleted all the same, as on Unix.
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(Wide(native), attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(Wide(native)) != 0;
}

bool RemoveEmptyFolder(const QString& path) {
    return RemoveDirectoryW(Wide(ExtendedPath(path))) != 0;
}

QString SystemTempPath() {
    // The user's own temporary folder (TMP, TEMP or the profile's), ending in a backslash.
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return AddBackslash(QDir::toNativeSeparators(QDir::tempPath()));
    return AddBackslash(QString::fromWCharArray(buffer, static_cast<qsizetype>(length)));
}
