#include "serial/TComLowLatency_unix.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace {

class TDriverSerialFlags : public TComSerialFlags {
public:
    bool Read(int fd, int& flags) override {
        serial_struct serial{};
        if (ioctl(fd, TIOCGSERIAL, &serial) != 0)
            return false;
        flags = serial.flags;
        return true;
    }
    bool Write(int fd, int flags) override {
        serial_struct serial{};
        if (ioctl(fd, TIOCGSERIAL, &serial) != 0)
            return false;
        serial.flags = flags;
        return ioctl(fd, TIOCSSERIAL, &serial) == 0;
    }
};

TComSerialFlags* inUse = nullptr;

} // namespace

TComSerialFlags& TComSerialFlags::Current() {
    static TDriverSerialFlags driver;
    return inUse ? *inUse : driver;
}

TComSerialFlags* TComSerialFlags::Use(TComSerialFlags* flags) {
    TComSerialFlags* before = inUse;
    inUse = flags;
    return before;
}

std::function<void()> RequestLowLatency(int fd, TComSerialFlags& flags) {
    int found = 0;
    if (!flags.Read(fd, found) || (found & ASYNC_LOW_LATENCY))
        return {};
    if (!flags.Write(fd, found | ASYNC_LOW_LATENCY))
        return {};
    // Only the flag goes back: other settings may have been changed meanwhile, on purpose.
    return [fd, &flags] {
        int now = 0;
        if (flags.Read(fd, now) && (now & ASYNC_LOW_LATENCY))
            flags.Write(fd, now & ~ASYNC_LOW_LATENCY);
    };
}
