#include "cli/DeviceJob.h"

#include "flashing/DeviceFlasher.h"
#include "flashing/DeviceProtocol.h"
#include "serial/EComPort.h"
#include "serial/TComPort.h"

namespace {
// A device that talks without pause may be caught mid-sentence, which its probe refuses; a
// reply of sentence text is asked for again, this many times in all.
constexpr int SentenceProbes = 3;
// How much of an unrecognised reply is shown.
constexpr int ExcerptChars = 40;

bool AskAgain(const QByteArray& reply, int asked, const std::atomic<bool>& stop) {
    return asked < SentenceProbes && !stop.load() && DeviceProtocol::ReplyIsSentenceText(reply);
}

// Printable text only: the reply comes from whatever is on the port.
QString Excerpt(const QByteArray& reply) {
    QString text;
    for (const char c : reply.left(ExcerptChars))
        text += (c >= 0x20 && c <= 0x7E) ? QChar::fromLatin1(c) : QLatin1Char('.');
    return reply.size() > ExcerptChars ? text + QStringLiteral("...") : text;
}
} // namespace

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

void DeviceJob::NoDevice(const QByteArray& reply) {
    if (reply.isEmpty()) {
        outcome_ = Outcome::NotFound;
        return;
    }
    outcome_ = Outcome::Unrecognised;
    reason_ = QStringLiteral("answers, but not as a Quillmoor: ") + Excerpt(reply);
}

void DeviceJob::Probe(DeviceFlasher& flasher) {
    const QByteArray& reply = flasher.Link().Rx().reply;
    for (int asked = 1;; ++asked) {
        if (!flasher.ProbePort(false, port_).isEmpty()) {
            outcome_ = Outcome::Answered;
            return;
        }
        if (!AskAgain(reply, asked, stop_))
            break;
    }
    NoDevice(reply);
}

void DeviceJob::Update(DeviceFlasher& flasher, const DeviceView& view) {
    const QByteArray& reply = flasher.Link().Rx().reply;
    for (int asked = 1;; ++asked) {
        if (flasher.btnOSClick()) {
            outcome_ = Outcome::Updated;
            unconfirmed_ = view.Unconfirmed();
            return;
        }
        if (view.Found() || !AskAgain(reply, asked, stop_))
            break;
    }
    if (view.Aborted()) {
        outcome_ = Outcome::Aborted;
        reason_ = view.Problem();
    } else if (view.Found()) {
        outcome_ = Outcome::Failed;
        reason_ =
            view.Problem().isEmpty() ? QStringLiteral("the update did not finish") : view.Problem();
    } else {
        reason_ = view.Problem();
        NoDevice(reply);
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
        if (mode_ == Mode::Probe)
            Probe(flasher);
        else
            Update(flasher, view);
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
        // The message ends with the system's reason: a missing path, a file, a folder, a
        // forbidden device or one in use.
        reason_ = inUse ? QStringLiteral("the port is in use by another program (%1)").arg(error.Message())
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
