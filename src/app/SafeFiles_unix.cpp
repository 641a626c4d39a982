#include "app/SafeFiles.h"

#include "app/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

bool IsPrivateFolder(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

QString PreparePrivateFolder(const QString& parent, const QString& name) {
    if (parent.isEmpty())
        return {}; // no folder to make it in (not the current one)
    const QString path = AddBackslash(parent) + name;
    const QByteArray encoded = QFile::encodeName(path);
    if (!QFileInfo::exists(parent))
        QDir().mkpath(parent); // the parents are ordinary folders; only ours must be private
    if (::mkdir(encoded.constData(), 0700) == 0 || (errno == EEXIST && IsPrivateFolder(path)))
        return path;
    // Someone else's folder, a link or a file is in the way: never write into it.
    return MakeFreshPrivateFolder(parent, name);
}

QString MakeFreshPrivateFolder(const QString& parent, const QString& name) {
    if (parent.isEmpty())
        return {};
    QByteArray fresh = QFile::encodeName(AddBackslash(parent) + name) + "-XXXXXX";
    if (::mkdtemp(fresh.data()))
        return QFile::decodeName(fresh);
    return {};
}

QString LinkToRawName(const QString& folder, const QString& name, const QByteArray& target) {
    if (folder.isEmpty() || name.isEmpty() || name.contains(QLatin1Char('/')))
        return {};
    // Absolute, as the link lives elsewhere; a missing file is reported by its shown name.
    char* resolved = ::realpath(target.constData(), nullptr);
    if (!resolved)
        return {};
    const QByteArray real(resolved);
    std::free(resolved);
    const QString link = AddBackslash(folder) + name;
    if (::symlink(real.constData(), QFile::encodeName(link).constData()) != 0)
        return {};
    return link;
}

int OpenForWritingNoFollow(const QString& path) {
    return ::open(QFile::encodeName(path).constData(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
}

int OpenRegularFileForReading(const QString& path) {
    // Non-blocking, so a pipe in the file's place cannot hold the open up.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool FolderLock::Acquire(const QString& path) {
    Release();
    const QByteArray encoded = QFile::encodeName(path);
    const int fd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    // The folder must still stand under its name once held: a holder may have removed it
    // between our open and our lock.
    struct stat held {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &held) != 0 ||
        ::lstat(encoded.constData(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    path_ = path;
    return true;
}

bool FolderLock::RemoveFolder() {
    if (!Held())
        return false;
    // Removed while still held, so nobody can take it in between.
    const bool removed = ::rmdir(QFile::encodeName(path_).constData()) == 0;
    Release();
    return removed;
}

void FolderLock::Release() {
    if (!Held())
        return;
    ::close(static_cast<int>(handle_));
    handle_ = Invalid;
    path_.clear();
}
