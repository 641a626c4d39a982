#include "SimRunner.h"

#include "LineReceiver.h"
#include "LineTransmitter.h"
#include "PtyPort.h"
#include "SimDevice.h"
#include "SimLog.h"
#include "TransferStats.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <random>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t stopSignal = 0;

void OnStopSignal(int sig) {
    stopSignal = sig;
}

// While no one has the slave open the master reports a hang-up at once; look again this often.
constexpr auto kClosedRecheck = std::chrono::milliseconds(30);
// Upper bound of one wait while the slave is open, so that line changes get logged.
constexpr auto kOpenRecheck = std::chrono::milliseconds(250);

timespec ToTimespec(SimDuration d) {
    if (d < SimDuration::zero())
        d = SimDuration::zero();
    const auto ns = d.count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

class Runner {
public:
    explicit Runner(const SimOptions& o)
        : o_(o), rx_(o.pace), tx_(o.pace), device_(o, tx_, stats_, SimClock::now()),
          noiseRng_(o.seed + 2) {}

    int Run();

private:
    bool Setup();
    void Wait(SimTime deadline);
    void ReadMaster(SimTime now);
    void ReadStdin();
    void Deliver(SimTime now);
    void Transmit(SimTime now);
    void CheckLine();
    void WriteStats();
    void Shutdown();

    const SimOptions& o_;
    PtyPort pty_;
    LineReceiver rx_;
    LineTransmitter tx_;
    TransferStats stats_;
    SimDevice device_;
    std::mt19937 noiseRng_;
    sigset_t waitMask_{};
    bool slaveOpen_ = false;
    bool quit_ = false;
    HostLine line_;
    int imagesSeen_ = 0;
};

bool Runner::Setup() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    // Stop signals are only taken inside ppoll(), so none is lost between test and wait.
    sigprocmask(SIG_BLOCK, &stops, &waitMask_);
    sigdelset(&waitMask_, SIGINT);
    sigdelset(&waitMask_, SIGTERM);
    sigdelset(&waitMask_, SIGHUP);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Wake as close to the pacing deadlines as the kernel allows.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    std::string error;
    if (!pty_.Open(error) || (!o_.linkPath.empty() && !pty_.MakeLink(o_.linkPath, error))) {
        simlog::Error("%s", error.c_str());
        return false;
    }
    std::printf("%s\n", pty_.SlavePath().c_str());
    std::fflush(stdout);
    simlog::Line("device on %s%s%s, normal operation at 9600 baud, pacing %s",
                 pty_.SlavePath().c_str(), o_.linkPath.empty() ? "" : " via ", o_.linkPath.c_str(),
                 o_.pace ? "on" : "off");
    return true;
}

int Runner::Run() {
    if (!Setup())
        return 1;
    while (!stopSignal && !quit_) {
        const SimTime now = SimClock::now();
        Deliver(now);
        if (device_.HangupRequested())
            break;
        device_.OnTimer(now);
        // Figures first: whoever sees the EOT's ACK finds them up to date.
        const bool imageDone = device_.ImagesCompleted() != imagesSeen_;
        if (imageDone) {
            imagesSeen_ = device_.ImagesCompleted();
            WriteStats();
        }
        Transmit(now);
        if (imageDone && o_.exitAfterImages > 0 && imagesSeen_ >= o_.exitAfterImages)
            break;
        SimTime deadline = std::min(device_.NextTimer(), rx_.ArrivalOfNth(device_.BytesWanted()));
        if (slaveOpen_)
            deadline = std::min(deadline, tx_.NextDue());
        Wait(deadline);
    }
    if (stopSignal)
        simlog::Line("signal %d: stopping", static_cast<int>(stopSignal));
    Shutdown();
    return 0;
}

void Runner::Wait(SimTime deadline) {
    const SimTime now = SimClock::now();
    const SimDuration cap = slaveOpen_ ? SimDuration(kOpenRecheck) : SimDuration(kClosedRecheck);
    const timespec timeout = ToTimespec(std::min<SimDuration>(deadline - now, cap));
    pollfd fds[3];
    nfds_t count = 0;
    nfds_t masterIndex = 3;
    nfds_t stdinIndex = 3;
    if (slaveOpen_) {
        masterIndex = count;
        fds[count++] = pollfd{pty_.Fd(), POLLIN, 0};
    }
    const nfds_t watchIndex = count;
    fds[count++] = pollfd{pty_.WatchFd(), POLLIN, 0}; // ignored by poll when -1
    if (o_.stdinControl) {
        stdinIndex = count;
        fds[count++] = pollfd{STDIN_FILENO, POLLIN, 0};
    }
    const int ready = ppoll(fds, count, &timeout, &waitMask_);
    if (ready < 0 && errno != EINTR) {
        simlog::Error("poll failed: %s", std::strerror(errno));
        quit_ = true;
        return;
    }
    if (ready <= 0)
        for (auto& fd : fds)
            fd.revents = 0;
    if (fds[watchIndex].revents)
        pty_.DrainWatch();
    if (stdinIndex < count && fds[stdinIndex].revents)
        ReadStdin();
    if (!slaveOpen_) {
        // Look whether someone opened the slave meanwhile.
        pollfd master{pty_.Fd(), POLLIN, 0};
        if (::poll(&master, 1, 0) >= 0 && !(master.revents & POLLHUP)) {
            slaveOpen_ = true;
            line_ = pty_.QueryLine();
            simlog::Line("slave opened (%d baud%s)", line_.baud,
                         line_.framing8N1 ? "" : ", not 8N1");
        }
        if (master.revents & POLLIN)
            ReadMaster(SimClock::now());
        return;
    }
    const short revents = fds[masterIndex].revents;
    if (revents & POLLIN)
        ReadMaster(SimClock::now());
    if (revents & (POLLHUP | POLLERR) && !(revents & POLLIN) && slaveOpen_) {
        slaveOpen_ = false;
        simlog::Line("slave closed");
    }
    if (slaveOpen_)
        CheckLine();
}

void Runner::CheckLine() {
    const HostLine now = pty_.QueryLine();
    if (now == line_)
        return;
    line_ = now;
    simlog::Line("host line now %d baud%s", line_.baud, line_.framing8N1 ? "" : ", not 8N1");
}

void Runner::ReadMaster(SimTime now) {
    uint8_t buffer[4096];
    while (true) {
        const ssize_t n = ::read(pty_.Fd(), buffer, sizeof buffer);
        if (n > 0) {
            // The rate at the moment of reading is the one the host sent with.
            CheckLine();
            const bool garbled = line_.baud != device_.Rate() || !line_.framing8N1;
            rx_.Push(buffer, static_cast<size_t>(n), now, CharTime(line_.baud, line_.bitsPerChar),
                     garbled);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EIO && slaveOpen_) {
            // No slave open any more.
            slaveOpen_ = false;
            simlog::Line("slave closed");
        }
        return;
    }
}

void Runner::ReadStdin() {
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
        simlog::Line("stdin closed: stopping");
        quit_ = true;
        return;
    }
    if (std::string(buffer, static_cast<size_t>(n)).find("quit") != std::string::npos) {
        simlog::Line("told to quit");
        quit_ = true;
    }
}

void Runner::Deliver(SimTime now) {
    while (!rx_.Empty() && rx_.Front().arrival <= now && !device_.HangupRequested()) {
        device_.OnByte(rx_.Front());
        rx_.Pop();
    }
}

void Runner::Transmit(SimTime now) {
    for (auto& piece : tx_.TakeDue(now)) {
        if (!slaveOpen_)
            continue; // no one listening: the bytes are lost on the line
        const bool matched = line_.baud == piece.rate && line_.framing8N1;
        if (!piece.noise && !matched) {
            if (!o_.noise)
                continue; // the host hears nothing it can read
            std::uniform_int_distribution<int> high(0x80, 0xFF);
            for (char& c : piece.bytes)
                c = static_cast<char>(high(noiseRng_));
        }
        const ssize_t n = ::write(pty_.Fd(), piece.bytes.data(), piece.bytes.size());
        const SimTime written = SimClock::now();
        if (n < 0) {
            simlog::Line("write failed: %s", std::strerror(errno));
            continue;
        }
        if (static_cast<size_t>(n) < piece.bytes.size())
            simlog::Line("host not reading: %zu bytes lost", piece.bytes.size() - n);
        if (piece.ack && matched)
            stats_.OnAckWritten(written, written - piece.due);
    }
}

void Runner::WriteStats() {
    if (!o_.statsFile.empty() && !stats_.WriteFile(o_.statsFile))
        simlog::Error("cannot write %s: %s", o_.statsFile.c_str(), std::strerror(errno));
}

void Runner::Shutdown() {
    WriteStats();
    pty_.RemoveLink();
    pty_.Close();
}

} // namespace

int RunSimulator(const SimOptions& options) {
    Runner runner(options);
    return runner.Run();
}
