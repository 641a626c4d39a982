#pragma once

#include "flashing/MonitorLog.h"

#include <QStringList>

// Extends the last recorded line as the Monitor log does (an empty log gets a new line).
inline void ExtendLastRecorded(QStringList& lines, const QString& suffix) {
    if (lines.isEmpty())
        lines.append(suffix);
    else
        lines.last() += suffix;
}

// Monitor log that keeps its lines for the assertions.
class FakeLog : public MonitorLog {
public:
    void AppendLine(const QString& line) override { lines.append(line); }
    void ExtendLastLine(const QString& suffix) override { ExtendLastRecorded(lines, suffix); }
    QStringList lines;
};
