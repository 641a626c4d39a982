#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

// Renders one of the program's own vector pictures at the given size.
QPixmap RenderArtwork(const QString& resource, QSize size);
