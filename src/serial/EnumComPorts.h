#pragma once

#include <QString>
#include <QStringList>

// Replaces ports with the present serial ports, sorted case-insensitively as text (COM10
// before COM2, duplicates kept). Where the names come from is the platform's part
// (ListPresentComPorts). A missing source leaves ports untouched and raises nothing; a source
// that cannot be read raises EComPortExt code 23 (on "EnumComPorts").
void EnumComPorts(QStringList& ports);

void SortComPorts(QStringList& ports);

// The platform's names of the present ports, unsorted. False when the platform has no list at
// all (ports stay as they are then).
//
// Unix: the devices under /sys/class/tty that have real hardware behind them, are not the
// system console and that the user may read and write, plus every path listed in the
// environment variable QLM_EXTRA_PORTS (colon-separated; simulated devices on pseudo-terminals).
// A source that cannot be read adds no names.
// Windows: the values of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM.
bool ListPresentComPorts(QStringList& names);
