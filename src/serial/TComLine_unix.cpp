#include "serial/TComLine.h"

#include "serial/TComCustomRate.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

struct RateConstant {
    int rate;
    speed_t speed;
};

constexpr RateConstant StandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
};

bool StandardSpeed(int rate, speed_t& speed) {
    for (const auto& entry : StandardRates) {
        if (entry.rate == rate) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

tcflag_t SizeFlag(TDataBits bits) {
    switch (bits) {
    case dbFive:
        return CS5;
    case dbSix:
        return CS6;
    case dbSeven:
        return CS7;
    case dbEight:
        break;
    }
    return CS8;
}

tcflag_t ParityFlags(TParityBits bits) {
    switch (bits) {
    case prOdd:
        return PARENB | PARODD;
    case prEven:
        return PARENB;
    case prMark:
        return PARENB | CMSPAR | PARODD;
    case prSpace:
        return PARENB | CMSPAR;
    case prNone:
        break;
    }
    return 0;
}

// Modem lines are best effort: pseudo-terminals have none and refuse the request.
void SetModemLine(int fd, int line, bool on) {
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

} // namespace

int TComLine::ApplyTo(TComHandle handle) const {
    const int fd = static_cast<int>(handle);
    if (Rate <= 0)
        return EINVAL;
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return errno;
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | SizeFlag(DataBits) | ParityFlags(Parity.Bits);
    // One and a half stop bits exist only with five data bits, where CSTOPB gives them.
    if (StopBits != sbOneStopBit)
        t.c_cflag |= CSTOPB;
    if (FlowControl.OutCTSFlow || FlowControl.ControlRTS == rtsHandshake)
        t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    if (Parity.Check)
        t.c_iflag |= INPCK;
    if (FlowControl.XonXoffOut)
        t.c_iflag |= IXON;
    if (FlowControl.XonXoffIn)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = FlowControl.XonChar;
    t.c_cc[VSTOP] = FlowControl.XoffChar;
    // Reads return at once with what is queued; waiting is done with poll().
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    speed_t speed = B38400;
    const bool standard = StandardSpeed(Rate, speed);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        return errno;
    if (!standard) {
        if (int error = SetCustomRate(fd, Rate))
            return error;
    }

    // DTR and RTS follow their settings; with handshake the driver owns the line.
    if (FlowControl.ControlDTR != dtrHandshake)
        SetModemLine(fd, TIOCM_DTR, FlowControl.ControlDTR == dtrEnable);
    else
        SetModemLine(fd, TIOCM_DTR, true);
    if (FlowControl.ControlRTS != rtsHandshake)
        SetModemLine(fd, TIOCM_RTS, FlowControl.ControlRTS == rtsEnable);
    return 0;
}
