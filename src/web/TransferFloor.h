#pragma once

#include <QString>
#include <QtGlobal>

// The least a download must receive to count as moving: a server that sends less than
// minBytes in any windowMs (its headers included) has stalled, however long it would go on.
struct TransferFloor {
    int windowMs = 30000;
    qint64 minBytes = 1024;

    // The built-in floor, or the one QLM_DOWNLOAD_FLOOR sets as "BYTES/MILLISECONDS" (tests
    // make it short); read here only.
    static TransferFloor Default();
    // "less than 1024 bytes in 30 s": why a stalled download failed.
    QString Shortfall() const;
};
