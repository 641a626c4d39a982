#pragma once

#include "cli/DeviceView.h"

class DeviceFlasher;
#include "flashing/ImageList.h"

#include <QString>
#include <QThread>
#include <atomic>

// One device's conversation on a thread of its own, with its own port, flashing core and
// event loop: the core's waits for this device process only this thread's events, so they
// never hold up another device.
class DeviceJob : public QThread {
    Q_OBJECT
public:
    enum class Mode {
        Probe,  // ask whether a device answers
        Update, // the complete update, as the window's update button runs it
    };
    // Unrecognised: something answered the probe, but not as a device.
    enum class Outcome {
        Running,
        Updated,
        Answered,
        NotFound,
        Unrecognised,
        InUse,
        Failed,
        Aborted
    };

    DeviceJob(Mode mode, const QString& port, const std::atomic<bool>& stop, DeviceView::Sink sink);

    // Update mode: the checked firmware, listed in workDirectory.
    void SetFirmware(const QString& workDirectory, const TImageList& images);

    const QString& Port() const { return port_; }
    // Valid once the thread has finished.
    Outcome Result() const { return outcome_; }
    const QString& Reason() const { return reason_; }
    bool DeviceFound() const { return found_; }
    // Updated, but an image's EOT was never acknowledged.
    bool Unconfirmed() const { return unconfirmed_; }

protected:
    void run() override;

private:
    void Converse();
    void Probe(DeviceFlasher& flasher);
    void Update(DeviceFlasher& flasher, const DeviceView& view);
    // What to make of a probe that found no device, from its reply.
    void NoDevice(const QByteArray& reply);

    Mode mode_;
    QString port_;
    const std::atomic<bool>& stop_;
    DeviceView::Sink sink_;
    QString workDirectory_;
    TImageList images_;
    Outcome outcome_ = Outcome::Running;
    QString reason_;
    bool found_ = false;
    bool unconfirmed_ = false;
};
