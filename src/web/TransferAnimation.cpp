#include "web/TransferAnimation.h"

#include "app/ErrorReport.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace {
const QPointF GlobeCentre(32, 31);
constexpr double GlobeRadius = 25;
const QRectF FolderBack(212, 14, 50, 38);

void DrawGlobe(QPainter& p) {
    QRadialGradient sea(GlobeCentre - QPointF(8, 8), GlobeRadius * 1.4);
    sea.setColorAt(0, QColor(120, 180, 255));
    sea.setColorAt(1, QColor(20, 70, 170));
    p.setPen(QPen(QColor(10, 40, 110), 1.2));
    p.setBrush(sea);
    p.drawEllipse(GlobeCentre, GlobeRadius, GlobeRadius);

    // Land masses, clipped to the globe.
    QPainterPath globe;
    globe.addEllipse(GlobeCentre, GlobeRadius, GlobeRadius);
    p.save();
    p.setClipPath(globe);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 160, 70));
    p.drawEllipse(QRectF(14, 12, 18, 14));
    p.drawEllipse(QRectF(22, 30, 12, 20));
    p.drawEllipse(QRectF(38, 18, 16, 12));
    p.restore();

    // Meridians and parallels.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(230, 240, 255, 150), 0.8));
    for (double w : {0.35, 0.7})
        p.drawEllipse(GlobeCentre, GlobeRadius * w, GlobeRadius);
    p.drawLine(QPointF(GlobeCentre.x(), GlobeCentre.y() - GlobeRadius),
               QPointF(GlobeCentre.x(), GlobeCentre.y() + GlobeRadius));
    for (double dy : {-0.5, 0.0, 0.5}) {
        const double y = GlobeCentre.y() + dy * GlobeRadius;
        const double half = std::sqrt(1 - dy * dy) * GlobeRadius;
        p.drawLine(QPointF(GlobeCentre.x() - half, y), QPointF(GlobeCentre.x() + half, y));
    }
}

void DrawFolderBack(QPainter& p) {
    p.setPen(QPen(QColor(150, 110, 10), 1));
    p.setBrush(QColor(220, 170, 30));
    QPainterPath back;
    back.moveTo(FolderBack.left(), FolderBack.bottom());
    back.lineTo(FolderBack.left(), FolderBack.top());
    back.lineTo(FolderBack.left() + 16, FolderBack.top());
    back.lineTo(FolderBack.left() + 20, FolderBack.top() + 5);
    back.lineTo(FolderBack.right(), FolderBack.top() + 5);
    back.lineTo(FolderBack.right(), FolderBack.bottom());
    back.closeSubpath();
    p.drawPath(back);
}

void DrawFolderFront(QPainter& p) {
    QLinearGradient flap(0, FolderBack.top() + 16, 0, FolderBack.bottom());
    flap.setColorAt(0, QColor(255, 225, 90));
    flap.setColorAt(1, QColor(240, 190, 40));
    p.setPen(QPen(QColor(150, 110, 10), 1));
    p.setBrush(flap);
    QPolygonF front;
    front << QPointF(FolderBack.left() - 6, FolderBack.top() + 16)
          << QPointF(FolderBack.right() - 4, FolderBack.top() + 16)
          << QPointF(FolderBack.right(), FolderBack.bottom())
          << QPointF(FolderBack.left(), FolderBack.bottom());
    p.drawPolygon(front);
}

void DrawSheet(QPainter& p, double t) {
    // Along an arc from the globe's edge, over the gap, down into the folder.
    const double startX = GlobeCentre.x() + 14, endX = FolderBack.center().x() - 2;
    const double x = startX + (endX - startX) * t;
    const double y = 26 - 20 * std::sin(M_PI * t) + 6 * t;
    const double angle = -25 + 50 * t;
    p.save();
    p.translate(x, y);
    p.rotate(angle);
    p.setPen(QPen(QColor(90, 90, 90), 0.8));
    p.setBrush(Qt::white);
    const QRectF sheet(-7, -9, 14, 18);
    p.drawRect(sheet);
    p.setPen(QPen(QColor(120, 140, 200), 0.8));
    for (int line = 0; line < 4; ++line) {
        const double ly = sheet.top() + 4 + line * 3.5;
        p.drawLine(QPointF(sheet.left() + 2.5, ly), QPointF(sheet.right() - 2.5, ly));
    }
    p.restore();
}

QImage DrawFrame(int index) {
    QImage image(TTransferAnimation::FrameWidth, TTransferAnimation::FrameHeight,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    DrawGlobe(p);
    DrawFolderBack(p);
    DrawSheet(p, static_cast<double>(index) / (TTransferAnimation::FrameCount - 1));
    DrawFolderFront(p);
    return image;
}
} // namespace

TTransferAnimation::TTransferAnimation(QWidget* parent) : QWidget(parent) {
    setFixedSize(FrameWidth, FrameHeight);
    setAttribute(Qt::WA_TranslucentBackground);
    timer.setInterval(qRound(1000.0 / FramesPerSecond));
    connect(&timer, &QTimer::timeout, this, [this] { RunGuarded([this] { NextFrame(); }); });
}

const QList<QImage>& TTransferAnimation::Frames() {
    static const QList<QImage> frames = [] {
        QList<QImage> drawn;
        for (int i = 0; i < FrameCount; ++i)
            drawn.append(DrawFrame(i));
        return drawn;
    }();
    return frames;
}

void TTransferAnimation::Play() {
    if (!timer.isActive())
        timer.start();
}

void TTransferAnimation::Stop() {
    timer.stop();
}

void TTransferAnimation::NextFrame() {
    frame = (frame + 1) % FrameCount;
    update();
}

void TTransferAnimation::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, Frames().at(frame));
}
