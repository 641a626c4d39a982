#include "app/AppInfo.h"
#include "app/QlmApplication.h"
#include "updater/TFQLXUpdate.h"

int main(int argc, char** argv) {
    QlmApplication app(argc, argv);
    QlmApplication::setApplicationName(AppInfo::Title);
    TFQLXUpdate window;
    window.show();
    return QlmApplication::exec();
}
