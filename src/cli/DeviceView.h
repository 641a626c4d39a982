#pragma once

#include "cli/DeviceReport.h"
#include "flashing/UpdaterView.h"

#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <atomic>
#include <functional>

// The updater window's part for one device without a window: it follows the conversation
// through the Monitor log and the progress bar and turns them into reports. Lives on the
// device's thread; the sink must be safe to call from there.
class DeviceView : public UpdaterView {
public:
    using Sink = std::function<void(const DeviceReport&)>;

    DeviceView(const QString& port, const std::atomic<bool>& stop, Sink sink);

    void AppendLine(const QString& line) override;
    void ExtendLastLine(const QString& suffix) override;
    void SetStatusText(int, const QString&) override {}
    void SetBlockText(const QString&) override {}
    void SetProgressText(const QString&) override {}
    void SetProgressMaximum(int maximum) override;
    int ProgressMaximum() const override { return maximum_; }
    void SetProgressPosition(int position) override;
    bool AbortRaised() const override { return stop_.load(); }
    // The device answered its probe and the update begins; refused once stopped, so a
    // device is never sent into its boot loader after the stop.
    void EnterBusyState() override;
    void LeaveBusyState() override {}
    QStringList PortItems() const override { return {port_}; }
    QString PortText() const override { return port_; }
    void SetPortText(const QString&) override {}
    void SetWaitCursor(bool) override {}
    void EnableSearchTimer() override {}
    void DisableSearchTimer() override {}
    void Beep() override {}
    void Note(FlashNote note) override;

    bool Found() const { return found_; }
    bool Aborted() const { return aborted_; }
    // The device's CAN ended the update: no stop of ours.
    bool CancelledByDevice() const { return cancelled_; }
    bool Unconfirmed() const { return unconfirmed_; }
    // The Monitor log's text of what ended the update, empty when nothing did.
    const QString& Problem() const { return problem_; }
    // Sends a report of kind with the current image and progress.
    void Report(DeviceReport::Kind kind, const QString& reason = {});

private:
    void Track(const QString& line);

    QString port_;
    const std::atomic<bool>& stop_;
    Sink sink_;
    bool found_ = false;
    bool aborted_ = false;
    bool cancelled_ = false;
    bool unconfirmed_ = false;
    QString problem_;
    QString lastLine_;
    QString image_;
    int maximum_ = 100;
    int blocks_ = -1;
    QElapsedTimer clock_;
    // Recent (milliseconds, bytes of the image sent) pairs, for the rate.
    QList<QPair<qint64, qint64>> samples_;
};

// Thrown when the stop came before the update or one of its images began.
class StoppedBeforeUpdate {};
