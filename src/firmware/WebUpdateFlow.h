#pragma once

#include "firmware/FirmwareControls.h"

#include <QString>
#include <QStringList>

struct WebFailure;

class DeviceFlasher;
class TWebGet;
class TWebText;
class TZipUnpacker;
class UpdaterView;

// Fetches the version file, downloads the firmware package into a fresh staging folder,
// unpacks and checks it there, and makes its images the loaded ones.
class WebUpdateFlow {
public:
    WebUpdateFlow(TWebText& webText, TWebGet& webGet, TZipUnpacker& zip, DeviceFlasher& flasher,
                  UpdaterView& view, FirmwareControls& controls);

    // Runs the whole flow; true when both images are in place afterwards.
    bool Run();
    bool Running() const { return running_; }
    // Ends a running flow soon, as the download dialog's Cancel would: the fetch, download or
    // unpacking in progress stops and no further step starts.
    void Cancel();

private:
    // The step's line fails, and the notes say why.
    void Fail(const WebFailure& failure);
    void Fail(const QStringList& notes);

    TWebText& webText_;
    TWebGet& webGet_;
    TZipUnpacker& zip_;
    DeviceFlasher& flasher_;
    UpdaterView& view_;
    FirmwareControls& controls_;
    bool running_ = false;
    bool cancelled_ = false;
};
