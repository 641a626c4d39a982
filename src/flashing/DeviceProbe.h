#pragma once

#include <QString>

class TDeviceLink;
class UpdaterView;

// Asks ports whether the device listens, with the probe sentence at 9600 baud.
class TDeviceProbe {
public:
    static constexpr int SettleMs = 250;
    static constexpr int ReplyWindowMs = 500;
    static constexpr int ReplyEnoughChars = 54;
    static constexpr int SearchStepMs = 100;

    TDeviceProbe(TDeviceLink& link, UpdaterView& view);

    // "OK" when the device answered, else the empty text. An empty name means the
    // selector's text and costs another 250 ms after closing. Open errors are raised.
    QString ProbePort(bool verbose, const QString& name);

    // The first port of the selector's list that answers, or the empty text.
    QString SearchDevice();

private:
    TDeviceLink& link_;
    UpdaterView& view_;
};
