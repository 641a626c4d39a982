#pragma once

// Bridges between Qt's types and the Windows API, shared by the Windows backends.
#include <QDir>
#include <QFileInfo>
#include <QString>

#include <fcntl.h>
#include <io.h>

#include <windows.h>

// The text as the wide string the API's ...W functions take; valid while the string lives.
inline const wchar_t* Wide(const QString& text) {
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

// The path in the form that the API takes at any length: absolute, cleaned, with backslashes,
// as "\\?\C:\..." or "\\?\UNC\server\...". Plain paths fail beyond about 260 characters
// in functions such as CreateDirectoryW, whatever the manifest says, unless the machine's
// policy allows long paths. Empty for an empty path.
inline QString ExtendedPath(const QString& path) {
    const QString prefix = QStringLiteral("\\\\?\\");
    const QString native = QDir::toNativeSeparators(path);
    if (path.isEmpty() || native.startsWith(prefix))
        return native;
    const QString absolute =
        QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (absolute.startsWith(QLatin1String("\\\\")))
        return prefix + QStringLiteral("UNC\\") + absolute.mid(2);
    return prefix + absolute;
}

// A descriptor for binary writing that owns the file's handle; -1, with the handle closed,
// when the runtime has none left.
inline int WritingDescriptor(HANDLE file) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(file);
    return fd;
}

// A descriptor for binary reading that owns the file's handle; -1, with the handle closed,
// when the runtime has none left.
inline int ReadingDescriptor(HANDLE file) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(file);
    return fd;
}
