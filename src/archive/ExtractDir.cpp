#include "archive/ExtractDir.h"

#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TExtractDir::~TExtractDir() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool TExtractDir::Open(const QString& path) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_fd >= 0;
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
