#include "updater/TaskbarProgress.h"

#include "app/AppInfo.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

// The launcher entry of the dock or task manager (Ubuntu's dock, KDE Plasma and others): a
// signal on the session bus naming the program's menu entry. Desktops that do not listen
// lose nothing, and without a session bus nothing is sent.
namespace {
class LauncherEntryProgress : public TaskbarProgress {
public:
    void ShowProgress(int percent) override {
        Send({{QStringLiteral("progress"), percent / 100.0},
              {QStringLiteral("progress-visible"), true},
              {QStringLiteral("urgent"), false}});
    }
    void ShowFailure() override {
        Send({{QStringLiteral("progress-visible"), false}, {QStringLiteral("urgent"), true}});
    }
    void Clear() override {
        Send({{QStringLiteral("progress-visible"), false}, {QStringLiteral("urgent"), false}});
    }

private:
    static void Send(const QVariantMap& properties) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        QDBusMessage update = QDBusMessage::createSignal(
            QStringLiteral("/com/canonical/unity/launcherentry/quillmoor_updater"),
            QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
        update << QStringLiteral("application://%1.desktop").arg(AppInfo::DesktopId) << properties;
        bus.send(update);
    }
};
} // namespace

std::unique_ptr<TaskbarProgress> SystemTaskbarProgress(QWidget*) {
    return std::make_unique<LauncherEntryProgress>();
}
