#include "app/SystemInhibitor.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

// The lock is systemd-logind's inhibitor: held as long as the descriptor it hands out is open.
namespace {
constexpr int CallTimeoutMs = 10000;
// How long the window waits for the lock before it goes on without it; a late lock is still
// taken, and given back at once when the update has ended meanwhile.
constexpr std::chrono::milliseconds AnswerWait{1000};

// The inhibitor's descriptor, or -1 where there is no system bus, no logind, or it refused.
int TakeLock(const QString& who, const QString& why) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return -1;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:shutdown:idle") << who << why << QStringLiteral("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, CallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return -1;
    const auto lock = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
    if (!lock.isValid())
        return -1;
    // The reply's copy closes with it; ours is kept.
    return ::fcntl(lock.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

// One request for the lock; shared with the thread that asks the bus, which may outlive the
// update when the bus is slow.
struct LockRequest {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    bool released = false;
    int fd = -1;
};
} // namespace

struct SystemInhibitor::Backend {
    std::shared_ptr<LockRequest> request;
};

SystemInhibitor::SystemInhibitor(std::function<quintptr()>)
    : backend_(std::make_unique<Backend>()) {}

SystemInhibitor::~SystemInhibitor() {
    Release();
}

void SystemInhibitor::Hold(const QString& reason) {
    if (holding_)
        return;
    holding_ = true;
    auto request = std::make_shared<LockRequest>();
    backend_->request = request;
    // Asked on a thread of its own: a bus that does not answer must not stall the window.
    std::thread([request, who = QCoreApplication::applicationName(), why = reason] {
        const int fd = TakeLock(who, why);
        std::lock_guard lock(request->mutex);
        if (request->released) {
            if (fd >= 0)
                ::close(fd);
        } else
            request->fd = fd;
        request->done = true;
        request->answered.notify_all();
    }).detach();
    std::unique_lock lock(request->mutex);
    request->answered.wait_for(lock, AnswerWait, [&] { return request->done; });
}

void SystemInhibitor::Release() {
    if (!holding_)
        return;
    holding_ = false;
    const std::shared_ptr<LockRequest> request = std::move(backend_->request);
    std::lock_guard lock(request->mutex);
    request->released = true;
    if (request->fd >= 0) {
        ::close(request->fd);
        request->fd = -1;
    }
}
