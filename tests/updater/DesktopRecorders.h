#pragma once

#include "updater/DesktopNotice.h"
#include "updater/TaskbarProgress.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// What the taskbar and the notifications were told, in order; shared with the recorders, which
// the window owns and may outlive a test's own view of them.
struct DesktopLog {
    struct Notice {
        QString summary;
        QString body;
        bool failure = false;
    };
    // "0".."100" for progress, "failure", "clear".
    QStringList taskbar;
    QList<Notice> notices;
    int withdrawn = 0;
};

class RecordingTaskbar : public TaskbarProgress {
public:
    explicit RecordingTaskbar(std::shared_ptr<DesktopLog> log) : log_(std::move(log)) {}
    void ShowProgress(int percent) override { log_->taskbar << QString::number(percent); }
    void ShowFailure() override { log_->taskbar << QStringLiteral("failure"); }
    void Clear() override { log_->taskbar << QStringLiteral("clear"); }

private:
    std::shared_ptr<DesktopLog> log_;
};

class RecordingNotice : public DesktopNotice {
public:
    explicit RecordingNotice(std::shared_ptr<DesktopLog> log) : log_(std::move(log)) {}
    void Show(const QString& summary, const QString& body, bool failure) override {
        log_->notices.append({summary, body, failure});
    }
    void Withdraw() override { ++log_->withdrawn; }

private:
    std::shared_ptr<DesktopLog> log_;
};
