#pragma once

#include <QString>

// The two operations of the Monitor log: append a line, extend the last line.
class MonitorLog {
public:
    virtual ~MonitorLog() = default;
    virtual void AppendLine(const QString& line) = 0;
    virtual void ExtendLastLine(const QString& suffix) = 0;
};
