#include "flashing/ImageList.h"

#include "app/FileUtils.h"
#include "flashing/FirmwareImage.h"

#include <QStringList>

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
    if (counted == 2 && haveOS && haveExt)
        return true;
    entries_.clear();
    return false;
}

QString TImageList::NameOfTag(int tag) const {
    for (const Entry& entry : entries_)
        if (tag != 0 && entry.tag == tag)
            return entry.name;
    return {};
}
