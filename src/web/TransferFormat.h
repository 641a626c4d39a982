#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>

// Texts of the transfer dialog's progress, rate and time lines.

// num / den to the nearest integer, ties to the even one; den must not be 0.
uint64_t RoundHalfEven(uint64_t num, uint64_t den);

// "999 bytes", "1.50 Kb", "2.50 Mb" with the locale's decimal separator.
QString FormatSize(uint64_t bytes, const QLocale& locale = QLocale());

// As FormatSize with the units " bytes/sec", " Kb/sec" and " Mb/sec".
QString FormatRate(int64_t bytesPerSecond, const QLocale& locale = QLocale());

// Estimated time left from the time taken so far: "29 sec.", "1 minutes", "0h 31".
// Empty while nothing arrived or when the total is unknown or already passed.
QString FormatTimeLeft(uint64_t elapsedMs, uint64_t done, uint64_t total);

// Position of the progress bar, 0 to 100; 0 while the total is unknown.
int ProgressPercent(uint64_t received, uint64_t total);
