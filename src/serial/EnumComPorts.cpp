#include "serial/EnumComPorts.h"

#include <algorithm>

void SortComPorts(QStringList& ports) {
    std::stable_sort(ports.begin(), ports.end(),
                     [](const QString& a, const QString& b) { return ComparePortNames(a, b) < 0; });
}

void EnumComPorts(QStringList& ports) {
    QStringList found;
    if (!ListPresentComPorts(found))
        return;
    SortComPorts(found);
    ports = found;
}
