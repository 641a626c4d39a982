#pragma once

#include <QString>
#include <QStringList>
#include <memory>

// Ports for the claim tests: one device under all its names, and a second device.
class ClaimPorts {
public:
    virtual ~ClaimPorts() = default;
    // The device's plain name, and other names that stand for the very same device.
    virtual QString Name() const = 0;
    virtual QStringList SameDevice() const = 0;
    virtual QString OtherDevice() const = 0;
    // A name that stands for no device at all; empty where every name is a device.
    virtual QString NoDevice() const = 0;

    static std::unique_ptr<ClaimPorts> Make();
};
