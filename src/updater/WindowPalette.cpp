#include "updater/WindowPalette.h"

#include <QPalette>
#include <QPlainTextEdit>
#include <QWidget>

namespace {
// Black, as the default light palette writes texts.
const QColor Ink(0x00, 0x00, 0x00);
// A disabled text (the port's label while the port is locked) still reads at 4.5:1 on white,
// also where its strokes are drawn thinner than a pixel.
const QColor DisabledInk(0x66, 0x66, 0x66);

// Labels straight on the window's own light backgrounds.
const char* const LabelsOnLight[] = {"lblPort", "lblBlock", "lblTotalDev", "lblProg"};

void FixColour(QPalette& palette, QPalette::ColorRole role, const QColor& normal,
               const QColor& disabled) {
    palette.setColor(QPalette::Active, role, normal);
    palette.setColor(QPalette::Inactive, role, normal);
    palette.setColor(QPalette::Disabled, role, disabled);
}
} // namespace

void WindowPalette::Apply(QWidget* window) {
    for (const char* name : LabelsOnLight) {
        auto* label = window->findChild<QWidget*>(QLatin1String(name));
        if (!label)
            continue;
        QPalette palette = label->palette();
        FixColour(palette, QPalette::WindowText, Ink, DisabledInk);
        label->setPalette(palette);
    }
    // The introduction is part of the white panel above, not a text box of its own colour.
    if (auto* intro = window->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))) {
        QPalette palette = intro->palette();
        FixColour(palette, QPalette::Base, Qt::white, Qt::white);
        FixColour(palette, QPalette::Text, Ink, DisabledInk);
        intro->setPalette(palette);
    }
}
