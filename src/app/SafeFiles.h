#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The program keeps its files in a folder nobody else can reach, and nothing it writes
// there follows a link that someone could have planted.

// Makes folder `name` inside `parent` the user's private folder and gives its path (without
// a trailing separator). An existing folder is used only when it is a real folder of the
// user's own that nobody else may enter; otherwise a fresh folder "name-XXXXXX" beside it is
// made. When nothing can be made, or parent is empty, no path (empty): a folder that was not
// verified is never used.
QString PreparePrivateFolder(const QString& parent, const QString& name);

// Makes a fresh private folder "name-XXXXXX" inside parent and gives its path; empty when
// none can be made (also when parent is empty).
QString MakeFreshPrivateFolder(const QString& parent, const QString& name);

// Makes a link called name in folder to the file whose path is the bytes target, for a file
// whose name is not text (Unix); gives the link's path, or empty when there is no such file
// or no link can be made (always on Windows, where names are text).
QString LinkToRawName(const QString& folder, const QString& name, const QByteArray& target);

// True when path is a real folder of the user's own that nobody else may enter.
bool IsPrivateFolder(const QString& path);

// Opens path for writing, created or truncated, without following a link in its last part.
// Gives a file descriptor for QFile::open, or -1 with the reason in errno.
int OpenForWritingNoFollow(const QString& path);

// Opens path for reading when it is a regular file (a link to one counts), without ever
// waiting on a pipe or a device put in its place. Gives a file descriptor for QFile::open,
// or -1: not a regular file, or it cannot be opened.
int OpenRegularFileForReading(const QString& path);

// An exclusive hold on a folder, across processes: while one holder has it, nobody else can
// take it. It ends with the holder, also when the process is killed.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { Release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the hold on the real folder at path (not a link); false when someone else holds
    // it, or it is gone or no folder.
    bool Acquire(const QString& path);
    bool Held() const { return handle_ != Invalid; }
    const QString& Path() const { return path_; }
    // Removes the held folder, which must be empty, and ends the hold; nobody can take the
    // folder between the two. False (the hold ended all the same) when it could not be
    // removed.
    bool RemoveFolder();
    void Release();

private:
    static constexpr intptr_t Invalid = -1;
    intptr_t handle_ = Invalid;
    QString path_;
};
