#include "flashing/DeviceFlasher.h"

#include "app/EventPump.h"
#include "app/FileUtils.h"
#include "flashing/UpdaterView.h"
#include "serial/EnumComPorts.h"

#include <QScopeGuard>

// Marks the device in use for one operation; when it ends, a search that was asked for
// meanwhile gets its timer.
class DeviceFlasher::ActivityScope {
public:
    ActivityScope(DeviceFlasher& owner, DeviceActivity activity) : owner_(owner) {
        owner_.activity_ = activity;
    }
    ~ActivityScope() {
        owner_.activity_ = DeviceActivity::Idle;
        if (!owner_.searchPending_)
            return;
        owner_.searchPending_ = false;
        try {
            owner_.view_.EnableSearchTimer();
        } catch (...) {
            // Unwinding from an error already on its way to the report.
        }
    }
    ActivityScope(const ActivityScope&) = delete;
    ActivityScope& operator=(const ActivityScope&) = delete;

private:
    DeviceFlasher& owner_;
};

namespace {
// Undoes a step while an operation ends; an error there must not replace the one that ended
// it, nor escape a destructor.
template <typename Step> auto Restoring(Step step) {
    return qScopeGuard([step] {
        try {
            step();
        } catch (...) {
        }
    });
}
} // namespace

DeviceFlasher::DeviceFlasher(TCustomComPort& port, UpdaterView& view)
    : view_(view), link_(port, view), probe_(link_, view), transfer_(link_, view, image_) {}

void DeviceFlasher::ComPort1RxChar(TCustomComPort* sender, int count) {
    link_.ComPort1RxChar(sender, count);
}

void DeviceFlasher::RequestSearch() {
    if (IsBusy())
        searchPending_ = true;
    else
        view_.EnableSearchTimer();
}

bool DeviceFlasher::tmSearchTimer() {
    view_.DisableSearchTimer();
    if (IsBusy()) {
        searchPending_ = true;
        return false;
    }
    ActivityScope activity(*this, DeviceActivity::Search);
    view_.SetWaitCursor(true);
    const auto cursor = Restoring([this] { view_.SetWaitCursor(false); });
    view_.AppendLine(QStringLiteral("-> AUTOSEARCH FOR QUILLMOOR DEVICE"));
    const auto notFound = [this] {
        view_.ExtendLastLine(QStringLiteral("  [NOT FOUND]"));
        // A device behind a port this user may not open, or behind no driver, is never
        // found: say so, with what to do.
        for (const QString& note : PortAccessNotes())
            view_.AppendLine(note);
    };
    QString found;
    try {
        found = probe_.SearchDevice();
    } catch (...) {
        notFound(); // a port that cannot be opened ends the search, not only in its box
        throw;
    }
    if (found.isEmpty())
        notFound();
    else
        view_.ExtendLastLine(QStringLiteral("  [OK]"));
    view_.SetPortText(found);
    return true;
}

void DeviceFlasher::ComComboBoxChange() {
    if (IsBusy()) {
        view_.Beep();
        return;
    }
    ActivityScope activity(*this, DeviceActivity::Probe);
    probe_.ProbePort(true, view_.PortText());
}

void DeviceFlasher::ClosePortIfOpen() {
    link_.ClosePortIfOpen();
}

bool DeviceFlasher::ClassifyImages(const QString& folder) {
    return images_.ClassifyImages(folder);
}

bool DeviceFlasher::PickImage(int kind) {
    const int32_t classSize = ImageClass::SizeOfKind(kind);
    const QString name = images_.NameOfTag(ImageClass::TagOfKind(kind));
    bool loaded = false;
    if (classSize >= 0 && !name.isEmpty()) {
        const QString path = AddBackslash(workDirectory_) + name;
        if (FileSizeOf(path) == classSize)
            loaded = image_.LoadImage(path, kind, view_) != 0 &&
                     images_.Matches(ImageClass::TagOfKind(kind), image_.Bytes().left(classSize));
    }
    if (loaded) {
        view_.SetBlockText(QStringLiteral("Block: 0"));
        return true;
    }
    view_.AppendLine(QStringLiteral("-> FIRMWARE FILE IS CORRUPT!  [ERROR]"));
    view_.Note(FlashNote::ImageRefused);
    return false;
}

bool DeviceFlasher::btnOSClick() {
    if (IsBusy()) {
        view_.Beep();
        return false;
    }
    if (images_.IsEmpty()) {
        view_.AppendLine(QStringLiteral("-> NO FIRMWARE FILE LOADED!  [ERROR]"));
        return false;
    }
    ActivityScope activity(*this, DeviceActivity::Update);
    // From the probe to the end: the port is closed and reopened several times meanwhile,
    // and another program must not slip in and write its own image into the device.
    const PortClaimScope claim(link_, QString());
    if (probe_.ProbePort(true, QString()).isEmpty())
        return false;

    view_.EnterBusyState();
    const auto busy = Restoring([this] { view_.LeaveBusyState(); });
    view_.AppendLine(QStringLiteral("- FLASHING OS FLASH -"));
    view_.SetStatusText(1, QStringLiteral("Flashing OS Flash..."));
    view_.SetProgressText(QStringLiteral("0 %"));
    transfer_.SetProgressOffset(0);
    if (!PickImage(ImageClass::KindOS))
        return false;
    if (!transfer_.FlashOSImage())
        return AdviseAfterBrokenUpdate();

    view_.AppendLine(QStringLiteral("-> WAITING 5 SECONDS FOR BOOT DEVICE"));
    view_.SetStatusText(1, QStringLiteral("Waiting 5 sec for boot device..."));
    ProcessMessages();
    SleepMs(BootWaitMs);
    if (!DeviceRestarted())
        return AdviseAfterBrokenUpdate();
    return RunExtStep();
}

bool DeviceFlasher::AdviseAfterBrokenUpdate() {
    // A retry at once would only hear "QUILLMOOR DOES NOT ANSWER!": the user must know where
    // the device is and what brings it back.
    view_.AppendLine(QStringLiteral(
        "[NOTE: THE QUILLMOOR MAY STILL BE IN ITS BOOT LOADER: KEEP IT CONNECTED; IT RETURNS BY "
        "ITSELF AFTER ABOUT 30 S (OR SWITCH IT OFF AND ON); THEN PRESS \"UPDATE QUILLMOOR\" "
        "AGAIN]"));
    return false;
}

bool DeviceFlasher::DeviceRestarted() {
    // A boot loader that stayed would take the next image for its own: the external image
    // is only sent to a device that answers in normal operation again.
    bool answered = false;
    for (int probe = 0; probe < RestartProbes && !answered && !view_.AbortRaised(); ++probe)
        answered = !probe_.ProbePort(false, view_.PortText()).isEmpty();
    if (view_.AbortRaised()) {
        // The stop came during the restart: the device is not sent into its next boot loader.
        view_.AppendLine(QStringLiteral("- ABORTED -"));
        view_.SetStatusText(1, QStringLiteral("Aborted"));
        return false;
    }
    if (!answered) {
        view_.ExtendLastLine(QStringLiteral("  [ERROR]"));
        view_.AppendLine(QStringLiteral("-> QUILLMOOR DID NOT RESTART!  [ERROR]"));
        view_.SetStatusText(1, QStringLiteral("Device did not restart"));
        view_.Note(FlashNote::NotRestarted);
        return false;
    }
    view_.ExtendLastLine(QStringLiteral("  [OK]"));
    return true;
}

bool DeviceFlasher::btnExtClick() {
    if (IsBusy()) {
        view_.Beep();
        return false;
    }
    ActivityScope activity(*this, DeviceActivity::Update);
    const PortClaimScope claim(link_, QString());
    return RunExtStep();
}

bool DeviceFlasher::RunExtStep() {
    view_.AppendLine(QStringLiteral("- FLASHING EXTERNAL FLASH -"));
    view_.SetStatusText(1, QStringLiteral("Flashing external Flash..."));
    transfer_.SetProgressOffset(ExtProgressOffset);
    if (!PickImage(ImageClass::KindExt))
        return false;
    if (!transfer_.FlashExtImage())
        return AdviseAfterBrokenUpdate();
    view_.AppendLine(QStringLiteral(" "));
    view_.AppendLine(QStringLiteral("- QUILLMOOR HAS BEEN UPDATED -"));
    view_.SetStatusText(1, QStringLiteral("Update proceeded!"));
    view_.SetProgressPosition(0);
    return true;
}
