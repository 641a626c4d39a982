#include "PtyPair.h"

#include <QDir>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

int PtyLineRate(int master);

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        ADD_FAILURE() << "no pseudo-terminal: " << strerror(errno);
    else
        slavePath_ = QString::fromLocal8Bit(ptsname(master_));
}

PtyPair::~PtyPair() {
    HangUp();
}

void PtyPair::Write(const QByteArray& bytes) {
    ASSERT_EQ(write(master_, bytes.constData(), bytes.size()), bytes.size());
}

QByteArray PtyPair::Read(int want, int timeoutMs) {
    QByteArray got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < want) {
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) {
            got.append(buffer, n);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, static_cast<int>(left));
        if (p.revents & (POLLHUP | POLLERR)) {
            // Nobody holds the slave: nothing can arrive.
            usleep(1000);
        }
    }
    return got;
}

void PtyPair::HangUp() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

int PtyPair::LineRate() const {
    return PtyLineRate(master_);
}

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

int ThreadCount() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/task"))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}
