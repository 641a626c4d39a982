#pragma once

#include <string>

// The host's line settings as the slave side has them.
struct HostLine {
    int baud = 0;         // 0 when unknown
    int bitsPerChar = 10; // start + data + parity + stop
    bool framing8N1 = false;
    bool operator==(const HostLine&) const = default;
};

// The master side of a pseudo-terminal; the slave is the simulated device's serial port.
// The simulator never keeps the slave open, so the host can lock it exclusively.
class PtyPort {
public:
    PtyPort() = default;
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;
    ~PtyPort();

    bool Open(std::string& error);
    void Close();
    int Fd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    bool MakeLink(const std::string& path, std::string& error);
    void RemoveLink();

    // Readable when someone opens or closes the slave (-1 if the system cannot tell).
    int WatchFd() const { return watch_; }
    void DrainWatch();

    // Reads the slave's termios through the master.
    HostLine QueryLine() const;

private:
    int master_ = -1;
    int watch_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};
