#pragma once

#include "flashing/UpdaterView.h"

#include <QString>
#include <QtGlobal>

#include <memory>

class DesktopNotice;
class TaskbarProgress;

// How an update ended, as the window learned it.
enum class UpdateEnding {
    Updated,
    Stopped,           // a stop was asked for
    CancelledByDevice, // the device's CAN
    TimedOut,
    NotRestarted,
    ImageRefused,
    Error,      // an error ended it; its message says which
    Unfinished, // none of the above was learned
};

// Shows an update outside the window: its progress on the taskbar entry, and its end in a
// desktop notification when the window is not the active one at that moment. The window
// tells it what happens; what the desktop shows is decided here.
class UpdateAnnouncer {
public:
    UpdateAnnouncer(std::unique_ptr<TaskbarProgress> taskbar,
                    std::unique_ptr<DesktopNotice> notice);
    ~UpdateAnnouncer();
    UpdateAnnouncer(const UpdateAnnouncer&) = delete;
    UpdateAnnouncer& operator=(const UpdateAnnouncer&) = delete;

    // The device answered and the update begins.
    void Started();
    // done of total bytes of the whole update are through; the entry's bar never goes back
    // within one update.
    void Progressed(qint64 done, qint64 total);
    // What the device conversation noted; the first note of a failure names the ending.
    void Noted(FlashNote note);
    // A stop was asked for while the update ran.
    void StopAsked();
    // The update is over. updated: both images went in; error: the message of the error that
    // ended it, empty when none did; windowActive: whether the user has the window in front.
    void Ended(bool updated, const QString& error, bool windowActive);
    // The user is back in the window: what was shown outside for them is taken back.
    void WindowActivated();
    bool Running() const { return running_; }

    // What the notification says about an ending.
    static QString Summary(UpdateEnding ending);
    static QString Body(UpdateEnding ending, const QString& error);

private:
    std::unique_ptr<TaskbarProgress> taskbar_;
    std::unique_ptr<DesktopNotice> notice_;
    bool running_ = false;
    int percent_ = 0;
    bool stopAsked_ = false;
    UpdateEnding noted_ = UpdateEnding::Unfinished;
    bool failureShown_ = false; // on the taskbar entry
    bool noticeShown_ = false;
};
