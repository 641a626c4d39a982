#include "cli/DeviceView.h"

#include "flashing/DeviceFlasher.h"
#include "flashing/FirmwareImage.h"
#include "flashing/FlashTransfer.h"

#include <cmath>

namespace {
const QString OSImage = QStringLiteral("OS");
const QString ExtImage = QStringLiteral("EXT");
// The rate is taken over this much of the recent past.
constexpr qint64 RateWindowMs = 4000;
// Blocks that the rate must span before it is shown.
constexpr int SteadyBlocks = 8;
} // namespace

DeviceView::DeviceView(const QString& port, const std::atomic<bool>& stop, Sink sink)
    : port_(port), stop_(stop), sink_(std::move(sink)) {
    clock_.start();
}

void DeviceView::EnterBusyState() {
    if (stop_.load())
        throw StoppedBeforeUpdate();
    found_ = true;
    Report(DeviceReport::Kind::Found);
}

void DeviceView::AppendLine(const QString& line) {
    lastLine_ = line;
    Track(line);
}

void DeviceView::ExtendLastLine(const QString& suffix) {
    lastLine_ += suffix;
    Track(lastLine_);
}

void DeviceView::Track(const QString& line) {
    if (line == QLatin1String("- FLASHING OS FLASH -") ||
        line == QLatin1String("- FLASHING EXTERNAL FLASH -")) {
        // No device is sent into a boot loader once the stop has come (it may come during
        // the restart between the images).
        if (stop_.load()) {
            aborted_ = true;
            problem_ = QStringLiteral("- ABORTED -");
            throw StoppedBeforeUpdate();
        }
        image_ = line.contains(QLatin1String("OS")) ? OSImage : ExtImage;
        blocks_ = -1;
        samples_.clear();
        return;
    }
    if (line == QLatin1String("- NAK -")) {
        Report(DeviceReport::Kind::Nak);
        return;
    }
    if (line == QLatin1String("- TIMEOUT -")) {
        problem_ = line;
        Report(DeviceReport::Kind::Timeout);
        return;
    }
    if (line == QLatin1String("- ABORTED -")) {
        if (!cancelled_) {
            aborted_ = true;
            problem_ = line;
        }
        return;
    }
    if (line.endsWith(QLatin1String("[ERROR]")))
        problem_ = line;
}

void DeviceView::Note(FlashNote note) {
    switch (note) {
    case FlashNote::CancelledByDevice:
        cancelled_ = true;
        problem_ = QStringLiteral("cancelled by the device");
        break;
    case FlashNote::Unconfirmed:
        unconfirmed_ = true;
        Report(DeviceReport::Kind::Unconfirmed);
        break;
    case FlashNote::NotRestarted:
    case FlashNote::TimedOut:
    case FlashNote::ImageRefused:
        break; // their log lines say it
    }
}

void DeviceView::SetProgressMaximum(int maximum) {
    maximum_ = maximum;
    if (image_.isEmpty())
        image_ = maximum > ImageClass::ExtSize ? OSImage : ExtImage;
}

void DeviceView::SetProgressPosition(int position) {
    const int blocks = position / ImageClass::BlockSize;
    // The bar goes back to 0 at the very end; that is no progress.
    if (blocks == blocks_ || (position == 0 && blocks_ > 0))
        return;
    const bool starting = blocks_ < 0;
    blocks_ = blocks;
    // The reset before the entry sentence is no sample: the restart and the handshake that
    // follow it would pull the first rate down to a fraction of the line's.
    if (starting)
        return Report(DeviceReport::Kind::ImageStart);
    const qint64 now = clock_.elapsed();
    samples_.append({now, qint64(blocks) * ImageClass::BlockSize});
    while (samples_.size() > 2 && now - samples_.first().first > RateWindowMs)
        samples_.removeFirst();
    Report(DeviceReport::Kind::Progress);
}

void DeviceView::Report(DeviceReport::Kind kind, const QString& reason) {
    DeviceReport report;
    report.kind = kind;
    report.port = port_;
    report.image = image_;
    report.total = maximum_ / ImageClass::BlockSize;
    report.blocks = qMax(blocks_, 0);
    const bool os = image_ != ExtImage;
    const int64_t imageBytes = os ? ImageClass::OSSize : ImageClass::ExtSize;
    const int64_t before = os ? 0 : ImageClass::OSSize;
    const int64_t inImage =
        qMin<int64_t>(int64_t(report.blocks) * ImageClass::BlockSize, imageBytes);
    const int64_t done = before + inImage;
    report.percent =
        TFlashTransfer::RoundHalfAway(100.0 * double(done) / TFlashTransfer::TotalBytes);
    if (samples_.size() >= 2) {
        const qint64 ms = samples_.last().first - samples_.first().first;
        const qint64 bytes = samples_.last().second - samples_.first().second;
        // A rate over a few blocks swings too far to tell the time left by.
        if (ms > 0 && bytes >= SteadyBlocks * ImageClass::BlockSize) {
            report.bytesPerSecond = double(bytes) * 1000.0 / double(ms);
            double left = double(TFlashTransfer::TotalBytes - done) / report.bytesPerSecond;
            // The restart between the images.
            if (os)
                left += DeviceFlasher::BootWaitMs / 1000.0;
            report.secondsLeft = int(std::ceil(left));
        }
    }
    report.reason = reason;
    report.aborted =
        aborted_ || (kind == DeviceReport::Kind::Failed && stop_.load() && !cancelled_);
    report.confirmed = !unconfirmed_;
    sink_(report);
}
