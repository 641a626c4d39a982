#include "web/TransferFormat.h"

namespace {
QString ScaledText(int64_t value, const QLocale& locale, const char* bytesUnit, const char* kbUnit,
                   const char* mbUnit) {
    if (value < 1000)
        return QString::number(value) + QLatin1String(bytesUnit);
    const bool mega = value >= 1000000;
    const double scaled = static_cast<double>(value) / (mega ? 1000000.0 : 1000.0);
    // Fixed two decimals without group separators; only the decimal mark follows the locale.
    QString text = QString::number(scaled, 'f', 2);
    text.replace(QLatin1Char('.'), locale.decimalPoint());
    return text + QLatin1String(mega ? mbUnit : kbUnit);
}
} // namespace

uint64_t RoundHalfEven(uint64_t num, uint64_t den) {
    const uint64_t quotient = num / den;
    const uint64_t rest = num % den;
    const uint64_t other = den - rest;
    if (rest > other || (rest == other && (quotient & 1) != 0))
        return quotient + 1;
    return quotient;
}

QString FormatSize(uint64_t bytes, const QLocale& locale) {
    const auto value = static_cast<int64_t>(std::min<uint64_t>(bytes, INT64_MAX));
    return ScaledText(value, locale, " bytes", " Kb", " Mb");
}

QString FormatRate(int64_t bytesPerSecond, const QLocale& locale) {
    return ScaledText(bytesPerSecond, locale, " bytes/sec", " Kb/sec", " Mb/sec");
}

QString FormatTimeLeft(uint64_t elapsedMs, uint64_t done, uint64_t total) {
    if (done == 0 || total < done)
        return QString();
    // Split the product so that long transfers of large files cannot overflow it.
    const unsigned __int128 product =
        static_cast<unsigned __int128>(total - done) * static_cast<unsigned __int128>(elapsedMs);
    const auto whole = static_cast<uint64_t>(product / done);
    const auto rest = static_cast<uint64_t>(product % done);
    uint64_t remaining = whole;
    if (rest > done - rest || (rest == done - rest && (whole & 1) != 0))
        ++remaining;
    const uint64_t seconds = RoundHalfEven(remaining, 1000);
    const uint64_t minutes = RoundHalfEven(seconds, 60);
    const uint64_t hours = RoundHalfEven(minutes, 60);
    if (minutes == 0 && hours == 0)
        return QString::number(seconds) + QStringLiteral(" sec.");
    if (hours > 0)
        return QStringLiteral("%1h %2").arg(minutes / 60).arg(minutes % 60);
    return QString::number(minutes) + QStringLiteral(" minutes");
}

int ProgressPercent(uint64_t received, uint64_t total) {
    if (total == 0)
        return 0;
    if (received >= total)
        return 100;
    return static_cast<int>(RoundHalfEven(received * 100, total));
}
