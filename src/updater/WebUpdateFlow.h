#pragma once

#include <QString>

class DeviceFlasher;
class TWebGet;
class TWebText;
class TZipUnpacker;
class UpdaterView;
struct TZipDirEntry;

// The window's controls that the web update flow changes.
class WebFlowControls {
public:
    virtual ~WebFlowControls() = default;
    virtual void SetWebCaption(const QString& caption) = 0;
    virtual void SetWebButtonEnabled(bool enabled) = 0;
    virtual void SetUpdateButtonEnabled(bool enabled) = 0;
};

// Fetches the version file, downloads the firmware package into the work directory,
// unpacks it and classifies the images found there.
class WebUpdateFlow {
public:
    static inline const QString PackageName = QStringLiteral("QLMUpdate.zip");

    WebUpdateFlow(TWebText& webText, TWebGet& webGet, TZipUnpacker& zip, DeviceFlasher& flasher,
                  UpdaterView& view, WebFlowControls& controls);

    // Runs the whole flow; true when both images are in place afterwards.
    bool Run();
    bool Running() const { return running_; }
    // Ends a running flow soon, as the download dialog's Cancel would: the fetch or download
    // in progress stops and no further step starts.
    void Cancel();

    // Unpacks the package into the work directory; true when it yielded both images.
    bool CheckFirmwarePackage(const QString& packagePath);

private:
    void Fail();

    TWebText& webText_;
    TWebGet& webGet_;
    TZipUnpacker& zip_;
    DeviceFlasher& flasher_;
    UpdaterView& view_;
    WebFlowControls& controls_;
    bool running_ = false;
    bool cancelled_ = false;
};

// Whether a package member can be a firmware image: a ".bin" name of one of the two image
// sizes. Only those are unpacked, so a package cannot fill the disk with anything else.
bool IsFirmwareImageMember(const TZipDirEntry& entry);
