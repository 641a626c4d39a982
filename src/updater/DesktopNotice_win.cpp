#include "updater/DesktopNotice.h"

#include "app/AppInfo.h"
#include "app/ErrorReport.h"

#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

// A balloon from the notification area (a toast on Windows 10 and later), from an icon that
// is there only while the notification is: a click on it brings the window back.
namespace {
class TrayBalloon : public DesktopNotice {
public:
    explicit TrayBalloon(QWidget* window) : window_(window) {}

    void Show(const QString& summary, const QString& body, bool failure) override {
        if (!window_ || !QSystemTrayIcon::isSystemTrayAvailable())
            return;
        if (!icon_) {
            icon_ = std::make_unique<QSystemTrayIcon>(window_->windowIcon());
            icon_->setToolTip(AppInfo::Title);
            QObject::connect(icon_.get(), &QSystemTrayIcon::messageClicked, window_,
                             [this] { RunGuarded([this] { BringBack(); }); });
            QObject::connect(icon_.get(), &QSystemTrayIcon::activated, window_,
                             [this] { RunGuarded([this] { BringBack(); }); });
        }
        icon_->show();
        icon_->showMessage(summary, body,
                           failure ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information);
    }

    void Withdraw() override {
        if (icon_)
            icon_->hide(); // its balloon goes with it
    }

private:
    void BringBack() {
        if (!window_)
            return;
        window_->showNormal();
        window_->raise();
        window_->activateWindow();
    }

    QPointer<QWidget> window_;
    std::unique_ptr<QSystemTrayIcon> icon_;
};
} // namespace

std::unique_ptr<DesktopNotice> SystemDesktopNotice(QWidget* window) {
    return std::make_unique<TrayBalloon>(window);
}
