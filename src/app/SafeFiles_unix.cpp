#include "app/SafeFiles.h"

#include "app/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool IsPrivateFolder(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

QString PreparePrivateFolder(const QString& parent, const QString& name) {
    const QString path = AddBackslash(parent) + name;
    const QByteArray encoded = QFile::encodeName(path);
    if (!QFileInfo::exists(parent))
        QDir().mkpath(parent); // the parents are ordinary folders; only ours must be private
    if (::mkdir(encoded.constData(), 0700) == 0 || (errno == EEXIST && IsPrivateFolder(path)))
        return path;
    // Someone else's folder, a link or a file is in the way: never write into it.
    QByteArray fresh = encoded + "-XXXXXX";
    if (::mkdtemp(fresh.data()))
        return QFile::decodeName(fresh);
    return path;
}

int OpenForWritingNoFollow(const QString& path) {
    return ::open(QFile::encodeName(path).constData(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
}
