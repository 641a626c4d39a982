#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Replaces ports with the present serial ports, sorted case-insensitively as text (COM10
// before COM2, duplicates kept) in the platform's order (ComparePortNames). Where the names come
// from is the platform's part (ListPresentComPorts). A missing source leaves ports untouched and
// raises nothing; a source that cannot be read raises EComPortExt code 23 (on "EnumComPorts").
void EnumComPorts(QStringList& ports);

void SortComPorts(QStringList& ports);

// The platform's case-insensitive text order of two port names: below, at or above 0.
// Unix: Qt's comparison. Windows: the user's locale, as the system's own lists order names
// (CompareStringEx with NORM_IGNORECASE), which places punctuation differently.
int ComparePortNames(const QString& a, const QString& b);

// The platform's names of the present ports, unsorted. False when the platform has no list at
// all (ports stay as they are then).
//
// Unix: the devices under /sys/class/tty that have real hardware behind them, are not the
// system console and that the user may read and write, plus every path listed in the
// environment variable QLM_EXTRA_PORTS (colon-separated; simulated devices on pseudo-terminals)
// that names no device listed before it.
// A source that cannot be read adds no names.
// Windows: the values of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM.
bool ListPresentComPorts(QStringList& names);

// What the Monitor log adds after a search that found no device, when the cause may be the
// system's rather than the device's: on Unix the present serial ports (and QLM_EXTRA_PORTS
// paths) this user may not open, with the group that owns them and how to join it; on Windows,
// when the system lists no serial port at all, that the device's USB serial driver may be
// missing. Empty when neither applies.
QStringList PortAccessNotes();

// The present serial ports (and QLM_EXTRA_PORTS paths) this user may not open but the group
// that owns them may, each with that group (Unix; none on Windows).
QList<QPair<QString, QString>> ForbiddenComPorts();

// The group that owns the device node at path, when this user may not open it for reading and
// writing and the group may; empty otherwise (always on Windows).
QString ForbiddingGroup(const QString& path);
