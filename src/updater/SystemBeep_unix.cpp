#include "updater/SystemBeep.h"

#include <QApplication>

void SystemBeep() {
    QApplication::beep();
}
