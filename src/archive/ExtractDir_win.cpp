#include "archive/ExtractDir.h"

#include "app/WinApi_win.h"

#include <QDir>

#include <cerrno>

#include <windows.h>

// The folder is held open while members are made, without sharing deletion, so it cannot be
// renamed or replaced meanwhile; each member is made by its plain name in the folder the
// handle leads to, never through a reparse point, and checked to have landed there.
namespace {

HANDLE Native(int handle) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

// The folder's real path as the system resolves its handle ("\\?\C:\...").
QString FinalPath(HANDLE handle) {
    wchar_t buffer[32768];
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer, 32768, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 32768)
        return {};
    return QString::fromWCharArray(buffer, static_cast<qsizetype>(length));
}

// Names Windows gives a meaning of their own: devices (CON, NUL, COM1...), characters a file
// name cannot hold, and dots or spaces at the end, which the system drops.
bool PlainWindowsName(const QString& name) {
    if (name.isEmpty() || name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        return false;
    for (QChar c : name)
        if (c.unicode() < 32 || QStringLiteral("<>:\"/\\|?*").contains(c))
            return false;
    const QString stem = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList devices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (devices.contains(stem))
        return false;
    if (stem.size() == 4 &&
        (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT"))) &&
        stem.at(3).isDigit())
        return false;
    return true;
}

} // namespace

TExtractDir::~TExtractDir() {
    if (m_fd != -1)
        CloseHandle(Native(m_fd));
}

int TExtractDir::Open(const QString& path) {
    if (m_fd != -1)
        CloseHandle(Native(m_fd));
    m_fd = -1;
    HANDLE folder = CreateFileW(Wide(QDir::toNativeSeparators(path)), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return static_cast<int>(GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(folder, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(folder);
        return ERROR_DIRECTORY;
    }
    // Windows handles fit in 32 bits, by design, for 32-bit programs' sake.
    m_fd = static_cast<int>(reinterpret_cast<intptr_t>(folder));
    return 0;
}

bool TExtractDir::Exists(const QString& name) const {
    const QString folder = FinalPath(Native(m_fd));
    return !folder.isEmpty() &&
           GetFileAttributesW(Wide(folder + QLatin1Char('\\') + name)) != INVALID_FILE_ATTRIBUTES;
}

int TExtractDir::CreateNew(const QString& name) const {
    const QString folder = FinalPath(Native(m_fd));
    if (folder.isEmpty() || !PlainWindowsName(name)) {
        errno = EINVAL;
        return -1;
    }
    HANDLE file =
        CreateFileW(Wide(folder + QLatin1Char('\\') + name), GENERIC_WRITE | DELETE, 0, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
        return -1;
    }
    // The new file must sit in this very folder.
    const QString made = FinalPath(file);
    if (made.compare(folder + QLatin1Char('\\') + name, Qt::CaseInsensitive) != 0) {
        FILE_DISPOSITION_INFO remove{TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove);
        CloseHandle(file);
        errno = EACCES;
        return -1;
    }
    return WritingDescriptor(file);
}

void TExtractDir::Remove(const QString& name) const {
    const QString folder = FinalPath(Native(m_fd));
    if (!folder.isEmpty() && PlainWindowsName(name))
        DeleteFileW(Wide(folder + QLatin1Char('\\') + name));
}

int TExtractDir::ProbeWritable(const QString& path) {
    wchar_t probe[MAX_PATH + 1];
    if (!GetTempFileNameW(Wide(QDir::toNativeSeparators(path)), L"tmp", 0, probe))
        return static_cast<int>(GetLastError());
    DeleteFileW(probe);
    return 0;
}

QString TExtractDir::ErrorText(int code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length ? QString::fromWCharArray(text, length).trimmed()
                             : QStringLiteral("Error %1").arg(code);
    LocalFree(text);
    return message;
}
