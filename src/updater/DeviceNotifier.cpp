#include "updater/DeviceNotifier.h"

#include "app/ErrorReport.h"

#include <QList>
#include <QSocketNotifier>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr unsigned KernelEventsGroup = 1;
}

DeviceNotifier::DeviceNotifier(QObject* parent) : QObject(parent) {
    fd_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd_ < 0)
        return;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = KernelEventsGroup;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this,
            [this] { RunGuarded([this] { ReadMessages(); }); });
}

DeviceNotifier::~DeviceNotifier() {
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

void DeviceNotifier::ReadMessages() {
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return; // drained (EAGAIN) or a transient error; the notifier fires again
        if (const auto code = ParseUevent(QByteArray(buffer, static_cast<int>(n))))
            emit Notice(*code);
    }
}

std::optional<int> DeviceNotifier::ParseUevent(const QByteArray& message) {
    // "ACTION@DEVPATH" followed by NUL-separated KEY=VALUE pairs.
    const QList<QByteArray> fields = message.split('\0');
    QByteArray action;
    QByteArray subsystem;
    for (const QByteArray& field : fields) {
        if (field.startsWith("ACTION="))
            action = field.mid(7);
        else if (field.startsWith("SUBSYSTEM="))
            subsystem = field.mid(10);
    }
    if (subsystem != "tty")
        return std::nullopt;
    if (action == "add")
        return DeviceArrival;
    if (action == "remove")
        return DeviceRemoveComplete;
    return std::nullopt;
}
