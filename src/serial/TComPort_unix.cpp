#include "serial/TComPort.h"

#include "serial/TComLowLatency_unix.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, for poll(); never negative.
int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

// Waits for the fd to become ready for events, at most timeoutMs (-1: no limit); returns the
// events seen (0 on time-out).
short WaitReady(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    while (poll(&p, 1, timeoutMs) < 0 && errno == EINTR) {
    }
    return p.revents;
}

int Fd(TComHandle handle) {
    return static_cast<int>(handle);
}

} // namespace

QString TCustomComPort::DevicePath(const QString& portName) {
    if (portName.contains(QLatin1Char('/')))
        return portName;
    return QStringLiteral("/dev/") + portName;
}

bool TCustomComPort::InUseError(uint32_t osError) {
    // The advisory lock is held (EWOULDBLOCK), or TIOCEXCL refused a second open (EBUSY).
    return osError == EWOULDBLOCK || osError == EBUSY;
}

QString TCustomComPort::OpenErrorText(uint32_t osError) {
    // The system's own words for ENOTTY speak of an ioctl, which tells a user nothing.
    if (osError == ENOTTY)
        return QStringLiteral("not a terminal");
    if (InUseError(osError))
        return QStringLiteral("in use by another program");
    return qt_error_string(int(osError));
}

void TCustomComPort::OpenHandle() {
    const QString path = DevicePath(port_);
    const QByteArray native = path.toLocal8Bit();
    int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0 && !isatty(fd))
        error = ENOTTY;
    // The lock keeps out every other user, root included; TIOCEXCL keeps out those that do
    // not lock. Locking first, so a refused open leaves the holder's flags alone.
    if (!error && flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno;
    if (!error && ioctl(fd, TIOCEXCL) != 0)
        error = errno;
    if (error) {
        if (fd >= 0)
            ::close(fd);
        Raise(CE_OpenFailed, error);
    }
    // The 16 ms latency timer that holds each of the device's answers back belongs to one
    // family of USB adapter chips, whose driver takes this flag for a 1 ms timer. Other
    // drivers accept the flag without effect or refuse it (pseudo-terminals), and nothing
    // changes for them.
    restoreDevice_ = RequestLowLatency(fd, TComSerialFlags::Current());
    handle_ = fd;
}

void TCustomComPort::ReleaseHandle() {
    if (!Connected())
        return;
    if (restoreDevice_)
        std::exchange(restoreDevice_, {})();
    // On a pseudo-terminal the exclusive flag outlives the close and would refuse the next
    // open by an ordinary user.
    ioctl(Fd(handle_), TIOCNXCL);
    ::close(Fd(handle_));
    handle_ = NoComHandle;
}

// The time-outs are kept by the port and used by WriteBytes and ReadText themselves.
void TCustomComPort::ApplyTimeouts() {}

// The terminal driver sizes its own queues; there is nothing to set.
void TCustomComPort::ApplyBufferSizes() {}

void TCustomComPort::PurgeBuffers(bool input, bool output) {
    if (!Connected() || (!input && !output))
        return;
    tcflush(Fd(handle_), input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH));
}

int TCustomComPort::WriteBytes(const void* buffer, int count) {
    if (count <= 0)
        return 0;
    if (!Connected())
        Raise(CE_WriteFailed, EBADF);
    const long long limitMs = static_cast<long long>(timeouts_.WriteTotalMultiplier) * count +
                              timeouts_.WriteTotalConstant;
    const bool limited = limitMs > 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? limitMs : 0);
    const auto* bytes = static_cast<const char*>(buffer);
    int written = 0;
    while (written < count) {
        const ssize_t n =
            ::write(Fd(handle_), bytes + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            Raise(CE_WriteFailed, errno);
        // The driver's queue is full: wait until it takes more, within the time-out.
        if (limited && MsLeft(deadline) == 0)
            break;
        const short ready = WaitReady(Fd(handle_), POLLOUT, limited ? MsLeft(deadline) : -1);
        // A device that is gone never takes bytes again; waiting out the time-out would spin.
        if ((ready & (POLLHUP | POLLERR | POLLNVAL)) && !(ready & POLLOUT))
            Raise(CE_WriteFailed, EIO);
    }
    return written;
}

int TCustomComPort::ReadText(QByteArray& str, int count) {
    str.clear();
    if (count <= 0)
        return 0;
    if (!Connected())
        Raise(CE_ReadFailed, EBADF);
    const long long limitMs =
        static_cast<long long>(timeouts_.ReadTotalMultiplier) * count + timeouts_.ReadTotalConstant;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs > 0 ? limitMs : 0);
    str.resize(count);
    int got = 0;
    while (got < count) {
        const ssize_t n = ::read(Fd(handle_), str.data() + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            str.clear();
            Raise(CE_ReadFailed, errno);
        }
        // Nothing queued (or end of file on a device that hung up).
        if (n == 0 || limitMs <= 0 || MsLeft(deadline) == 0)
            break;
        WaitReady(Fd(handle_), POLLIN, MsLeft(deadline));
    }
    str.resize(got);
    return got;
}

int TCustomComPort::WaitingCount() {
    if (!Connected())
        Raise(CE_ClearComFailed, EBADF);
    int queued = 0;
    if (ioctl(Fd(handle_), TIOCINQ, &queued) != 0)
        Raise(CE_ClearComFailed, errno);
    return queued;
}
