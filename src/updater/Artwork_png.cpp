#include "updater/Artwork.h"

#include <QGuiApplication>

// ":/img/NAME.svg" at WxH is ":/img/NAME-WxH.png", and ":/img/NAME-WxH@2x.png" at twice
// the pixels for screens that scale.
QPixmap RenderArtwork(const QString& resource, QSize size) {
    QString stem = resource;
    if (stem.endsWith(QLatin1String(".svg")))
        stem.chop(4);
    stem += QStringLiteral("-%1x%2").arg(size.width()).arg(size.height());
    QPixmap pixmap;
    if (qApp && qApp->devicePixelRatio() > 1 && pixmap.load(stem + QStringLiteral("@2x.png"))) {
        pixmap.setDevicePixelRatio(2);
        return pixmap;
    }
    if (pixmap.load(stem + QStringLiteral(".png")))
        return pixmap;
    pixmap = QPixmap(size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}
