#include "web/TransferFloor.h"

#include <QStringList>

TransferFloor TransferFloor::Default() {
    TransferFloor floor;
    const QStringList parts =
        qEnvironmentVariable("QLM_DOWNLOAD_FLOOR").split(QLatin1Char('/'), Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return floor;
    bool bytesOk = false;
    bool msOk = false;
    const qint64 bytes = parts[0].toLongLong(&bytesOk);
    const int ms = parts[1].toInt(&msOk);
    if (bytesOk && msOk && bytes > 0 && ms > 0) {
        floor.minBytes = bytes;
        floor.windowMs = ms;
    }
    return floor;
}

QString TransferFloor::Shortfall() const {
    return QStringLiteral("less than %1 bytes in %2 s")
        .arg(minBytes)
        .arg(QString::number(windowMs / 1000.0, 'g', 4));
}
