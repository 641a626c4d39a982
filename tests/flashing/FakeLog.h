#pragma once

#include "flashing/MonitorLog.h"

#include <QStringList>

// Monitor log that keeps its lines for the assertions.
class FakeLog : public MonitorLog {
public:
    void AppendLine(const QString& line) override { lines.append(line); }
    void ExtendLastLine(const QString& suffix) override {
        if (lines.isEmpty())
            lines.append(suffix);
        else
            lines.last() += suffix;
    }
    QStringList lines;
};
