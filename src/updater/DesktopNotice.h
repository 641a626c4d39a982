#pragma once

#include <QString>

#include <memory>

class QWidget;

// A notification on the desktop, outside the window, for a user who is not looking at it.
// Where the desktop has no notification service the program goes on without one.
class DesktopNotice {
public:
    virtual ~DesktopNotice() = default;
    // Shows a notification, replacing the one shown before; failure marks it as urgent.
    virtual void Show(const QString& summary, const QString& body, bool failure) = 0;
    // Takes back the notification shown last, if it is still there.
    virtual void Withdraw() = 0;
};

// The platform's notifications, for window.
std::unique_ptr<DesktopNotice> SystemDesktopNotice(QWidget* window);
