#include "serial/TComPort.h"

#include "serial/TComLine.h"

#include <QDebug>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

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

} // namespace

int BaudRateValue(TBaudRate rate, int customRate) {
    switch (rate) {
    case brCustom:
        return customRate;
    case br110:
        return 110;
    case br300:
        return 300;
    case br600:
        return 600;
    case br1200:
        return 1200;
    case br2400:
        return 2400;
    case br4800:
        return 4800;
    case br9600:
        return 9600;
    case br14400:
        return 14400;
    case br19200:
        return 19200;
    case br38400:
        return 38400;
    case br56000:
        return 56000;
    case br57600:
        return 57600;
    case br115200:
        return 115200;
    case br128000:
        return 128000;
    case br256000:
        return 256000;
    }
    return customRate;
}

TCustomComPort::TCustomComPort(QObject* parent) : QObject(parent) {}

TCustomComPort::~TCustomComPort() {
    Close();
}

void TCustomComPort::Raise(uint8_t code, int osError) const {
    throw EComPortExt(code, static_cast<uint32_t>(osError), port_);
}

QString TCustomComPort::DevicePath(const QString& portName) {
    if (portName.contains(QLatin1Char('/')))
        return portName;
    return QStringLiteral("/dev/") + portName;
}

void TCustomComPort::SetPort(const QString& name) {
    if (name == port_)
        return;
    port_ = name;
    if (Connected()) {
        Close();
        Open();
    }
}

void TCustomComPort::SetBaudRate(TBaudRate rate) {
    if (rate == baudRate_)
        return;
    baudRate_ = rate;
    ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int rate) {
    if (rate == customBaudRate_)
        return;
    customBaudRate_ = rate;
    if (baudRate_ == brCustom)
        ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits bits) {
    if (bits == dataBits_)
        return;
    dataBits_ = bits;
    ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits bits) {
    if (bits == stopBits_)
        return;
    stopBits_ = bits;
    ApplyLineSettings();
}

void TCustomComPort::SetParity(const TComParity& parity) {
    if (parity == parity_)
        return;
    parity_ = parity;
    ApplyLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& flow) {
    if (flow == flowControl_)
        return;
    flowControl_ = flow;
    ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& timeouts) {
    if (timeouts == timeouts_)
        return;
    timeouts_ = timeouts;
    ApplyTimeouts();
}

void TCustomComPort::SetBuffer(const TComBuffer& buffer) {
    TComBuffer even = buffer;
    even.InputSize -= even.InputSize % 2;
    even.OutputSize -= even.OutputSize % 2;
    if (even == buffer_)
        return;
    buffer_ = even;
    ApplyBufferSizes();
}

void TCustomComPort::SetConnected(bool connected) {
    if (connected)
        Open();
    else
        Close();
}

void TCustomComPort::Open() {
    if (Connected())
        return;
    OpenHandle();
    try {
        ApplySettings();
        if (events_ & evRxChar)
            thread_ = std::make_unique<TComThread>(fd_, &handOff_, [this] { DeliverRxChar(); });
    } catch (const std::system_error& error) {
        ReleaseHandle();
        Raise(CE_OpenFailed, error.code().value());
    } catch (...) {
        ReleaseHandle();
        throw;
    }
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
        qDebug().noquote() << "open" << path << ":" << strerror(error);
        Raise(CE_OpenFailed, error);
    }
    fd_ = fd;
}

void TCustomComPort::ReleaseHandle() {
    if (fd_ < 0)
        return;
    // On a pseudo-terminal the exclusive flag outlives the close and would refuse the next
    // open by an ordinary user.
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

void TCustomComPort::ApplySettings() {
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeouts();
}

void TCustomComPort::ApplyLineSettings() {
    if (!Connected())
        return;
    TComLine line;
    line.Rate = BaudRateValue(baudRate_, customBaudRate_);
    line.DataBits = dataBits_;
    line.StopBits = stopBits_;
    line.Parity = parity_;
    line.FlowControl = flowControl_;
    if (int error = line.ApplyTo(fd_))
        Raise(CE_SetStateFailed, error);
}

// The time-outs are kept by the port and used by WriteBytes and ReadText themselves.
void TCustomComPort::ApplyTimeouts() {}

// The terminal driver sizes its own queues; there is nothing to set.
void TCustomComPort::ApplyBufferSizes() {}

void TCustomComPort::Close() {
    if (!Connected())
        return;
    if (thread_) {
        thread_->Stop();
        thread_.reset();
    }
    // A device that hung up refuses the purge; closing must still go through.
    tcflush(fd_, TCIOFLUSH);
    ReleaseHandle();
}

bool TCustomComPort::ReceiveDetached() const {
    return Connected() && (!thread_ || thread_->Detached());
}

void TCustomComPort::PurgeBuffers(bool input, bool output) {
    if (!Connected() || (!input && !output))
        return;
    tcflush(fd_, input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH));
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
        const ssize_t n = ::write(fd_, bytes + written, static_cast<size_t>(count - written));
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
        const short ready = WaitReady(fd_, POLLOUT, limited ? MsLeft(deadline) : -1);
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
        const ssize_t n = ::read(fd_, str.data() + got, static_cast<size_t>(count - got));
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
        WaitReady(fd_, POLLIN, MsLeft(deadline));
    }
    str.resize(got);
    return got;
}

int TCustomComPort::WaitingCount() {
    if (!Connected())
        Raise(CE_ClearComFailed, EBADF);
    int queued = 0;
    if (ioctl(fd_, TIOCINQ, &queued) != 0)
        Raise(CE_ClearComFailed, errno);
    return queued;
}

void TCustomComPort::DeliverRxChar() {
    const int count = WaitingCount();
    if (count > 0 && OnRxChar)
        OnRxChar(this, count);
}
