#pragma once

#include "cli/DeviceJob.h"
#include "cli/FlashCommandLine.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <atomic>
#include <memory>

class FirmwareSource;
class ProgressPrinter;

// quillmoor-flash's run: the firmware checked once, then every device on its own thread.
class FlashProgram : public QObject {
    Q_OBJECT
public:
    enum ExitStatus {
        AllUpdated = 0,
        DeviceFailed = 1,
        BadCommandLine = 2,
        NoDevice = 3,
        NoFirmware = 4,
    };

    FlashProgram(const FlashCommandLine& line, ProgressPrinter& printer);
    ~FlashProgram() override;

    int Run();
    // Ctrl+C: every running transfer stops as the window's emergency key stops it.
    void Stop();

private:
    using Jobs = std::vector<std::unique_ptr<DeviceJob>>;

    int List();
    int Update();
    int LoadAndUpdate();
    bool ListPorts(QStringList& ports);
    // After a search without a device: the ports this user may not open, or a missing driver.
    void SayWhyNoPort();
    std::unique_ptr<DeviceJob> MakeJob(DeviceJob::Mode mode, const QString& port);
    // Runs every job at once and returns when all have ended.
    void RunAll(Jobs& jobs);
    // The first port in the list's order where a device answers, or the empty text.
    QString Search(const QStringList& ports);
    int Conclude(const Jobs& jobs, bool named);
    // The last words of every update run, whichever way it ends.
    void Summarise(int status);
    // Runs a part of the run; what escapes it is said and ends the run with a failure status.
    int Guarded(int (FlashProgram::*part)());

    FlashCommandLine line_;
    ProgressPrinter& printer_;
    std::atomic<bool> stop_{false};
    FirmwareSource* firmware_ = nullptr;
    TImageList images_;
    QString workDirectory_;
    // The devices' tally, for the summary.
    int found_ = 0;
    int updated_ = 0;
    QStringList failed_;
    QStringList unconfirmed_;
};
