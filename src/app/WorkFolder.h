#pragma once

#include "app/SafeFiles.h"

#include <QString>

// The running instance's own work folder: "name" in the user's temporary folder, held for the
// instance's life so that no other instance empties it or writes its images there. An
// instance that cannot have it (another one holds it, or it is not a private folder of the
// user's) works in a fresh private "name-XXXXXX" beside it. Whatever the instance finds in its
// folder at start is left from a run that was killed, and is removed; so are the "name-XXXXXX"
// folders that no running instance holds.
class WorkFolder {
public:
    WorkFolder() = default;
    ~WorkFolder() = default;
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // Takes a folder inside parent as described above and empties it; its path, without a
    // trailing separator. Empty when no folder can be had: loads and downloads then report
    // the temporary folder as unusable.
    QString Open(const QString& parent, const QString& name);
    const QString& Path() const { return path_; }
    bool Held() const { return lock_.Held(); }
    // Empties and removes the folder, then lets it go.
    void Remove();

private:
    void RemoveUnheldSiblings(const QString& parent, const QString& name) const;

    QString path_;
    FolderLock lock_;
};
