#pragma once

// Bridges between Qt's types and the Windows API, shared by the Windows backends.
#include <QString>

#include <fcntl.h>
#include <io.h>

#include <windows.h>

// The text as the wide string the API's ...W functions take; valid while the string lives.
inline const wchar_t* Wide(const QString& text) {
    return reinterpret_cast<const wchar_t*>(text.utf16());
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
