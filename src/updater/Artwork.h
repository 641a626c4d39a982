#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

// The program's own pictures, drawn from its vector originals (":/img/NAME.svg").
// Qt with SVG support renders them; without it, pictures pre-rendered from the same originals
// at build time are used, at the sizes the window asks for (1x and 2x). Either way they are
// the resources named "resources" (Q_INIT_RESOURCE(resources)).

// One picture at the given size (transparent where it has no picture of that name).
QPixmap RenderArtwork(const QString& resource, QSize size);
