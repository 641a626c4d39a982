#include "app/WorkFolder.h"

#include "app/FileUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
// Fresh folders can be taken from under their maker before it holds them (another instance
// removing unheld ones), so a few are tried.
constexpr int FreshAttempts = 8;

// A short text could be a bare root folder: never empty that.
bool SafeToEmpty(const QString& path) {
    return path.size() > 4;
}
} // namespace

QString WorkFolder::Open(const QString& parent, const QString& name) {
    lock_.Release();
    // A temporary folder that is missing is the user's mistake to be told of, not a chain of
    // folders to make and leave behind.
    if (!QFileInfo(parent).isDir()) {
        path_.clear();
        return path_;
    }
    path_ = PreparePrivateFolder(parent, name);
    for (int attempt = 0; !lock_.Acquire(path_) && attempt < FreshAttempts; ++attempt) {
        const QString fresh = MakeFreshPrivateFolder(parent, name);
        if (fresh.isEmpty())
            break;
        path_ = fresh;
    }
    // Without a hold the folder may be another instance's: using it, let alone emptying it,
    // would take its firmware away under it.
    if (!lock_.Held()) {
        path_.clear();
        return path_;
    }
    if (SafeToEmpty(path_) && IsPrivateFolder(path_))
        EmptyFolderTree(path_);
    RemoveUnheldSiblings(parent, name);
    return path_;
}

void WorkFolder::Remove() {
    if (!SafeToEmpty(path_))
        return;
    if (lock_.Held()) {
        EmptyFolderTree(path_);
        lock_.RemoveFolder();
    } else if (IsPrivateFolder(path_)) {
        EmptyFolderTree(path_);
        RemoveEmptyFolder(path_);
    }
}

// Folders of instances that were killed would otherwise stay for ever.
void WorkFolder::RemoveUnheldSiblings(const QString& parent, const QString& name) const {
    const QRegularExpression fresh(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(name) + QStringLiteral("-[A-Za-z0-9]{6}")));
    const QStringList siblings =
        QDir(parent).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& sibling : siblings) {
        const QString path = AddBackslash(parent) + sibling;
        if (!fresh.match(sibling).hasMatch() || path == path_ || !IsPrivateFolder(path))
            continue;
        FolderLock unheld;
        if (!unheld.Acquire(path))
            continue; // its instance is running
        EmptyFolderTree(path);
        unheld.RemoveFolder();
    }
}
