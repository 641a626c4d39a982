#include "app/FileUtils.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

QChar PathSeparator() {
    return QLatin1Char('/');
}

bool IsLinkEntry(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool RemoveFileEntry(const QString& path) {
    // unlink removes a link itself, never what it points to.
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

bool RemoveEmptyFolder(const QString& path) {
    return ::rmdir(QFile::encodeName(path).constData()) == 0;
}

QString SystemTempPath() {
    // /tmp is shared by every user; a per-user folder is preferred when the session has one.
    for (const char* name : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            return AddBackslash(QFile::decodeName(value));
    }
    return QStringLiteral("/tmp/");
}
