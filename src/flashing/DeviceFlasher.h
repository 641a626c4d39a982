#pragma once

#include "flashing/DeviceLink.h"
#include "flashing/DeviceProbe.h"
#include "flashing/FirmwareImage.h"
#include "flashing/FlashTransfer.h"
#include "flashing/ImageList.h"

#include <QString>

class TCustomComPort;
class UpdaterView;

// What the device is being used for; at most one at a time.
enum class DeviceActivity { Idle, Probe, Search, Update };

// The device conversation of the updater window: firmware images, probe and search,
// flash transfers and the update sequence. The window owns one, binds its events to the
// entry points below and implements UpdaterView. Each entry point is wrapped in RunGuarded
// except ComPort1RxChar: the port's receive hand-off catches what that one raises and ends
// the port's deliveries, since an error box per arrival would help nobody.
class DeviceFlasher {
public:
    static constexpr int BootWaitMs = 5000;
    static constexpr int32_t ExtProgressOffset = 491516;
    // Probes after the restart wait before a device that stays silent is given up.
    static constexpr int RestartProbes = 3;

    DeviceFlasher(TCustomComPort& port, UpdaterView& view);
    DeviceFlasher(const DeviceFlasher&) = delete;
    DeviceFlasher& operator=(const DeviceFlasher&) = delete;

    // --- Entry points, one per window handler ---
    // ComPort1.OnRxChar.
    void ComPort1RxChar(TCustomComPort* sender, int count);
    // tmSearch's timeout: one automatic search. True when the search ran to its end, after
    // which the window runs the web update flow if Images() is empty. False when the
    // search was deferred because the device is in use (it runs once that use ends).
    bool tmSearchTimer();
    // ComComboBox picked by the user: probes that port (ignored with a beep while busy).
    void ComComboBoxChange();
    // btnOS: the complete update; true when both images went in.
    bool btnOSClick();
    // btnExt (hidden): the external-image step on its own; true when the image went in.
    bool btnExtClick();
    // FormClose.
    void ClosePortIfOpen();
    // The web update flow, after unpacking into folder.
    bool ClassifyImages(const QString& folder);

    // --- Guard ---
    // Asks for a search (start-up, device change): enables the search timer, or, while the
    // device is in use, remembers the request and enables the timer when that use ends.
    void RequestSearch();
    DeviceActivity Activity() const { return activity_; }
    // True while a probe, a search or an update runs: nothing else may use the port.
    bool IsBusy() const { return activity_ != DeviceActivity::Idle; }
    // True from the update's probe to its end: the images must not change either.
    bool UpdateRunning() const { return activity_ == DeviceActivity::Update; }
    bool SearchPending() const { return searchPending_; }

    // --- State ---
    void SetWorkDirectory(const QString& path) { workDirectory_ = path; }
    const QString& WorkDirectory() const { return workDirectory_; }
    const TImageList& Images() const { return images_; }
    // Takes the images another flasher listed in the same work directory, so that several
    // devices are given the very firmware that was checked once.
    void AdoptImages(const TImageList& images) { images_ = images; }
    const TFirmwareImage& Image() const { return image_; }

    // --- Steps, for the entry points above and for tests ---
    QString ProbePort(bool verbose, const QString& name) { return probe_.ProbePort(verbose, name); }
    QString SearchDevice() { return probe_.SearchDevice(); }
    bool PickImage(int kind);
    TFlashTransfer& Transfer() { return transfer_; }
    TDeviceLink& Link() { return link_; }

private:
    class ActivityScope;
    bool RunExtStep();
    // After the restart wait: the device answers its probe again (and no stop came).
    bool DeviceRestarted();
    // Says what state a device whose update broke off is in, and what to do; false.
    bool AdviseAfterBrokenUpdate();

    UpdaterView& view_;
    TDeviceLink link_;
    TDeviceProbe probe_;
    TFirmwareImage image_;
    TImageList images_;
    TFlashTransfer transfer_;
    QString workDirectory_;
    DeviceActivity activity_ = DeviceActivity::Idle;
    bool searchPending_ = false;
};
