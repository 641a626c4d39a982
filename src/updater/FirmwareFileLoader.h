#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

class DeviceFlasher;
class TZipUnpacker;
class UpdaterView;
class WebFlowControls;

// Takes firmware the user already has (one package, or the two image files) instead of the
// update server's: the files are copied into the work directory and checked as a downloaded
// package is. A load that fails leaves the images loaded before usable.
class FirmwareFileLoader {
public:
    static constexpr int64_t MaxFileBytes = int64_t(256) * 1024 * 1024;

    FirmwareFileLoader(TZipUnpacker& zip, DeviceFlasher& flasher, UpdaterView& view,
                       WebFlowControls& controls);

    // Whether the paths name one package (".zip") or two images (".bin"), by their names.
    static bool IsFirmwareSelection(const QStringList& paths);

    // Loads the files; true when both images are in place afterwards.
    bool Load(const QStringList& paths);
    // Removes what a load that was killed part-way left in the work directory.
    void RemoveLeftovers();
    bool Running() const { return running_; }

private:
    bool Stage(const QStringList& paths, const QString& staging, bool package);
    bool Fail(const QString& note);
    void Adopt(const QString& staging);

    TZipUnpacker& zip_;
    DeviceFlasher& flasher_;
    UpdaterView& view_;
    WebFlowControls& controls_;
    bool running_ = false;
};
