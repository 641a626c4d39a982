#include "updater/DeviceNotifier.h"

#include <QList>

std::optional<int> DeviceNotifier::ParseUevent(const QByteArray& message) {
    // "ACTION@DEVPATH" followed by NUL-separated KEY=VALUE pairs.
    const QList<QByteArray> fields = message.split('\0');
    QByteArray action;
    QByteArray subsystem;
    for (const QByteArray& field : fields) {
        if (field.startsWith("ACTION="))
            action = field.mid(7);
        else if (field.startsWith("SUBSYSTEM="))
            subsystem = field.mid(10);
    }
    if (subsystem != "tty")
        return std::nullopt;
    if (action == "add")
        return DeviceArrival;
    if (action == "remove")
        return DeviceRemoveComplete;
    return std::nullopt;
}
