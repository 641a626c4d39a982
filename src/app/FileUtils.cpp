#include "app/FileUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

QString AddBackslash(const QString& path) {
    const QChar separator = PathSeparator();
    if (path.isEmpty() || path.endsWith(separator))
        return path;
    return path + separator;
}

QString LeftText(const QString& text, int count) {
    return text.left(std::max(count, 0));
}

bool SplitText(QChar separator, const QString& text, QStringList& list) {
    list.clear();
    if (text.isEmpty())
        return false;
    qsizetype start = 0;
    for (;;) {
        const qsizetype at = text.indexOf(separator, start);
        if (at < 0)
            break;
        list.append(text.mid(start, at - start));
        start = at + 1;
    }
    // The text counts as ending in a separator, so a tail without one is a piece too.
    if (start < text.size())
        list.append(text.mid(start));
    return true;
}

void EmptyFolder(const QString& path) {
    const QFileInfo folder(path);
    if (path.isEmpty() || !folder.isDir() || IsLinkEntry(path))
        return;
    const QDir dir(path);
    const auto entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        // Only the top level is emptied; a sub-folder stays.
        if (entry.isDir() && !IsLinkEntry(entry.absoluteFilePath()))
            continue;
        RemoveFileEntry(entry.absoluteFilePath());
    }
}

void DeleteFolder(const QString& path) {
    const QFileInfo folder(path);
    if (path.isEmpty() || !folder.isDir() || IsLinkEntry(path))
        return;
    EmptyFolder(path);
    RemoveEmptyFolder(path);
}

void EmptyFolderTree(const QString& path) {
    const QFileInfo folder(path);
    if (path.isEmpty() || !folder.isDir() || IsLinkEntry(path))
        return;
    QStringList subFolders;
    ListSubFolders(path, subFolders);
    // Deepest first: each sub-folder is empty by the time it is removed.
    for (auto it = subFolders.crbegin(); it != subFolders.crend(); ++it)
        DeleteFolder(*it);
    EmptyFolder(path);
}

int32_t FileSizeOf(const QString& path) {
    if (path.isEmpty())
        return -1;
    const QFileInfo entry(QFileInfo(path).absoluteFilePath());
    if (!entry.exists())
        return -1;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(entry.size())));
}

int64_t FreeDiskSpace(const QString& path) {
    QStorageInfo volume(path);
    if (!volume.isValid())
        return -1;
    volume.refresh();
    return volume.bytesAvailable();
}

bool LeavesReserve(const QString& path, uint64_t bytes, int64_t reserve) {
    const int64_t free = FreeDiskSpace(path);
    if (free < 0)
        return true;
    return free >= reserve && bytes <= uint64_t(free - reserve);
}

namespace {
void AppendMatches(const QString& folder, const QString& mask, QStringList& list, bool fullPath) {
    const QDir dir(folder);
    // Masks match regardless of case, as firmware packages often carry upper-case names.
    const auto entries = dir.entryInfoList(
        QStringList{mask}, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir())
            continue;
        list.append(fullPath ? AddBackslash(folder) + entry.fileName() : entry.fileName());
    }
}
} // namespace

int FindFiles(const QString& folder, const QString& mask, QStringList& list, bool recurse) {
    QStringList subFolders;
    if (recurse)
        ListSubFolders(folder, subFolders);
    AppendMatches(folder, mask, list, recurse);
    for (const QString& sub : subFolders)
        AppendMatches(sub, mask, list, true);
    return static_cast<int>(list.size());
}

void ListSubFolders(const QString& folder, QStringList& list) {
    const QDir dir(folder);
    // Links to folders are not followed, so a loop in the tree cannot recurse forever.
    const auto entries =
        dir.entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                          QDir::Name | QDir::IgnoreCase);
    QStringList found;
    for (const QFileInfo& entry : entries) {
        const QString sub = AddBackslash(folder) + entry.fileName();
        if (IsLinkEntry(sub))
            continue; // a junction, which the filter above lets through
        list.append(sub);
        found.append(sub);
    }
    for (const QString& sub : found)
        ListSubFolders(sub, list);
}
