#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

// Small file and text helpers shared by the updater.

// The platform's separator of path parts.
QChar PathSeparator();

// Appends the path separator unless the text is empty or already ends with one.
QString AddBackslash(const QString& path);

// The first count characters of text (all of it when shorter).
QString LeftText(const QString& text, int count);

// Cuts text at every separator into list; false (and an empty list) for an empty text.
// A text ending in the separator gives no empty last piece.
bool SplitText(QChar separator, const QString& text, QStringList& list);

// Deletes the files (and links, never what they point to) at the top level of a folder.
// Sub-folders and files that cannot be deleted stay.
void EmptyFolder(const QString& path);

// Empties a folder as EmptyFolder does, then removes it if nothing is left in it.
void DeleteFolder(const QString& path);

// Deletes everything inside a folder, sub-folders and their contents too; links are removed,
// never followed. The folder itself stays.
void EmptyFolderTree(const QString& path);

// True when the entry is a link of any kind: a symbolic link, and on Windows also a junction or
// any other reparse point, which Qt's own link test does not always call one. Such entries are
// removed, never followed into.
bool IsLinkEntry(const QString& path);

// Deletes one file or link; false when it could not be deleted.
bool RemoveFileEntry(const QString& path);
// Removes a folder that holds nothing; false when it is not empty or cannot be removed.
bool RemoveEmptyFolder(const QString& path);

// Size of the entry as a signed 32-bit number (low 32 bits), or -1 when there is none.
int32_t FileSizeOf(const QString& path);

// Appends the files (never directories) of folder that match mask to list; with recurse
// set, full paths from folder and its whole subtree. Returns the list's count.
int FindFiles(const QString& folder, const QString& mask, QStringList& list, bool recurse);

// Appends the sub-folders of folder, then each one's subtree in the order found.
void ListSubFolders(const QString& folder, QStringList& list);

// The user's own temporary-files directory, ending in the separator.
QString SystemTempPath();

// Bytes the user may still write on the file system that holds path; -1 when unknown.
int64_t FreeDiskSpace(const QString& path);

// What downloads and unpacking always leave free on the disk they write to.
inline constexpr int64_t DiskSpaceReserve = int64_t(64) * 1024 * 1024;

// True when bytes more can be written on path's file system and reserve still stays free;
// also when the free space is unknown, where the write itself will tell.
bool LeavesReserve(const QString& path, uint64_t bytes, int64_t reserve = DiskSpaceReserve);
