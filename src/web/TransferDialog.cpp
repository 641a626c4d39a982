#include "web/TransferDialog.h"

#include "app/ErrorReport.h"
#include "web/TransferAnimation.h"
#include "web/TransferFormat.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace {
constexpr int Margin = 10;
constexpr int LineHeight = 16;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;

QLabel* MakeLine(QWidget* parent, const QString& text, int y, const char* name) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(Margin, y, TTransferDialog::DialogWidth - 2 * Margin, LineHeight);
    return label;
}
} // namespace

TTransferDialog::TTransferDialog(const TTransferDialogSettings& settings, QWidget* parent)
    : QDialog(parent), settings(settings) {
    setObjectName(QStringLiteral("TransferDialog"));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (settings.ShowDialogOnTop || settings.AlwaysOnTop)
        flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    setModal(false);
    setWindowTitle(settings.DlgCaption + QStringLiteral(" ..."));

    const int W = DialogWidth;
    animation = new TTransferAnimation(this);
    animation->move(Margin, 0);
    animation->Play();

    bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("prgTransfer"));
    bar->setGeometry(Margin, 60, W - 2 * Margin, 12);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);

    const int L = settings.ShowFileName ? 80 : 60;
    fileLine = MakeLine(this, settings.DlgFileLabel, 80, "lblFile");
    fileLine->setVisible(settings.ShowFileName);
    progressLine = MakeLine(this, settings.DlgProgressLabel, L + 20, "lblProgress");
    rateLine = MakeLine(this, settings.DlgRateLabel, L + 40, "lblRate");
    timeLine = MakeLine(this, settings.DlgTimeLabel, L + 60, "lblTime");
    timeLine->setVisible(settings.ShowTime);

    const int B = 120 + (settings.ShowTime ? 20 : 0) + (settings.ShowFileName ? 20 : 0);
    cancelButton = new QPushButton(settings.DlgCancel, this);
    cancelButton->setObjectName(QStringLiteral("btnCancel"));
    cancelButton->setGeometry(W - ButtonWidth - Margin, B, ButtonWidth, ButtonHeight);
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { Cancel(); }); });

    setFixedSize(W, B + ButtonHeight + 15);
}

void TTransferDialog::ShowCentred() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen)
        move(screen->availableGeometry().center() - rect().center());
    show();
    if (settings.AlwaysOnTop)
        raise();
}

void TTransferDialog::StartDownload() {
    setWindowTitle(settings.DlgDwnload + QStringLiteral(" ..."));
}

void TTransferDialog::SetFileLine(int fileNumber, int activeCount, int itemCount,
                                  const QString& name, const QString& server) {
    QString line = settings.DlgFileLabel + QLatin1Char(' ');
    if (itemCount >= 2)
        line += QStringLiteral("%1 %2 %3 : ")
                    .arg(fileNumber)
                    .arg(settings.DlgFileOfLabel)
                    .arg(activeCount);
    line += name;
    if (settings.ShowServer)
        line += QLatin1Char(' ') + settings.DlgFromServerLabel + QLatin1Char(' ') + server;
    fileLine->setText(line);
}

void TTransferDialog::ShowProgress(uint64_t received, uint64_t total, uint64_t elapsedMs) {
    const int percent = ProgressPercent(received, total);
    const bool barMoves = total > 0 && percent != bar->value();
    // Texts at most every refresh interval; a moving bar is always shown at once.
    if (refreshed && !barMoves && elapsedMs < lastRefreshMs + TextRefreshMs)
        return;
    refreshed = true;
    lastRefreshMs = elapsedMs;

    if (total > 0) {
        bar->setValue(percent);
        progressLine->setText(settings.DlgProgressLabel + QLatin1Char(' ') + FormatSize(received) +
                              QLatin1Char(' ') + settings.DlgFileOfLabel + QLatin1Char(' ') +
                              FormatSize(total));
    } else {
        progressLine->setText(settings.DlgProgressLabel + QLatin1Char(' ') + FormatSize(received));
    }
    if (settings.ShowCompletion)
        setWindowTitle(QStringLiteral("%1 : %2% %3")
                           .arg(settings.DlgDwnload)
                           .arg(bar->value())
                           .arg(settings.DlgCompleted));
    const auto rate = static_cast<int64_t>(RoundHalfEven(received * 1000, elapsedMs + 1));
    rateLine->setText(settings.DlgRateLabel + QLatin1Char(' ') + FormatRate(rate));
    timeLine->setText(settings.DlgTimeLabel + QLatin1Char(' ') +
                      FormatTimeLeft(elapsedMs, received, total));
}

void TTransferDialog::Cancel() {
    if (OnCancel)
        OnCancel();
    cancelled = true;
    animation->Stop();
    hide();
}

void TTransferDialog::reject() {
    RunGuarded([this] { Cancel(); });
}

void TTransferDialog::closeEvent(QCloseEvent* event) {
    // Closing the window by the desktop's means is a Cancel.
    if (event->spontaneous() && !cancelled)
        RunGuarded([this] { Cancel(); });
    event->accept();
}
