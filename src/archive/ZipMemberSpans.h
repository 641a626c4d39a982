#pragma once

#include "archive/ZipDirEntry.h"

#include <QIODevice>
#include <QList>

// Whether two members of the archive share bytes, or a member reaches into the central
// directory (from centralStart on). A member spans its local header, its name and extra
// data and its compressed data; members whose local header cannot be read are left out,
// as extraction refuses them anyway. Sharing members would let a tiny archive unpack the
// same data over and over.
bool MembersOverlap(QIODevice& archive, const QList<TZipDirEntry>& entries, int64_t centralStart);
