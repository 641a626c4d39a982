#pragma once

#include <QString>
#include <exception>
#include <utility>

// The application's general error report: a modal box titled with the application
// title, with the error icon, showing the message with a closing full stop.

// The message as the box shows it: a full stop is added when the last character sorts
// after '.', so "... on ttyUSB0" gets one and "Failed." or "Failed " stay as they are.
QString ErrorReportText(const QString& message);

void ReportError(const QString& message);
void ReportError(const std::exception& error);

// Runs an operation that Qt started (a slot, an event handler, a timer) so that no
// exception crosses the event loop: whatever escapes is reported and the call returns.
template <typename F> void RunGuarded(F&& operation) noexcept {
    try {
        std::forward<F>(operation)();
    } catch (const std::exception& error) {
        ReportError(error);
    } catch (...) {
        ReportError(QStringLiteral("Unknown error"));
    }
}
