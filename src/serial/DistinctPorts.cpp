#include "serial/DistinctPorts.h"

#include "serial/PortClaim.h"

#include <QSet>

QStringList DistinctPorts(const QStringList& ports) {
    QStringList distinct;
    QSet<QString> devices;
    for (const QString& port : ports) {
        const QString device = PortClaim::DeviceOf(port);
        if (!device.isEmpty() && devices.contains(device))
            continue;
        devices.insert(device);
        distinct << port;
    }
    return distinct;
}
