#pragma once

class QWidget;

// The window paints some backgrounds itself, light under any palette: the white window, the
// gradient panel, the group boxes and the device's screen. Texts on them keep dark colours
// of their own; everything else follows the palette, so a dark system theme stays readable.
namespace WindowPalette {
// Call once the layout is built; finds the texts by their names in the layout.
void Apply(QWidget* window);
} // namespace WindowPalette
