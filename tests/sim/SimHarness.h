#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The simulator as a child process; stopped with SIGTERM when destroyed.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The slave path from the first line of stdout; empty if none came within 5 s.
    const std::string& SlavePath() const { return slave_; }
    pid_t Pid() const { return pid_; }
    // Sends SIGTERM and gives the exit status (-1 if it did not exit normally).
    int Stop();
    // Waits for the process to end by itself; -1 on timeout or abnormal end.
    int WaitExit(int timeoutMs);

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string slave_;
};

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};
// Runs the simulator to its end (for command-line checks).
RunResult RunSimToEnd(const std::vector<std::string>& args);

// The host's side: the slave opened raw, 8N1, at one baud rate (a termios speed constant).
class SlavePort {
public:
    SlavePort(const std::string& path, unsigned speed);
    ~SlavePort();
    SlavePort(const SlavePort&) = delete;
    SlavePort& operator=(const SlavePort&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    void Write(const std::string& bytes);
    // Reads until `count` bytes have come or `timeoutMs` has passed.
    std::string Read(size_t count, int timeoutMs);
    void Purge();

private:
    int fd_ = -1;
};

std::string Packet(int seq, const std::string& data);
std::string BlockData(int fill);
std::string ReadFile(const std::string& path);
std::string MakeTempDir();
