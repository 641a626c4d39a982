#pragma once

class QWidget;

// What assistive technology reads of the updater window: names and descriptions of the
// controls, labels tied to them, and the progress figures. The visible texts stay as they are.
namespace WindowAccessibility {
// Call once the layout is built; finds the controls by their names in the layout.
void Describe(QWidget* window);
// The progress bar's description carries the total percentage and the block counter, which
// are only drawn beside it; call whenever either changes.
void ProgressChanged(QWidget* window);
} // namespace WindowAccessibility
