#include "archive/ExtractDir.h"

#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TExtractDir::~TExtractDir() {
    if (m_fd >= 0)
        ::close(m_fd);
}

int TExtractDir::Open(const QString& path) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_fd >= 0 ? 0 : errno;
}

bool TExtractDir::Exists(const QString& name) const {
    struct stat st;
    return ::fstatat(m_fd, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

int TExtractDir::CreateNew(const QString& name) const {
    return ::openat(m_fd, QFile::encodeName(name).constData(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

void TExtractDir::Remove(const QString& name) const {
    ::unlinkat(m_fd, QFile::encodeName(name).constData(), 0);
}

void TExtractDir::Discard(int fd, const QString& name) const {
    // Unix removes a name whoever holds the file; it is emptied first all the same.
    [[maybe_unused]] const int emptied = ::ftruncate(fd, 0);
    ::unlinkat(m_fd, QFile::encodeName(name).constData(), 0);
}

int TExtractDir::ProbeWritable(const QString& path) {
    QByteArray probe = QFile::encodeName(path + QStringLiteral("/tmpXXXXXX"));
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return errno;
    ::close(fd);
    ::unlink(probe.constData());
    return 0;
}

QString TExtractDir::ErrorText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

bool TExtractDir::WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

bool TExtractDir::Close(int fd) {
    return ::close(fd) == 0;
}
