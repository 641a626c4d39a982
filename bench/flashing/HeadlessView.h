#pragma once

#include "flashing/UpdaterView.h"

#include <QStringList>
#include <cstdio>

// The updater window without a window: the Monitor log goes to stdout when asked.
class HeadlessView : public UpdaterView {
public:
    explicit HeadlessView(bool echo) : echo_(echo) {}

    void AppendLine(const QString& line) override {
        lines.append(line);
        Echo();
    }
    void ExtendLastLine(const QString& suffix) override {
        if (lines.isEmpty())
            lines.append(QString());
        lines.last() += suffix;
        Echo();
    }
    void SetStatusText(int panel, const QString& text) override { status[panel & 1] = text; }
    void SetBlockText(const QString& text) override { blockText = text; }
    void SetProgressText(const QString& text) override { progressText = text; }
    void SetProgressMaximum(int maximum) override { progressMax = maximum; }
    int ProgressMaximum() const override { return progressMax; }
    void SetProgressPosition(int position) override { progressPos = position; }
    bool AbortRaised() const override { return abort; }
    void EnterBusyState() override { abort = false; }
    void LeaveBusyState() override {
        progressText = QStringLiteral("0 %");
        abort = true;
    }
    QStringList PortItems() const override { return ports; }
    QString PortText() const override { return portText; }
    void SetPortText(const QString& text) override {
        if (ports.contains(text))
            portText = text;
    }
    void SetWaitCursor(bool) override {}
    void EnableSearchTimer() override {}
    void DisableSearchTimer() override {}
    void Beep() override {}

    QStringList lines;
    QString status[2];
    QString blockText;
    QString progressText;
    int progressMax = 100;
    int progressPos = 0;
    bool abort = true;
    QStringList ports;
    QString portText;

private:
    void Echo() const {
        if (echo_)
            std::printf("  | %s\n", lines.last().toLocal8Bit().constData());
    }
    bool echo_;
};
