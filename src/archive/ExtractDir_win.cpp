#include "archive/ExtractDir.h"

#include "app/WinApi_win.h"
#include "archive/MemberFolder.h"

#include <QDir>

#include <QRandomGenerator>

#include <cerrno>
#include <io.h>
#include <vector>

#include <windows.h>

// The folder is held open while members are made, without sharing deletion, so it cannot be
// renamed or replaced meanwhile; each member is made by its plain name in the folder the
// handle leads to, never through a reparse point, and checked to have landed there. Paths
// are given in their long form, so that no folder is too deep.
namespace {

HANDLE Native(int handle) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

// The real path of a handle as the system resolves it: with a drive letter ("\\?\C:\...",
// which volumes the mount manager does not know have none), or in the device form that every
// volume has ("\Device\HarddiskVolume2\..."). Empty when the system gives none.
QString FinalPath(HANDLE handle, DWORD volumeForm) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length =
        GetFinalPathNameByHandleW(handle, buffer.data(), 32768, FILE_NAME_NORMALIZED | volumeForm);
    if (length == 0 || length >= 32768)
        return {};
    return QString::fromWCharArray(buffer.data(), static_cast<qsizetype>(length));
}

// The path of a handle within its volume, after the volume's serial number
// ("5a000000\Temp\QLMUpdate"): known on every volume, and where the system's final path is
// too long for it. Empty when the system gives none.
QString VolumePath(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    std::vector<char> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
    auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!GetFileInformationByHandle(handle, &info) ||
        !GetFileInformationByHandleEx(handle, FileNameInfo, name,
                                      static_cast<DWORD>(buffer.size())))
        return {};
    return QString::number(info.dwVolumeSerialNumber, 16) +
           QString::fromWCharArray(name->FileName,
                                   static_cast<qsizetype>(name->FileNameLength / sizeof(wchar_t)));
}

MemberFolder::Place PlaceOf(HANDLE handle) {
    return {FinalPath(handle, VOLUME_NAME_NT), VolumePath(handle)};
}

// Where members of the folder at handle are made; opened is the path it was opened by.
QString MemberBase(HANDLE folder, const QString& opened) {
    return MemberFolder::Base(FinalPath(folder, VOLUME_NAME_DOS), opened);
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
    m_path = ExtendedPath(path);
    HANDLE folder = CreateFileW(Wide(m_path), FILE_LIST_DIRECTORY,
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
    const QString folder = MemberBase(Native(m_fd), m_path);
    return !folder.isEmpty() &&
           GetFileAttributesW(Wide(MemberFolder::Join(folder, name))) != INVALID_FILE_ATTRIBUTES;
}

int TExtractDir::CreateNew(const QString& name) const {
    const QString folder = MemberBase(Native(m_fd), m_path);
    if (m_fd == -1 || folder.isEmpty() || !PlainWindowsName(name)) {
        errno = EINVAL;
        return -1;
    }
    HANDLE file =
        CreateFileW(Wide(MemberFolder::Join(folder, name)), GENERIC_WRITE | DELETE, 0, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
        return -1;
    }
    // The new file must sit in this very folder.
    if (!MemberFolder::LiesIn(PlaceOf(file), PlaceOf(Native(m_fd)), name)) {
        FILE_DISPOSITION_INFO remove{TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove);
        CloseHandle(file);
        errno = EACCES;
        return -1;
    }
    return WritingDescriptor(file);
}

void TExtractDir::Remove(const QString& name) const {
    const QString folder = MemberBase(Native(m_fd), m_path);
    if (m_fd != -1 && !folder.isEmpty() && PlainWindowsName(name))
        DeleteFileW(Wide(MemberFolder::Join(folder, name)));
}

void TExtractDir::Discard(int fd, const QString& name) const {
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (file != INVALID_HANDLE_VALUE) {
        FILE_END_OF_FILE_INFO empty{};
        SetFileInformationByHandle(file, FileEndOfFileInfo, &empty, sizeof empty);
        // A read-only mark would refuse the deletion; the handle may clear it.
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
        FILE_DISPOSITION_INFO remove{TRUE};
        if (SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove))
            return; // gone with the last handle, which is ours
    }
    Remove(name);
}

int TExtractDir::ProbeWritable(const QString& path) {
    // Made by hand rather than with GetTempFileNameW, which takes no folder deeper than
    // about 250 characters.
    const QString folder = ExtendedPath(path);
    if (folder.isEmpty())
        return ERROR_PATH_NOT_FOUND;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
        const QString probe =
            MemberFolder::Join(folder, QStringLiteral("tmp%1.tmp")
                                           .arg(QRandomGenerator::system()->bounded(0x10000), 4, 16,
                                                QLatin1Char('0')));
        HANDLE file = CreateFileW(Wide(probe), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return 0;
        }
        error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS)
            error = ERROR_FILE_EXISTS;
    }
    return static_cast<int>(error);
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

bool TExtractDir::WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        // The C runtime's write takes at most an unsigned int at a time.
        const unsigned piece = length > 0x40000000u ? 0x40000000u : unsigned(length);
        const int n = _write(fd, data, piece);
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

bool TExtractDir::Close(int fd) {
    return _close(fd) == 0;
}
