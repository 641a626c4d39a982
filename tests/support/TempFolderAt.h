#pragma once

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QString>

// Points the user's temporary folder, as each platform finds it, at path for one scope.
class TempFolderAt {
public:
    explicit TempFolderAt(const QString& path) {
        for (const char* name : Names)
            saved_ << qgetenv(name);
        for (const char* name : Names)
            qputenv(name, QDir::toNativeSeparators(path).toLocal8Bit());
    }
    ~TempFolderAt() {
        for (int i = 0; i < 3; ++i)
            qputenv(Names[i], saved_[i]);
    }
    TempFolderAt(const TempFolderAt&) = delete;
    TempFolderAt& operator=(const TempFolderAt&) = delete;

private:
    static constexpr const char* Names[] = {"TMPDIR", "TMP", "TEMP"};
    QList<QByteArray> saved_;
};
