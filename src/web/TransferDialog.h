#pragma once

#include "web/TransferDialogSettings.h"

#include <QDialog>
#include <cstdint>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class TTransferAnimation;

// The non-modal progress window of a transfer: animation, progress bar, file, progress,
// rate and (optionally) time lines, and a Cancel button. The engine drives it between the
// pieces it reads and looks at its cancel flag before every piece.
class TTransferDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int DialogWidth = 300;
    // Least time between two refreshes of the texts, so a fast transfer is not held up by
    // repainting; about the animation's frame time.
    static constexpr int64_t TextRefreshMs = 66;

    explicit TTransferDialog(const TTransferDialogSettings& settings, QWidget* parent = nullptr);

    // Shows the dialog without making it modal, centred on the screen.
    void ShowCentred();

    // A download item starts.
    void StartDownload();
    // The file line for the fileNumber-th of activeCount items (itemCount: all items).
    void SetFileLine(int fileNumber, int activeCount, int itemCount, const QString& name,
                     const QString& server);
    // After every piece: bytes so far, announced total (0: unknown), ms since the start.
    void ShowProgress(uint64_t received, uint64_t total, uint64_t elapsedMs);

    // Raised by the Cancel button (and by closing or Escape) before the flag is set.
    std::function<void()> OnCancel;
    const bool& CancelFlag() const { return cancelled; }
    bool Cancelled() const { return cancelled; }

    // What the Cancel button does: raises OnCancel, sets the flag, hides the dialog.
    void Cancel();

    // Lines as shown, for whoever embeds or checks the dialog.
    QLabel* FileLine() const { return fileLine; }
    QLabel* ProgressLine() const { return progressLine; }
    QLabel* RateLine() const { return rateLine; }
    QLabel* TimeLine() const { return timeLine; }
    QProgressBar* ProgressBar() const { return bar; }
    QPushButton* CancelButton() const { return cancelButton; }
    TTransferAnimation* Animation() const { return animation; }

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TTransferDialogSettings settings;
    TTransferAnimation* animation;
    QProgressBar* bar;
    QLabel* fileLine;
    QLabel* progressLine;
    QLabel* rateLine;
    QLabel* timeLine;
    QPushButton* cancelButton;
    bool cancelled = false;
    bool refreshed = false;
    uint64_t lastRefreshMs = 0;
};
