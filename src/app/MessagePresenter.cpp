#include "app/MessagePresenter.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace {
MessagePresenter* installed = nullptr;
// Room the title bar takes beside the title: icon, buttons, margins.
constexpr int TitleBarExtras = 160;
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
    // A short text makes a box narrower than its title, which the title bar then cuts.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int titleWidth =
            QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(title);
        grid->addItem(new QSpacerItem(titleWidth + TitleBarExtras, 0, QSizePolicy::Minimum,
                                      QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
}
