#include "app/AppInfo.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::Title);
    QWidget w;
    w.show();
    return QApplication::exec();
}
