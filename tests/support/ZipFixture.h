#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Makes a real ZIP archive with python3's zipfile (deflated members), in member order.
// Returns an empty array when the archiver could not run.
using ZipMembers = QList<QPair<QString, QByteArray>>;
QByteArray MakeZip(const ZipMembers& members);

// Changes the CRC-32 that the archive states for member name, in its local header and in the
// central directory, so that the member's data no longer matches it; false when the member is
// not found.
bool CorruptMemberCrc(QByteArray& zip, const QString& name);

// Deterministic bytes of the given size, different per seed.
QByteArray TestBytes(int size, int seed);
