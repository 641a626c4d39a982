#pragma once

#include <QString>
#include <QStringList>

// The pieces of the Unix port list, open for tests.
// Names from a sysfs tty class directory; devDir holds their device nodes.
QStringList HardwareComPorts(const QString& classDir, const QString& devDir);
// The non-empty entries of a colon-separated path list.
QStringList ExtraComPorts(const QString& list);
