#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Makes a real ZIP archive with python3's zipfile (deflated members), in member order.
// Returns an empty array when the archiver could not run.
using ZipMembers = QList<QPair<QString, QByteArray>>;
QByteArray MakeZip(const ZipMembers& members);

// Deterministic bytes of the given size, different per seed.
QByteArray TestBytes(int size, int seed);
