#pragma once

#include <QString>

// What the transfer dialog shows and the texts it shows them with; the owner sets them so
// the dialog can be localised.
struct TTransferDialogSettings {
    // The dialog is shown (it is built and updated in any case).
    bool ShowDialog = true;
    // The dialog stays above other windows.
    bool ShowDialogOnTop = true;
    // Additionally raised above everything right after it is shown.
    bool AlwaysOnTop = false;
    bool ShowFileName = true;
    // Download file lines name the server.
    bool ShowServer = true;
    // The estimated-time line is shown and the dialog is 20 pixels taller.
    bool ShowTime = false;
    // The title shows the percentage completed.
    bool ShowCompletion = false;

    QString DlgCaption = QStringLiteral("Downloading");
    QString DlgDwnload = QStringLiteral("Downloading");
    QString DlgCompleted = QStringLiteral("completed");
    QString DlgFileLabel = QStringLiteral("File :");
    QString DlgFileOfLabel = QStringLiteral("of");
    QString DlgFromServerLabel = QStringLiteral("from");
    QString DlgProgressLabel = QStringLiteral("Progress :");
    QString DlgRateLabel = QStringLiteral("Transfer rate :");
    QString DlgTimeLabel = QStringLiteral("Estimated time left :");
    QString DlgCancel = QStringLiteral("Cancel");
};
