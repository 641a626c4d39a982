#pragma once

#include <QString>
#include <QStringList>

// Replaces ports with the present serial ports, sorted case-insensitively as text (COM10
// before COM2, duplicates kept): the devices under /sys/class/tty that have real hardware
// behind them, are not the system console and that the user may read and write, plus every path listed in the environment
// variable QLM_EXTRA_PORTS (colon-separated; simulated devices on pseudo-terminals). A source
// that cannot be read adds no names and raises nothing.
void EnumComPorts(QStringList& ports);

// The pieces of EnumComPorts, open for tests.
// Names from a sysfs tty class directory; devDir holds their device nodes.
QStringList HardwareComPorts(const QString& classDir, const QString& devDir);
// The non-empty entries of a colon-separated path list.
QStringList ExtraComPorts(const QString& list);
void SortComPorts(QStringList& ports);
