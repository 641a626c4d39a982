#include "PtyPort.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
int BaudOf(speed_t speed) {
    switch (speed) {
    case B50:
        return 50;
    case B75:
        return 75;
    case B110:
        return 110;
    case B134:
        return 134;
    case B150:
        return 150;
    case B200:
        return 200;
    case B300:
        return 300;
    case B600:
        return 600;
    case B1200:
        return 1200;
    case B1800:
        return 1800;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    case B460800:
        return 460800;
    case B921600:
        return 921600;
    default:
        return 0;
    }
}

int DataBits(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}
} // namespace

PtyPort::~PtyPort() {
    RemoveLink();
    Close();
}

bool PtyPort::Open(std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    char name[PATH_MAX];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    slavePath_ = name;
    // Open the slave once and close it again: from then on the master reports a hang-up
    // whenever no one has the slave open, instead of depending on whether it ever was.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) {
        error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
        Close();
        return false;
    }
    ::close(slave);
    // A host may open, write and close again faster than the closed-line recheck; being told
    // of the open at once lets us read its bytes while its line settings still hold.
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
    return true;
}

void PtyPort::Close() {
    if (watch_ >= 0)
        ::close(watch_);
    watch_ = -1;
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void PtyPort::DrainWatch() {
    char events[4096];
    while (watch_ >= 0 && ::read(watch_, events, sizeof events) > 0) {
    }
}

bool PtyPort::MakeLink(const std::string& path, std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = path + " exists and is not a symlink; not replacing it";
            return false;
        }
        ::unlink(path.c_str());
    }
    if (::symlink(slavePath_.c_str(), path.c_str()) != 0) {
        error = "cannot create symlink " + path + ": " + std::strerror(errno);
        return false;
    }
    linkPath_ = path;
    return true;
}

void PtyPort::RemoveLink() {
    if (linkPath_.empty())
        return;
    // Only remove it while it is still ours.
    char target[PATH_MAX];
    const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<size_t>(n)) == slavePath_)
        ::unlink(linkPath_.c_str());
    linkPath_.clear();
}

HostLine PtyPort::QueryLine() const {
    HostLine line;
    termios t{};
    if (master_ < 0 || ::tcgetattr(master_, &t) != 0)
        return line;
    line.baud = BaudOf(cfgetospeed(&t));
    const int data = DataBits(t.c_cflag);
    const int parity = (t.c_cflag & PARENB) ? 1 : 0;
    const int stop = (t.c_cflag & CSTOPB) ? 2 : 1;
    line.bitsPerChar = 1 + data + parity + stop;
    line.framing8N1 = data == 8 && parity == 0 && stop == 1;
    return line;
}
