#pragma once

#include <functional>

// The driver's serial flags (TIOCGSERIAL, TIOCSSERIAL) behind an interface, so that what the
// port does with them can be tested where no driver has them: pseudo-terminals refuse both.
class TComSerialFlags {
public:
    virtual ~TComSerialFlags() = default;
    // False when the driver has no such settings or refuses them.
    virtual bool Read(int fd, int& flags) = 0;
    // Writes flags with the driver's other settings as they are now.
    virtual bool Write(int fd, int flags) = 0;

    // The flags the ports use: the driver's, unless a test put others in place (nullptr puts
    // the driver's back). Returns what was in place before (nullptr: the driver's).
    static TComSerialFlags& Current();
    static TComSerialFlags* Use(TComSerialFlags* flags);
};

// Asks the driver of fd for low latency (ASYNC_LOW_LATENCY), so that a USB adapter hands each
// answer over at once instead of at its latency timer's next tick. Returns what puts the flag
// back as it was found, for the port's release: the common driver keeps it on the adapter
// until it is unplugged, long after this program. Empty when nothing was changed.
std::function<void()> RequestLowLatency(int fd, TComSerialFlags& flags);
