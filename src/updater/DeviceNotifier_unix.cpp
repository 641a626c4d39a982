#include "updater/DeviceNotifier.h"

#include "app/ErrorReport.h"

#include <QSocketNotifier>
#include <QWidget>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr unsigned KernelEventsGroup = 1;
}

// A netlink socket on the kernel's uevent group, read when the event loop sees it ready.
class DeviceNotifier::Source {
public:
    explicit Source(DeviceNotifier* owner) : owner_(owner) {
        fd_ =
            ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
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
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, owner,
                         [this] { RunGuarded([this] { ReadMessages(); }); });
    }

    ~Source() {
        notifier_.reset();
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool Listening() const { return fd_ >= 0; }

private:
    void ReadMessages() {
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                return; // drained (EAGAIN) or a transient error; the notifier fires again
            if (const auto code = ParseUevent(QByteArray(buffer, static_cast<int>(n))))
                emit owner_->Notice(*code);
        }
    }

    DeviceNotifier* owner_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

DeviceNotifier::DeviceNotifier(QWidget* window)
    : QObject(window), source_(std::make_unique<Source>(this)) {}

DeviceNotifier::~DeviceNotifier() = default;

bool DeviceNotifier::Listening() const {
    return source_->Listening();
}
