#include "SimHarness.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

pid_t Spawn(const std::vector<std::string>& args, int& out, int* err) {
    int outPipe[2];
    int errPipe[2] = {-1, -1};
    if (::pipe(outPipe) != 0 || (err && ::pipe(errPipe) != 0))
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        if (err)
            ::dup2(errPipe[1], STDERR_FILENO);
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, STDIN_FILENO);
        std::vector<char*> argv;
        std::string path = QLM_SIM_PATH;
        argv.push_back(path.data());
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    out = outPipe[0];
    if (err) {
        ::close(errPipe[1]);
        *err = errPipe[0];
    }
    return pid;
}

int ExitStatusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}
} // namespace

SimProcess::SimProcess(const std::vector<std::string>& args) {
    pid_ = Spawn(args, out_, nullptr);
    if (pid_ < 0)
        return;
    const auto end = Clock::now() + std::chrono::seconds(5);
    std::string line;
    while (line.find('\n') == std::string::npos) {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, RemainingMs(end)) <= 0)
            return;
        char c;
        if (::read(out_, &c, 1) != 1)
            return;
        line += c;
    }
    slave_ = line.substr(0, line.find('\n'));
}

SimProcess::~SimProcess() {
    Stop();
    if (out_ >= 0)
        ::close(out_);
}

int SimProcess::Stop() {
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return ExitStatusOf(status);
}

int SimProcess::WaitExit(int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return ExitStatusOf(status);
        }
        if (RemainingMs(end) == 0)
            return -1;
        ::usleep(5000);
    }
    return -1;
}

RunResult RunSimToEnd(const std::vector<std::string>& args) {
    RunResult result;
    int out = -1;
    int err = -1;
    const pid_t pid = Spawn(args, out, &err);
    if (pid < 0)
        return result;
    // Usage text is small; reading one pipe after the other cannot block the child.
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    ::close(out);
    ::close(err);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = ExitStatusOf(status);
    return result;
}

SlavePort::SlavePort(const std::string& path, unsigned speed) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0)
        return;
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    ::tcsetattr(fd_, TCSANOW, &t);
}

SlavePort::~SlavePort() {
    if (fd_ >= 0)
        ::close(fd_);
}

void SlavePort::Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

std::string SlavePort::Read(size_t count, int timeoutMs) {
    std::string got;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, RemainingMs(end)) <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0)
            break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

void SlavePort::Purge() {
    ::tcflush(fd_, TCIOFLUSH);
}

std::string Packet(int seq, const std::string& data) {
    unsigned char sum = 0;
    for (const char c : data)
        sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(c));
    std::string p;
    p += '\x02';
    p += static_cast<char>(seq & 0xFF);
    p += static_cast<char>(0xFF - (seq & 0xFF));
    p += data;
    p += static_cast<char>(sum);
    return p;
}

std::string BlockData(int fill) {
    std::string data(1024, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((fill * 31 + i * 7) & 0xFF);
    return data;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string MakeTempDir() {
    char pattern[] = "/tmp/qlm-sim-test-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    return dir ? dir : "";
}
