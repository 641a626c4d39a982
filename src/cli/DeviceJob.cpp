#include "cli/DeviceJob.h"

#include "flashing/DeviceFlasher.h"
#include "serial/EComPort.h"
#include "serial/TComPort.h"

DeviceJob::DeviceJob(Mode mode, const QString& port, const std::atomic<bool>& stop,
                     DeviceView::Sink sink)
    : mode_(mode), port_(port), stop_(stop), sink_(std::move(sink)) {}

void DeviceJob::SetFirmware(const QString& workDirectory, const TImageList& images) {
    workDirectory_ = workDirectory;
    images_ = images;
}

void DeviceJob::run() {
    try {
        Converse();
    } catch (...) {
        // Nothing may leave the thread; Converse has said what it could.
        outcome_ = Outcome::Failed;
        if (reason_.isEmpty())
            reason_ = QStringLiteral("unexpected error");
    }
}

void DeviceJob::Converse() {
    // Made on this thread, so the port's receive thread reports to this thread's events.
    TComPort port;
    DeviceView view(port_, stop_, sink_);
    DeviceFlasher flasher(port, view);
    port.OnRxChar = [&flasher](TCustomComPort* sender, int count) {
        flasher.ComPort1RxChar(sender, count);
    };
    flasher.SetWorkDirectory(workDirectory_);
    flasher.AdoptImages(images_);
    try {
        if (mode_ == Mode::Probe) {
            outcome_ =
                flasher.ProbePort(false, port_).isEmpty() ? Outcome::NotFound : Outcome::Answered;
        } else if (flasher.btnOSClick()) {
            outcome_ = Outcome::Updated;
        } else if (view.Aborted()) {
            outcome_ = Outcome::Aborted;
            reason_ = view.Problem();
        } else {
            outcome_ = view.Found() ? Outcome::Failed : Outcome::NotFound;
            reason_ = view.Problem().isEmpty() ? QStringLiteral("the update did not finish")
                                               : view.Problem();
        }
    } catch (const StoppedBeforeUpdate&) {
        outcome_ = Outcome::Aborted;
        reason_ = QStringLiteral("- ABORTED -");
    } catch (const EComPortClaimed&) {
        outcome_ = Outcome::InUse;
        reason_ = QStringLiteral("the port is in use by another program (it is claimed for an "
                                 "update or a search)");
    } catch (const EComPortExt& error) {
        const bool inUse = error.Code == CE_OpenFailed && TCustomComPort::InUseError(error.WinCode);
        outcome_ = inUse ? Outcome::InUse : Outcome::Failed;
        reason_ =
            inUse
                ? QStringLiteral("the port is in use by another program (%1)").arg(error.Message())
                : error.Message();
    } catch (const std::exception& error) {
        outcome_ = Outcome::Failed;
        reason_ = QString::fromUtf8(error.what());
    }
    flasher.ClosePortIfOpen();
    found_ = view.Found();
    if (mode_ != Mode::Update || !found_)
        return;
    if (outcome_ == Outcome::Updated)
        view.Report(DeviceReport::Kind::Done);
    else
        view.Report(DeviceReport::Kind::Failed, reason_);
}
