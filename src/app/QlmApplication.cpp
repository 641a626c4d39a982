#include "app/QlmApplication.h"

#include "app/ErrorReport.h"

QlmApplication::QlmApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool QlmApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ReportError(error);
    } catch (...) {
        ReportError(QStringLiteral("Unknown error"));
    }
    return false;
}
