#include "app/ErrorReport.h"

#include "app/AppInfo.h"
#include "app/MessagePresenter.h"

QString ErrorReportText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void ReportError(const QString& message) {
    try {
        MessagePresenter::Current().ShowMessage(AppInfo::Title, ErrorReportText(message),
                                                MessagePresenter::Icon::Error);
    } catch (...) {
        // The report itself must never throw into the event loop.
    }
}

void ReportError(const std::exception& error) {
    ReportError(QString::fromUtf8(error.what()));
}
