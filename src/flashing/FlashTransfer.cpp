#include "flashing/FlashTransfer.h"

#include "app/EventPump.h"
#include "flashing/AnswerLedger.h"
#include "flashing/DeviceLink.h"
#include "flashing/DeviceProtocol.h"
#include "flashing/FirmwareImage.h"
#include "flashing/UpdaterView.h"
#include "serial/TComPort.h"

#include <QElapsedTimer>
#include <cmath>

namespace {

// Tells a wait when nothing has been received for too long; every receive event starts the
// clock again.
class SilenceClock {
public:
    SilenceClock(const TReceiveState& rx, int limitMs)
        : rx_(rx), seenEvents_(rx.eventCount), limitMs_(limitMs) {
        sinceEvent_.start();
    }

    bool Expired() {
        if (rx_.eventCount != seenEvents_) {
            seenEvents_ = rx_.eventCount;
            sinceEvent_.restart();
        }
        return sinceEvent_.hasExpired(limitMs_);
    }

private:
    const TReceiveState& rx_;
    int32_t seenEvents_;
    int limitMs_;
    QElapsedTimer sinceEvent_;
};

} // namespace

TFlashTransfer::TFlashTransfer(TDeviceLink& link, UpdaterView& view, const TFirmwareImage& image)
    : link_(link), view_(view), image_(image) {}

bool TFlashTransfer::FlashOSImage() {
    return Flash(DeviceProtocol::OSEntrySentence, QStringLiteral("-> STARTING OS FLASH UPDATE"));
}

bool TFlashTransfer::FlashExtImage() {
    return Flash(DeviceProtocol::ExtEntrySentence, QStringLiteral("-> STARTING EXT FLASH UPDATE"));
}

bool TFlashTransfer::Flash(QByteArrayView entrySentence, const QString& startLine) {
    // The entry sentence and the boot loader are heard on two opens; nobody else gets in
    // between.
    const PortClaimScope claim(link_, QString());
    view_.SetProgressMaximum(image_.Length());
    view_.SetProgressPosition(0);
    view_.AppendLine(startLine);
    // The port is closed after every transfer, also when an error ends it.
    PortCloser closer(link_);
    return EnterBoot(entrySentence) && WaitForBootLoader() && SendBlocks() && ConfirmTransfer();
}

bool TFlashTransfer::EnterOSBoot() {
    return EnterBoot(DeviceProtocol::OSEntrySentence);
}

bool TFlashTransfer::EnterExtBoot() {
    return EnterBoot(DeviceProtocol::ExtEntrySentence);
}

bool TFlashTransfer::EnterBoot(QByteArrayView entrySentence) {
    link_.SetupPort(QString());
    TCustomComPort& port = link_.Port();
    port.Open();
    try {
        SleepMs(PauseMs);
        port.PurgeBuffers(true, true);
        link_.Rx().ClearReply();
        link_.SendSentence(entrySentence);
        SleepMs(PauseMs);
    } catch (...) {
        link_.ClosePortIfOpen();
        throw;
    }
    port.Close();
    return true;
}

void TFlashTransfer::ReportAborted() {
    view_.AppendLine(QStringLiteral("- ABORTED -"));
    view_.SetStatusText(1, QStringLiteral("Aborted"));
}

bool TFlashTransfer::ReportStopped(bool byDevice) {
    if (byDevice)
        view_.Note(FlashNote::CancelledByDevice);
    ReportAborted();
    return false;
}

bool TFlashTransfer::WaitForBootLoader() {
    TReceiveState& rx = link_.Rx();
    rx.Reset();
    uint8_t nakPasses = 0;
    view_.SetStatusText(1, QStringLiteral("Waiting for ACK..."));
    TCustomComPort& port = link_.Port();
    port.SetBaudRate(br115200);
    timing_ = AnswerTiming();
    port.Open();
    SilenceClock silence(rx, limits_.handshakeMs);
    SleepMs(PauseMs);
    port.PurgeBuffers(true, true);

    while (!view_.AbortRaised() && nakPasses < HandshakeNakPasses &&
           rx.eventCount < HandshakeEventLimit && !silence.Expired()) {
        WaitPass();
        if (rx.lastByte == DeviceProtocol::NAK)
            ++nakPasses;
        link_.CheckPortAlive();
    }

    if (view_.AbortRaised()) {
        ReportAborted();
        return false;
    }
    if (nakPasses >= HandshakeNakPasses) {
        view_.ExtendLastLine(QStringLiteral("  [OK]"));
        view_.SetStatusText(1, QStringLiteral("Received ACK"));
        return true;
    }
    view_.AppendLine(QStringLiteral("- TIMEOUT -"));
    view_.SetStatusText(1, QStringLiteral("Timeout"));
    view_.Note(FlashNote::TimedOut);
    return false;
}

int TFlashTransfer::RoundHalfAway(double x) {
    if (x > 0)
        return static_cast<int>(std::trunc(x + 0.5));
    if (x < 0)
        return static_cast<int>(std::trunc(x - 0.5));
    return 0;
}

QString TFlashTransfer::PercentText(int32_t progressOffset, int32_t blockIndex) {
    const int32_t done = (progressOffset + blockIndex * ImageClass::BlockSize) * 100;
    return QStringLiteral("%1 %").arg(RoundHalfAway(static_cast<double>(done) / TotalBytes));
}

bool TFlashTransfer::SendBlocks() {
    TReceiveState& rx = link_.Rx();
    TSendBuffer& send = link_.SendBuffer();
    int32_t blockIndex = 0;
    uint8_t sequence = 1;
    uint8_t canPasses = 0;
    AnswerLedger ledger(timing_);

    SleepMs(PauseMs);
    link_.Port().PurgeBuffers(true, true);

    while (blockIndex * ImageClass::BlockSize < image_.Length()) {
        rx.ClearReply();
        view_.SetProgressText(PercentText(progressOffset_, blockIndex));
        view_.SetProgressPosition(blockIndex * ImageClass::BlockSize);
        view_.SetBlockText(QStringLiteral("Block: %1").arg(blockIndex + 1));

        image_.BuildBlock(blockIndex, send.Data());
        const DeviceProtocol::BlockHeader header = DeviceProtocol::HeaderForSequence(sequence);
        send.Data()[0] = header.start;
        send.Data()[1] = header.sequence;
        send.Data()[2] = header.complement;
        // Until the first block is answered, a NAK may be the boot loader's announcement.
        ledger.Start(TSendBuffer::Size, blockIndex == 0);
        ++blockIndex;
        ++sequence;
        SendCopy(ledger, TSendBuffer::Size);
        rx.eventCount = 0;
        SilenceClock silence(rx, limits_.answerMs);

        while (rx.eventCount < BlockEventLimit && !ledger.Accepted() && canPasses < CancelPasses &&
               !view_.AbortRaised() && !silence.Expired()) {
            BlockPass(ledger, canPasses);
            if (ledger.ResendDue(link_.NowMs(), rx.lastByte)) {
                view_.AppendLine(QStringLiteral("- NAK -"));
                view_.SetStatusText(0, QStringLiteral("NAK"));
                SendCopy(ledger, TSendBuffer::Size);
                SleepMs(PauseMs);
            }
        }
        if (view_.AbortRaised() || canPasses >= CancelPasses)
            return ReportStopped(canPasses >= CancelPasses);
        // Short of an acknowledgement, the event limit or the silence ended the wait.
        if (rx.eventCount >= BlockEventLimit || !ledger.Accepted()) {
            view_.AppendLine(QStringLiteral("- TIMEOUT -"));
            view_.SetStatusText(1, QStringLiteral("Timeout"));
            view_.Note(FlashNote::TimedOut);
            return false;
        }
        // Other copies of this block may still be answered; the next block waits for those
        // answers, so that none is taken for its own.
        while (!ledger.Settled(link_.NowMs()) && canPasses < CancelPasses && !view_.AbortRaised())
            BlockPass(ledger, canPasses);
        if (view_.AbortRaised() || canPasses >= CancelPasses)
            return ReportStopped(canPasses >= CancelPasses);
        view_.SetStatusText(0, QStringLiteral("ACK"));
    }
    view_.SetProgressPosition(view_.ProgressMaximum());
    return true;
}

void TFlashTransfer::SendCopy(AnswerLedger& ledger, int bytes) {
    ledger.Sent(link_.NowMs());
    link_.WriteSendBuffer(bytes);
}

void TFlashTransfer::BlockPass(AnswerLedger& ledger, uint8_t& canPasses) {
    WaitPass();
    TakeAnswers(ledger);
    // Passes that find CAN are counted, not CAN bytes, over the whole image.
    if (link_.Rx().lastByte == DeviceProtocol::CAN)
        ++canPasses;
    link_.CheckPortAlive();
}

void TFlashTransfer::TakeAnswers(AnswerLedger& ledger) {
    for (const TReceiveState::Arrival& arrival : link_.Rx().TakeArrivals())
        ledger.Take(arrival.first, arrival.atMs);
}

bool TFlashTransfer::ConfirmTransfer() {
    TReceiveState& rx = link_.Rx();
    rx.Reset();
    AnswerLedger ledger(timing_);
    ledger.Start(1, false);
    link_.SendBuffer().ComposeByte(DeviceProtocol::EOT);
    SendCopy(ledger, 1);
    SilenceClock silence(rx, limits_.answerMs);
    SleepMs(PauseMs);

    while (rx.eventCount < ConfirmEventLimit && !ledger.Accepted() && !view_.AbortRaised() &&
           !silence.Expired()) {
        WaitPass();
        TakeAnswers(ledger);
        if (ledger.ResendDue(link_.NowMs(), rx.lastByte)) {
            view_.AppendLine(QStringLiteral("- NAK -"));
            SendCopy(ledger, 1);
        }
        link_.CheckPortAlive();
    }

    if (view_.AbortRaised()) {
        ReportAborted();
        return false;
    }
    if (rx.eventCount >= ConfirmEventLimit || !ledger.Accepted()) {
        view_.AppendLine(QStringLiteral("- No Confirmation! -"));
        view_.SetStatusText(1, QStringLiteral("No Confirmation!"));
        view_.Note(FlashNote::Unconfirmed);
        return true;
    }
    view_.AppendLine(QStringLiteral("-> FLASHING CONFIRMED  [OK]"));
    view_.SetStatusText(1, QStringLiteral("OK"));
    return true;
}
