#include "flashing/ImageList.h"

#include "app/FileUtils.h"
#include "flashing/FirmwareImage.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStringList>

namespace {
QByteArray Digest(const QByteArray& content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256);
}

// An unreadable file gets no digest, and so matches nothing.
QByteArray DigestOfFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return hash.addData(&file) ? hash.result() : QByteArray();
}
} // namespace

bool TImageList::ClassifyImages(const QString& folder) {
    entries_.clear();
    QStringList names;
    FindFiles(folder, QStringLiteral("*.bin"), names, false);

    int counted = 0;
    bool haveOS = false;
    bool haveExt = false;
    for (const QString& name : names) {
        Entry entry{name, 0};
        const int32_t size = FileSizeOf(AddBackslash(folder) + name);
        if (size == ImageClass::ExtSize) {
            entry.tag = ImageClass::TagExt;
            haveExt = true;
            ++counted;
        } else if (size == ImageClass::OSSize) {
            entry.tag = ImageClass::TagOS;
            haveOS = true;
            ++counted;
        }
        entries_.append(entry);
    }
    if (counted == 2 && haveOS && haveExt) {
        // What is listed now is what an update must write: a file changed afterwards is
        // refused, not flashed.
        for (Entry& entry : entries_)
            if (entry.tag != 0)
                entry.digest = DigestOfFile(AddBackslash(folder) + entry.name);
        return true;
    }
    entries_.clear();
    return false;
}

bool TImageList::Matches(int tag, const QByteArray& content) const {
    for (const Entry& entry : entries_)
        if (tag != 0 && entry.tag == tag)
            return !entry.digest.isEmpty() && entry.digest == Digest(content);
    return false;
}

QString TImageList::NameOfTag(int tag) const {
    for (const Entry& entry : entries_)
        if (tag != 0 && entry.tag == tag)
            return entry.name;
    return {};
}
