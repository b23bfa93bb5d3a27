// Runs the system's programs from tests: argument vector, extra environment, captured
// standard output and error, a time limit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int exitCode = -1;   // exit status, or -1 when killed by a signal
    int signal = 0;      // the signal that ended it, 0 when it exited
    bool timedOut = false;
    std::string out;
    std::string err;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

// A started child whose standard output and error go to files until it is waited for.
class Process {
public:
    Process(const std::vector<std::string>& argv, const Environment& env = {});
    ~Process();  // kills and reaps a child still running
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int sig) const;
    bool running();
    // Waits until the child ends or the limit passes (then it is killed, timedOut set).
    ProcessResult wait(std::chrono::milliseconds limit = std::chrono::seconds(30));
    // What the child has written so far.
    std::string outSoFar() const;
    std::string errSoFar() const;

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::string outFile_;
    std::string errFile_;
};

ProcessResult runProcess(const std::vector<std::string>& argv, const Environment& env = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(30));

// Polls until predicate holds or the limit passes; returns the predicate's last value.
template <typename Predicate>
bool waitFor(Predicate predicate, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return predicate();
        struct timespec pause { 0, 10'000'000 };
        nanosleep(&pause, nullptr);
    }
    return true;
}

// Path of a built program or helper: <build tree>/<relative>.
std::string binaryPath(const std::string& relative);
// Path in the source tree: <source tree>/<relative>.
std::string sourcePath(const std::string& relative);

} // namespace testsupport
