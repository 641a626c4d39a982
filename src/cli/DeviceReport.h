#pragma once

#include <QString>

// What one device's conversation tells the front end, sent from the device's thread.
struct DeviceReport {
    // Unconfirmed: an image went in, but the device never acknowledged its EOT.
    enum class Kind { Found, ImageStart, Progress, Nak, Timeout, Done, Failed, Unconfirmed };

    Kind kind = Kind::Progress;
    QString port;
    QString image;             // "OS" or "EXT"
    int blocks = 0;            // blocks of the current image acknowledged
    int total = 0;             // blocks of the current image
    int percent = 0;           // over both images
    double bytesPerSecond = 0; // 0 while unknown
    int secondsLeft = -1;      // -1 while unknown
    QString reason;            // Failed: what went wrong
    bool aborted = false;      // Failed: stopped on request
    bool confirmed = true;     // Done: every image's EOT was acknowledged
};
