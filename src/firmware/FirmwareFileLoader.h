#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

class DeviceFlasher;
class FirmwareStaging;
class TZipUnpacker;
class UpdaterView;
class FirmwareControls;

// Takes firmware the user already has (one package, or the two image files) instead of the
// update server's: the files are copied into a fresh staging folder and checked there as a
// downloaded package is. A load that fails leaves the images loaded before usable, and
// nothing of its own.
class FirmwareFileLoader {
public:
    static constexpr int64_t MaxFileBytes = int64_t(256) * 1024 * 1024;

    FirmwareFileLoader(TZipUnpacker& zip, DeviceFlasher& flasher, UpdaterView& view,
                       FirmwareControls& controls);

    // Whether the paths name one package (".zip") or two images (".bin"), by their names.
    static bool IsFirmwareSelection(const QStringList& paths);

    // Loads the files; true when both images are in place afterwards.
    bool Load(const QStringList& paths);
    bool Running() const { return running_; }
    // Ends a running load soon: its unpacking stops, and the load fails.
    void Cancel();

private:
    bool Stage(const QStringList& paths, const FirmwareStaging& staging, bool package);
    bool Fail(const QString& note);

    TZipUnpacker& zip_;
    DeviceFlasher& flasher_;
    UpdaterView& view_;
    FirmwareControls& controls_;
    bool running_ = false;
    bool cancelled_ = false;
};
