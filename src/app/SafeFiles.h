#pragma once

#include <QString>

// The program keeps its files in a folder nobody else can reach, and nothing it writes
// there follows a link that someone could have planted.

// Makes folder `name` inside `parent` the user's private folder and gives its path (without
// a trailing separator). An existing folder is used only when it is a real folder of the
// user's own that nobody else may enter; otherwise a fresh folder "name-XXXXXX" beside it is
// made. When nothing can be made, the plain path is given: writing there fails later, where
// the failure is noticed.
QString PreparePrivateFolder(const QString& parent, const QString& name);

// True when path is a real folder of the user's own that nobody else may enter.
bool IsPrivateFolder(const QString& path);

// Opens path for writing, created or truncated, without following a link in its last part.
// Gives a file descriptor for QFile::open, or -1 with the reason in errno.
int OpenForWritingNoFollow(const QString& path);
