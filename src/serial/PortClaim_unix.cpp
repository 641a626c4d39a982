#include "serial/PortClaim.h"

#include "serial/TComPort.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// /run/lock is every user's (sticky and world-writable on Debian), so instances of all
// users meet there; /tmp serves where it is missing or closed to us.
const char* const LockFolders[] = {"/run/lock", "/tmp"};
constexpr int OpenAttempts = 8;

// Opens the lock file, made by whichever user came first. An existing file is opened
// without O_CREAT, which the kernel refuses on another user's file in a sticky folder; a
// new one is made exclusively and opened up to everyone, whatever the umask. Never through
// a link, and only a regular file. -1 when it cannot be had.
int OpenLockFile(const QByteArray& path) {
    constexpr int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
        int fd = ::open(path.constData(), flags);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(path.constData(), flags | O_CREAT | O_EXCL, 0644);
            if (fd < 0 && errno == EEXIST)
                continue; // another instance made it meanwhile
            if (fd >= 0)
                ::fchmod(fd, 0644);
        }
        if (fd < 0)
            return -1;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    return -1;
}

} // namespace

QString PortClaim::DeviceOf(const QString& portName) {
    if (portName.isEmpty())
        return {};
    struct stat st {};
    const QByteArray path = QFile::encodeName(TCustomComPort::DevicePath(portName));
    if (::stat(path.constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return {};
    return QStringLiteral("%1-%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
}

PortClaim::Status PortClaim::Take(const QString& device, Handle& handle, uint32_t& osError) {
    for (const char* folder : LockFolders) {
        const QByteArray path =
            QByteArray(folder) + "/quillmoor-port-" + device.toLatin1() + ".lock";
        const int fd = OpenLockFile(path);
        if (fd < 0)
            continue;
        int locked;
        while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (locked == 0) {
            handle = fd;
            return Status::Claimed;
        }
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            osError = uint32_t(error);
            return Status::InUse;
        }
    }
    return Status::Unheld;
}

void PortClaim::Free(const QString& /*device*/, Handle handle) {
    // The file stays: removing it could part two instances, one locking the removed file
    // and one a new file of the same name.
    ::close(int(handle));
}
