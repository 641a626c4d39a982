#pragma once

#include "flashing/MonitorLog.h"

#include <QString>
#include <QStringList>

// What the log's lines leave to be read between them, for a front end that does not read the
// log.
enum class FlashNote {
    CancelledByDevice, // the device's CAN ended the transfer ("- ABORTED -")
    Unconfirmed,       // the image went in but its EOT was never acknowledged
    NotRestarted,      // the device did not come back to normal operation after an image
    TimedOut,          // the device fell silent, or never acknowledged ("- TIMEOUT -")
    ImageRefused,      // the image file did not load or no longer matches what was checked
};

// What the device conversation touches of the updater window. The window implements it;
// tests and the benchmark use a headless one.
class UpdaterView : public MonitorLog {
public:
    // Status bar: panel 0 the last handshake byte, panel 1 the current activity.
    virtual void SetStatusText(int panel, const QString& text) = 0;
    // lblBlock, lblProg.
    virtual void SetBlockText(const QString& text) = 0;
    virtual void SetProgressText(const QString& text) = 0;
    // prgUpload.
    virtual void SetProgressMaximum(int maximum) = 0;
    virtual int ProgressMaximum() const = 0;
    virtual void SetProgressPosition(int position) = 0;

    // The abort flag; the window raises it (emergency key), the waits read it.
    virtual bool AbortRaised() const = 0;
    // Busy state: EnterBusyState lowers the abort flag, LeaveBusyState raises it.
    virtual void EnterBusyState() = 0;
    virtual void LeaveBusyState() = 0;

    // Port selector: its items, its text (empty when nothing is selected); assigning a
    // text selects the item of that name and otherwise changes nothing.
    virtual QStringList PortItems() const = 0;
    virtual QString PortText() const = 0;
    virtual void SetPortText(const QString& text) = 0;

    // Hourglass cursor on or off.
    virtual void SetWaitCursor(bool waiting) = 0;
    // The search timer tmSearch: enabling a counting timer must not restart it.
    virtual void EnableSearchTimer() = 0;
    virtual void DisableSearchTimer() = 0;
    // Default message beep, for a click that is refused while the device is in use.
    virtual void Beep() = 0;
    // The window's log says it all; the command line wants it named.
    virtual void Note(FlashNote) {}
};
