#include "updater/DesktopNotice.h"

#include "app/AppInfo.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QVariantMap>

// The desktop's notification service on the session bus. Calls never wait for it: a service
// that is missing or slow answers with an error or late, and the program goes on meanwhile.
namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
constexpr uchar NormalUrgency = 1;
constexpr uchar CriticalUrgency = 2;

class NotificationService : public DesktopNotice {
public:
    void Show(const QString& summary, const QString& body, bool failure) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        QDBusMessage call =
            QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
        const QVariantMap hints{
            {QStringLiteral("desktop-entry"), AppInfo::DesktopId},
            {QStringLiteral("urgency"),
             QVariant::fromValue<uchar>(failure ? CriticalUrgency : NormalUrgency)}};
        // The icon is the one the menu entry installs; the server's default time on screen.
        call << AppInfo::Title << id_ << AppInfo::DesktopId << summary << body << QStringList()
             << hints << -1;
        withdrawDue_ = false;
        ++pending_;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), &context_);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &context_,
                         [this](QDBusPendingCallWatcher* done) {
                             done->deleteLater();
                             --pending_;
                             const QDBusPendingReply<uint> reply = *done;
                             if (reply.isValid())
                                 id_ = reply.value();
                             if (withdrawDue_ && pending_ == 0)
                                 Withdraw();
                         });
    }

    void Withdraw() override {
        if (pending_ > 0) {
            withdrawDue_ = true; // once the service has said which one it showed
            return;
        }
        withdrawDue_ = false;
        if (id_ == 0)
            return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface,
                                                           QStringLiteral("CloseNotification"));
        call << id_;
        id_ = 0;
        bus.send(call);
    }

private:
    QObject context_; // replies that come after this object has gone are dropped
    uint id_ = 0;     // the notification shown last, which the next one replaces
    int pending_ = 0;
    bool withdrawDue_ = false;
};
} // namespace

std::unique_ptr<DesktopNotice> SystemDesktopNotice(QWidget*) {
    return std::make_unique<NotificationService>();
}
