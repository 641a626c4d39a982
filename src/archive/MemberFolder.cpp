#include "archive/MemberFolder.h"

namespace MemberFolder {

QString Base(const QString& finalPath, const QString& openedPath) {
    return finalPath.isEmpty() ? openedPath : finalPath;
}

QString Join(const QString& base, const QString& name) {
    if (base.endsWith(QLatin1Char('\\')))
        return base + name;
    return base + QLatin1Char('\\') + name;
}

bool LiesIn(const QString& filePath, const QString& folderPath, const QString& name) {
    if (filePath.isEmpty() || folderPath.isEmpty() || name.isEmpty())
        return false;
    return filePath.compare(Join(folderPath, name), Qt::CaseInsensitive) == 0;
}

bool LiesIn(const Place& file, const Place& folder, const QString& name) {
    if (!file.device.isEmpty() && !folder.device.isEmpty())
        return LiesIn(file.device, folder.device, name);
    return LiesIn(file.inVolume, folder.inVolume, name);
}

} // namespace MemberFolder
