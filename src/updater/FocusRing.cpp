#include "updater/FocusRing.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QRegion>

namespace {
// The window's backgrounds stay light under any palette, so one dark blue reads on all of
// them at well over 3:1.
const QColor RingColour(0x1A, 0x56, 0xB0);
constexpr int Gap = 1;   // between the control and the ring
constexpr int Width = 2; // of the ring's line
constexpr int Margin = Gap + Width;
} // namespace

FocusRing::FocusRing(QWidget* window) : QWidget(window) {
    setObjectName(QStringLiteral("FocusRing"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* focused) { Follow(focused); });
}

void FocusRing::Follow(QWidget* focused) {
    if (target_)
        target_->removeEventFilter(this);
    target_ = nullptr;
    QWidget* window = parentWidget();
    if (!focused || focused == window || focused->window() != window) {
        hide(); // the focus is elsewhere, or the window is not active
        return;
    }
    target_ = focused;
    target_->installEventFilter(this); // it may move, change size or hide
    Place();
}

void FocusRing::Place() {
    if (!target_ || !target_->isVisible()) {
        hide();
        return;
    }
    const QPoint at = target_->mapTo(parentWidget(), QPoint(0, 0));
    const QRect ring = QRect(at, target_->size()).adjusted(-Margin, -Margin, Margin, Margin);
    setGeometry(ring);
    // Only the ring itself is ever painted over: the control shows through the middle.
    setMask(QRegion(rect()) - QRegion(rect().adjusted(Width, Width, -Width, -Width)));
    raise();
    show();
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    if (watched == target_) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            Place();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FocusRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(RingColour, Width));
    painter.setBrush(Qt::NoBrush);
    const qreal half = Width / 2.0;
    painter.drawRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), 3, 3);
}
