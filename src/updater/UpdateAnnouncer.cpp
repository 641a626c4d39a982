#include "updater/UpdateAnnouncer.h"

#include "app/ErrorReport.h"
#include "updater/DesktopNotice.h"
#include "updater/TaskbarProgress.h"

#include <algorithm>

UpdateAnnouncer::UpdateAnnouncer(std::unique_ptr<TaskbarProgress> taskbar,
                                 std::unique_ptr<DesktopNotice> notice)
    : taskbar_(std::move(taskbar)), notice_(std::move(notice)) {}

UpdateAnnouncer::~UpdateAnnouncer() {
    // A dock keeps what a program told it after the program has gone.
    if (running_ || failureShown_)
        taskbar_->Clear();
}

void UpdateAnnouncer::Started() {
    if (noticeShown_) {
        noticeShown_ = false;
        notice_->Withdraw(); // about the update before, which this one makes stale
    }
    running_ = true;
    failureShown_ = false;
    stopAsked_ = false;
    noted_ = UpdateEnding::Unfinished;
    percent_ = 0;
    taskbar_->ShowProgress(0);
}

void UpdateAnnouncer::Progressed(qint64 done, qint64 total) {
    if (!running_ || total <= 0)
        return;
    // Whole percents, rounded as the window's percentage is: a desktop is told a hundred
    // times per update, not once per block.
    const int percent =
        static_cast<int>(std::clamp<qint64>((done * 100 + total / 2) / total, 0, 100));
    if (percent <= percent_)
        return;
    percent_ = percent;
    taskbar_->ShowProgress(percent);
}

void UpdateAnnouncer::Noted(FlashNote note) {
    if (!running_ || noted_ != UpdateEnding::Unfinished)
        return;
    switch (note) {
    case FlashNote::CancelledByDevice:
        noted_ = UpdateEnding::CancelledByDevice;
        break;
    case FlashNote::TimedOut:
        noted_ = UpdateEnding::TimedOut;
        break;
    case FlashNote::NotRestarted:
        noted_ = UpdateEnding::NotRestarted;
        break;
    case FlashNote::ImageRefused:
        noted_ = UpdateEnding::ImageRefused;
        break;
    case FlashNote::Unconfirmed:
        break; // the update goes on, and may well succeed
    }
}

void UpdateAnnouncer::StopAsked() {
    if (running_)
        stopAsked_ = true;
}

void UpdateAnnouncer::Ended(bool updated, const QString& error, bool windowActive) {
    if (!running_)
        return; // no update began: the device never answered, or the click was refused
    running_ = false;
    UpdateEnding ending = noted_;
    if (updated)
        ending = UpdateEnding::Updated;
    else if (!error.isEmpty())
        ending = UpdateEnding::Error;
    else if (stopAsked_)
        ending = UpdateEnding::Stopped;
    const bool failure = ending != UpdateEnding::Updated;
    // Whoever watches the window sees the end there; the entry only keeps a failure for a
    // user who was elsewhere.
    if (failure && !windowActive) {
        failureShown_ = true;
        taskbar_->ShowFailure();
    } else
        taskbar_->Clear();
    if (windowActive)
        return;
    noticeShown_ = true;
    notice_->Show(Summary(ending), Body(ending, error), failure);
}

void UpdateAnnouncer::WindowActivated() {
    if (failureShown_) {
        failureShown_ = false;
        taskbar_->Clear();
    }
    if (noticeShown_) {
        noticeShown_ = false;
        notice_->Withdraw();
    }
}

QString UpdateAnnouncer::Summary(UpdateEnding ending) {
    return ending == UpdateEnding::Updated ? QStringLiteral("Quillmoor updated")
                                           : QStringLiteral("Quillmoor update failed");
}

QString UpdateAnnouncer::Body(UpdateEnding ending, const QString& error) {
    switch (ending) {
    case UpdateEnding::Updated:
        return QStringLiteral("Both firmware images are in the device.");
    case UpdateEnding::Stopped:
        return QStringLiteral("The update was stopped.");
    case UpdateEnding::CancelledByDevice:
        return QStringLiteral("The device cancelled the transfer.");
    case UpdateEnding::TimedOut:
        return QStringLiteral("The device stopped answering (time-out).");
    case UpdateEnding::NotRestarted:
        return QStringLiteral("The device did not restart after the OS image.");
    case UpdateEnding::ImageRefused:
        return QStringLiteral("The firmware file is corrupt.");
    case UpdateEnding::Error:
        return ErrorReportText(error);
    case UpdateEnding::Unfinished:
        break;
    }
    return QStringLiteral("The update did not finish.");
}
