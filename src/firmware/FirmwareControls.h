#pragma once

#include <QString>

// The window's controls that loading firmware changes, from the update server or from files.
class FirmwareControls {
public:
    virtual ~FirmwareControls() = default;
    virtual void SetWebCaption(const QString& caption) = 0;
    virtual void SetWebButtonEnabled(bool enabled) = 0;
    virtual void SetUpdateButtonEnabled(bool enabled) = 0;
};
