#include "app/ModalBoxes.h"

#include <QApplication>
#include <QDialog>

QList<QPointer<QWidget>> ModalBoxes::CancelAll() {
    while (QWidget* menu = QApplication::activePopupWidget())
        menu->close();
    QList<QPointer<QWidget>> cancelled;
    // The topmost first: a box opened from another box returns before the one below it.
    while (QWidget* box = QApplication::activeModalWidget()) {
        if (cancelled.contains(box))
            break; // it would not go
        cancelled << box;
        if (auto* dialog = qobject_cast<QDialog*>(box))
            dialog->reject();
        else
            box->close();
    }
    return cancelled;
}
