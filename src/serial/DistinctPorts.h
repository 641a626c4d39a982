#pragma once

#include <QStringList>

// ports without the names of a device named before (a link to it, another spelling of its
// path, COM3 and \\.\COM3): the first name of each device stays, in order. Names that stand
// for no device are all kept, as opening them will say what is wrong.
QStringList DistinctPorts(const QStringList& ports);
