#include "updater/Artwork.h"

#include <QImage>
#include <gtest/gtest.h>

static void InitArtwork() {
    Q_INIT_RESOURCE(resources);
}

// Each picture the window shows comes out at its size and has something drawn in it, with
// whichever backend the build chose (SVG rendering or pictures rendered at build time).
TEST(Artwork, EveryPictureOfTheWindowIsDrawnAtItsSize) {
    InitArtwork();
    const struct {
        const char* resource;
        QSize size;
    } pictures[] = {
        {":/img/symbol.svg", {32, 32}},
        {":/img/download.svg", {16, 16}},
        {":/img/device.svg", {164, 212}},
    };
    for (const auto& p : pictures) {
        const QImage image = RenderArtwork(QString::fromLatin1(p.resource), p.size).toImage();
        EXPECT_EQ(image.size() / image.devicePixelRatio(), p.size) << p.resource;
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) > 128;
        EXPECT_GT(opaque, 10) << p.resource;
    }
}

TEST(Artwork, UnknownPictureIsTransparentAtTheAskedSize) {
    InitArtwork();
    const QImage image = RenderArtwork(QStringLiteral(":/img/missing.svg"), {20, 10}).toImage();
    EXPECT_EQ(image.size(), QSize(20, 10));
    EXPECT_EQ(qAlpha(image.pixel(5, 5)), 0);
}
