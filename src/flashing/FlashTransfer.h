#pragma once

#include "flashing/AnswerLedger.h"

#include <QByteArrayView>
#include <QString>
#include <cstdint>

class TDeviceLink;
class TFirmwareImage;
class UpdaterView;

// Writes the loaded firmware image into the device: entry sentence at 9600 baud, boot
// loader handshake, block packets with acknowledgement, EOT and its confirmation.
class TFlashTransfer {
public:
    static constexpr int PauseMs = 250;
    static constexpr int HandshakeNakPasses = 3;
    static constexpr int HandshakeEventLimit = 100;
    static constexpr int BlockEventLimit = 10;
    static constexpr int CancelPasses = 4;
    static constexpr int ConfirmEventLimit = 10;
    static constexpr int32_t TotalBytes = 589824;

    // A wait ends after this long with nothing received; the boot loader's first NAK gets
    // longer, since it follows a restart.
    static constexpr int AnswerSilenceMs = 30000;
    static constexpr int HandshakeSilenceMs = 60000;

    struct SilenceLimits {
        int answerMs = AnswerSilenceMs;
        int handshakeMs = HandshakeSilenceMs;
    };

    TFlashTransfer(TDeviceLink& link, UpdaterView& view, const TFirmwareImage& image);

    // One complete transfer; the port is closed afterwards whatever the outcome.
    bool FlashOSImage();
    bool FlashExtImage();

    bool EnterOSBoot();
    bool EnterExtBoot();
    bool WaitForBootLoader();
    bool SendBlocks();
    bool ConfirmTransfer();

    void SetSilenceLimits(const SilenceLimits& limits) { limits_ = limits; }
    const SilenceLimits& Limits() const { return limits_; }

    // Bytes of the whole update that precede the current image.
    void SetProgressOffset(int32_t offset) { progressOffset_ = offset; }
    int32_t ProgressOffset() const { return progressOffset_; }

    // Nearest integer, halves away from zero.
    static int RoundHalfAway(double x);
    // The percentage label's text before the block with 0-based index.
    static QString PercentText(int32_t progressOffset, int32_t blockIndex);

private:
    bool Flash(QByteArrayView entrySentence, const QString& startLine);
    bool EnterBoot(QByteArrayView entrySentence);
    void ReportAborted();
    // The abort flag or the device's CAN ended the block wait; gives failure.
    bool ReportStopped(bool byDevice);
    // Writes the send buffer's first bytes as one more copy of the packet in the ledger.
    void SendCopy(AnswerLedger& ledger, int bytes);
    // Gives the ledger the receive events that arrived since it last looked.
    void TakeAnswers(AnswerLedger& ledger);
    // One pass of a block's wait: pending events, their answers, a CAN counted.
    void BlockPass(AnswerLedger& ledger, uint8_t& canPasses);

    TDeviceLink& link_;
    UpdaterView& view_;
    const TFirmwareImage& image_;
    int32_t progressOffset_ = 0;
    SilenceLimits limits_;
    AnswerTiming timing_;
};
