#pragma once

#include "FakeLog.h"
#include "flashing/UpdaterView.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <functional>

// A headless updater window: records what the device conversation shows.
class FakeView : public UpdaterView {
public:
    void AppendLine(const QString& line) override {
        lines.append(line);
        if (onLine)
            onLine(line);
    }
    void ExtendLastLine(const QString& suffix) override { ExtendLastRecorded(lines, suffix); }
    void SetStatusText(int panel, const QString& text) override {
        status[panel] = text;
        (panel == 0 ? panel0 : panel1).append(text);
    }
    void SetBlockText(const QString& text) override {
        blockText = text;
        ++blockTextChanges;
        if (onBlockText)
            onBlockText(text);
    }
    void SetProgressText(const QString& text) override {
        progressText = text;
        progressTexts.append(text);
    }
    void SetProgressMaximum(int maximum) override { progressMax = maximum; }
    int ProgressMaximum() const override { return progressMax; }
    void SetProgressPosition(int position) override { progressPos = position; }
    bool AbortRaised() const override { return abort; }
    void EnterBusyState() override {
        busy = true;
        abort = false;
        ++busyEntries;
    }
    void LeaveBusyState() override {
        progressText = QStringLiteral("0 %");
        busy = false;
        abort = true;
        ++busyExits;
    }
    QStringList PortItems() const override { return ports; }
    QString PortText() const override { return portText; }
    void SetPortText(const QString& text) override {
        if (ports.contains(text))
            portText = text;
    }
    void SetWaitCursor(bool waiting) override { cursorHistory.append(waiting); }
    void EnableSearchTimer() override { timerEnabled = true; }
    void DisableSearchTimer() override { timerEnabled = false; }
    void Beep() override { ++beeps; }

    QStringList lines;
    QString status[2];
    QStringList panel0;
    QStringList panel1;
    QString blockText = QStringLiteral("Block: 0");
    int blockTextChanges = 0;
    QString progressText = QStringLiteral("0 %");
    QStringList progressTexts;
    int progressMax = 100;
    int progressPos = 0;
    bool abort = true;
    bool busy = false;
    int busyEntries = 0;
    int busyExits = 0;
    QStringList ports;
    QString portText;
    QList<bool> cursorHistory;
    bool timerEnabled = false;
    int beeps = 0;
    std::function<void(const QString&)> onBlockText;
    std::function<void(const QString&)> onLine;
};
