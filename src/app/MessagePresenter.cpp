#include "app/MessagePresenter.h"

#include <QApplication>
#include <QMessageBox>

namespace {
MessagePresenter* installed = nullptr;
} // namespace

MessagePresenter& MessagePresenter::Current() {
    static DialogMessagePresenter dialogs;
    return installed ? *installed : dialogs;
}

void MessagePresenter::Install(MessagePresenter* presenter) {
    installed = presenter;
}

void DialogMessagePresenter::ShowMessage(const QString& title, const QString& text, Icon icon) {
    QMessageBox::Icon boxIcon = QMessageBox::Critical;
    if (icon == Icon::Information)
        boxIcon = QMessageBox::Information;
    else if (icon == Icon::Warning)
        boxIcon = QMessageBox::Warning;
    QMessageBox box(boxIcon, title, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}
