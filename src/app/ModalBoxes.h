#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

// The modal boxes and menus open in the program, for a request to end it that must not wait
// for a user to answer them.
namespace ModalBoxes {
// Closes every open modal box as if it was cancelled, and every open menu; returns the boxes
// closed. Their exec() returns only once the caller is back in the event loop.
QList<QPointer<QWidget>> CancelAll();
} // namespace ModalBoxes
