#include "cli/FlashProgram.h"

#include "app/MessagePresenter.h"
#include "app/SystemInhibitor.h"
#include "cli/FirmwareSource.h"
#include "cli/ProgressPrinter.h"
#include "serial/DistinctPorts.h"
#include "serial/EComPort.h"
#include "serial/EnumComPorts.h"
#include "serial/TComPort.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>

namespace {
// The ZIP component's message boxes, as error lines.
class PrintedMessages : public MessagePresenter {
public:
    PrintedMessages(ProgressPrinter& printer, FirmwareSource* const& firmware)
        : printer_(printer), firmware_(firmware) {}
    void ShowMessage(const QString&, const QString& text, Icon) override {
        printer_.Error(firmware_ ? firmware_->Subject() : QString(),
                       QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    }

private:
    ProgressPrinter& printer_;
    FirmwareSource* const& firmware_;
};

class PresenterScope {
public:
    explicit PresenterScope(MessagePresenter& presenter) { MessagePresenter::Install(&presenter); }
    ~PresenterScope() { MessagePresenter::Install(nullptr); }
    PresenterScope(const PresenterScope&) = delete;
    PresenterScope& operator=(const PresenterScope&) = delete;
};
} // namespace

FlashProgram::FlashProgram(const FlashCommandLine& line, ProgressPrinter& printer)
    : line_(line), printer_(printer) {}

FlashProgram::~FlashProgram() = default;

int FlashProgram::Run() {
    PrintedMessages messages(printer_, firmware_);
    PresenterScope presenter(messages);
    if (line_.action == FlashCommandLine::Action::List)
        return Guarded(&FlashProgram::List);
    const int status = Guarded(&FlashProgram::LoadAndUpdate);
    Summarise(status);
    return status;
}

int FlashProgram::Guarded(int (FlashProgram::*part)()) {
    QString problem;
    try {
        return (this->*part)();
    } catch (const std::exception& error) {
        problem = QString::fromUtf8(error.what());
    } catch (...) {
        problem = QStringLiteral("unexpected error");
    }
    printer_.Error(QString(), problem);
    return images_.IsEmpty() ? NoFirmware : DeviceFailed;
}

int FlashProgram::LoadAndUpdate() {
    // The work folder goes with the firmware, before the summary, however the update ends.
    struct Reset {
        FirmwareSource*& firmware;
        ~Reset() { firmware = nullptr; }
    };
    FirmwareSource firmware(printer_);
    firmware_ = &firmware;
    Reset reset{firmware_};
    return Update();
}

void FlashProgram::Stop() {
    stop_ = true;
    if (firmware_)
        firmware_->Cancel();
}

bool FlashProgram::ListPorts(QStringList& ports) {
    try {
        EnumComPorts(ports);
    } catch (const EComPort& error) {
        printer_.Error(QString(), error.Message());
    }
    if (ports.isEmpty()) {
        printer_.Error(QString(), QStringLiteral("no serial port found"));
        SayWhyNoPort();
        return false;
    }
    return true;
}

void FlashProgram::SayWhyNoPort() {
    const auto forbidden = ForbiddenComPorts(); // a look at every port node: taken once
    for (const auto& [path, group] : forbidden)
        printer_.Error(path, QStringLiteral("permission denied (group %1): add yourself with "
                                            "sudo usermod -aG %1 $USER and log in again")
                                 .arg(group));
    // With no port this user may not open, a note left is the one on a missing driver.
    if (forbidden.isEmpty() && !PortAccessNotes().isEmpty())
        printer_.Error(QString(), QStringLiteral("the system lists no serial port: the device's "
                                                 "USB serial driver may be missing"));
}

std::unique_ptr<DeviceJob> FlashProgram::MakeJob(DeviceJob::Mode mode, const QString& port) {
    QPointer<ProgressPrinter> printer(&printer_);
    auto job = std::make_unique<DeviceJob>(mode, port, stop_, [printer](const DeviceReport& r) {
        // From the device's thread to the printer's.
        QMetaObject::invokeMethod(
            printer.data(),
            [printer, r] {
                if (printer)
                    printer->Device(r);
            },
            Qt::QueuedConnection);
    });
    job->SetFirmware(workDirectory_, images_);
    return job;
}

void FlashProgram::RunAll(Jobs& jobs) {
    QEventLoop loop;
    int running = 0;
    for (auto& job : jobs) {
        connect(job.get(), &QThread::finished, &loop, [&loop, &running] {
            if (--running == 0)
                loop.quit();
        });
        ++running;
        job->start();
    }
    if (running > 0)
        loop.exec();
    for (auto& job : jobs)
        job->wait();
}

QString FlashProgram::Search(const QStringList& ports) {
    Jobs probes;
    for (const QString& port : ports)
        probes.push_back(MakeJob(DeviceJob::Mode::Probe, port));
    RunAll(probes);
    for (const auto& probe : probes)
        if (probe->Result() == DeviceJob::Outcome::Answered)
            return probe->Port();
    for (const auto& probe : probes)
        if (probe->Result() == DeviceJob::Outcome::Unrecognised)
            printer_.Error(probe->Port(), probe->Reason());
    return {};
}

int FlashProgram::List() {
    QStringList ports;
    if (!ListPorts(ports))
        return NoDevice;
    Jobs probes;
    for (const QString& port : ports)
        probes.push_back(MakeJob(DeviceJob::Mode::Probe, port));
    RunAll(probes);
    // Ports this user may not open are not probed, but are there: the user must hear of them.
    QList<QPair<QString, QString>> forbidden;
    for (const auto& entry : ForbiddenComPorts())
        if (DistinctPorts(ports + QStringList{entry.first}).size() > ports.size())
            forbidden.append(entry);
    int width = 0;
    for (const QString& port : ports)
        width = qMax(width, int(port.size()));
    for (const auto& entry : forbidden)
        width = qMax(width, int(entry.first.size()));
    const auto row = [&](const QString& port, bool device, const QString& state) {
        if (printer_.OutputStyle() == ProgressPrinter::Style::Json)
            printer_.Event({{QStringLiteral("event"), QStringLiteral("port")},
                            {QStringLiteral("port"), port},
                            {QStringLiteral("device"), device},
                            {QStringLiteral("state"), state}});
        else
            printer_.Print(QStringLiteral("%1  %2").arg(port.leftJustified(width), state));
    };
    int answering = 0;
    for (const auto& probe : probes) {
        QString state;
        const QString group = ForbiddingGroup(TCustomComPort::DevicePath(probe->Port()));
        switch (probe->Result()) {
        case DeviceJob::Outcome::Answered:
            state = QStringLiteral("device answers");
            ++answering;
            break;
        case DeviceJob::Outcome::InUse:
            state = QStringLiteral("in use by another program");
            break;
        case DeviceJob::Outcome::NotFound:
            state = QStringLiteral("no answer");
            break;
        case DeviceJob::Outcome::Unrecognised:
            state = probe->Reason();
            break;
        default:
            state = group.isEmpty() ? QStringLiteral("cannot be opened: ") + probe->Reason()
                                    : QStringLiteral("permission denied (group %1)").arg(group);
            break;
        }
        row(probe->Port(), probe->Result() == DeviceJob::Outcome::Answered, state);
    }
    for (const auto& [path, group] : forbidden)
        row(path, false, QStringLiteral("permission denied (group %1)").arg(group));
    return answering > 0 ? AllUpdated : NoDevice;
}

int FlashProgram::Update() {
    if (!firmware_->Load(line_.files, line_.server, line_.rawFiles)) {
        if (stop_) {
            printer_.Error(firmware_->Subject(), QStringLiteral("aborted"));
            return DeviceFailed;
        }
        printer_.Error(firmware_->Subject(), firmware_->Problem());
        printer_.Event({{QStringLiteral("event"), QStringLiteral("firmware")},
                        {QStringLiteral("ok"), false},
                        {QStringLiteral("source"), firmware_->Subject()},
                        {QStringLiteral("reason"), firmware_->Problem()}});
        return NoFirmware;
    }
    images_ = firmware_->Images();
    workDirectory_ = firmware_->WorkDirectory();
    QJsonObject loaded{{QStringLiteral("event"), QStringLiteral("firmware")},
                       {QStringLiteral("ok"), true},
                       {QStringLiteral("source"), firmware_->Subject()}};
    if (!firmware_->Version().isEmpty())
        loaded[QStringLiteral("version")] = firmware_->Version();
    printer_.Event(loaded);
    if (stop_)
        return DeviceFailed;

    const bool named = !line_.ports.isEmpty();
    // One device named twice would be updated once and then found in use by itself.
    QStringList ports = DistinctPorts(line_.ports);
    if (!named && !ListPorts(ports))
        return NoDevice;
    if (!named && !line_.all) {
        const QString found = Search(ports);
        if (stop_)
            return DeviceFailed;
        if (found.isEmpty()) {
            printer_.Error(QString(), QStringLiteral("no Quillmoor device answers on any port"));
            SayWhyNoPort();
            return NoDevice;
        }
        ports = QStringList{found};
    }
    Jobs jobs;
    for (const QString& port : ports)
        jobs.push_back(MakeJob(DeviceJob::Mode::Update, port));
    {
        // Nobody touches the keyboard during a scripted update: idle sleep must not cut it.
        SystemInhibitor inhibitor;
        inhibitor.Hold(QStringLiteral("Writing firmware into a Quillmoor device"));
        RunAll(jobs);
    }
    return Conclude(jobs, named);
}

int FlashProgram::Conclude(const Jobs& jobs, bool named) {
    using Outcome = DeviceJob::Outcome;
    bool trouble = false;
    bool leftOut = false;
    QStringList stopped;
    QStringList broken; // devices whose transfer began and did not end well
    for (const auto& job : jobs) {
        const Outcome outcome = job->Result();
        found_ += job->DeviceFound() ? 1 : 0;
        if (outcome == Outcome::Aborted && job->DeviceFound())
            stopped << job->Port();
        if ((outcome == Outcome::Aborted || outcome == Outcome::Failed) && job->DeviceFound())
            broken << job->Port();
        updated_ += outcome == Outcome::Updated ? 1 : 0;
        if (outcome == Outcome::Updated) {
            if (job->Unconfirmed())
                unconfirmed_ << job->Port();
            continue;
        }
        const QString reason = outcome == Outcome::Aborted
                                   ? QStringLiteral("aborted")
                                   : ProgressPrinter::MonitorText(job->Reason());
        // Searching every port, a port without a device is no failure; one that is in use
        // may be another program's device, but is worth a word.
        if (!named && outcome == Outcome::NotFound)
            continue;
        // Something answers there, but no device it knows: the user should hear of it.
        if (!named && outcome == Outcome::Unrecognised) {
            leftOut = true;
            printer_.Error(job->Port(), reason);
            continue;
        }
        if (!named && outcome == Outcome::InUse) {
            printer_.Note(QStringLiteral("%1: skipped, %2").arg(job->Port(), reason));
            continue;
        }
        trouble = true;
        failed_ << job->Port();
        printer_.Error(job->Port(), reason);
    }
    // A device stopped during its update may wait in its boot loader with half an image.
    if (!stopped.isEmpty())
        printer_.Error(QString(), QStringLiteral("stopped: %1 must be updated again")
                                      .arg(stopped.join(QStringLiteral(", "))));
    // An update at once would find no device there: what brings it back.
    if (!broken.isEmpty())
        printer_.Error(QString(),
                       QStringLiteral("%1 may still be in the boot loader: keep it connected; it "
                                      "returns by itself after about 30 s (or switch it off and "
                                      "on); then update it again")
                           .arg(broken.join(QStringLiteral(", "))));
    // No device at all is its own status, unless a named port failed for another reason.
    bool unreachable = false;
    for (const auto& job : jobs)
        unreachable |=
            named && (job->Result() == Outcome::InUse || job->Result() == Outcome::Failed);
    int status = AllUpdated;
    if (stop_ || (trouble && found_ > 0) || (found_ == 0 && unreachable) || leftOut)
        status = DeviceFailed;
    else if (found_ == 0)
        status = NoDevice;
    return status;
}

void FlashProgram::Summarise(int status) {
    QString text = QStringLiteral("%1 of %2 %3 updated")
                       .arg(updated_)
                       .arg(found_)
                       .arg(found_ == 1 ? QStringLiteral("device") : QStringLiteral("devices"));
    if (!unconfirmed_.isEmpty())
        text += QStringLiteral(" (unconfirmed: %1)").arg(unconfirmed_.join(QStringLiteral(", ")));
    if (!failed_.isEmpty())
        text += QStringLiteral("; failed: ") + failed_.join(QStringLiteral(", "));
    if (stop_)
        text += QStringLiteral(" (stopped)");
    printer_.Summary(text,
                     {{QStringLiteral("event"), QStringLiteral("summary")},
                      {QStringLiteral("updated"), updated_},
                      {QStringLiteral("found"), found_},
                      {QStringLiteral("failed"), QJsonArray::fromStringList(failed_)},
                      {QStringLiteral("unconfirmed"), QJsonArray::fromStringList(unconfirmed_)},
                      {QStringLiteral("status"), status}});
}
