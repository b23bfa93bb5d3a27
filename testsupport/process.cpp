#include "testsupport/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

std::string readAll(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string tempFile(const char* tag)
{
    std::string name = std::string("/tmp/tarnvik-proc-") + tag + "-XXXXXX";
    int fd = ::mkstemp(name.data());
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    ::close(fd);
    return name;
}

} // namespace

Process::Process(const std::vector<std::string>& argv, const Environment& env)
    : outFile_(tempFile("out")), errFile_(tempFile("err"))
{
    if (argv.empty())
        throw std::invalid_argument("empty argv");
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(outFile_.c_str(), O_WRONLY | O_TRUNC);
        int err = ::open(errFile_.c_str(), O_WRONLY | O_TRUNC);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::setpgid(0, 0);
        for (const auto& [name, value] : env)
            ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
}

Process::~Process()
{
    if (!reaped_ && pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
    ::unlink(outFile_.c_str());
    ::unlink(errFile_.c_str());
}

void Process::signal(int sig) const
{
    if (!reaped_)
        ::kill(pid_, sig);
}

bool Process::running()
{
    if (reaped_)
        return false;
    pid_t done = ::waitpid(pid_, &status_, WNOHANG);
    if (done == pid_)
        reaped_ = true;
    return !reaped_;
}

ProcessResult Process::wait(std::chrono::milliseconds limit)
{
    ProcessResult result;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            result.timedOut = true;
            ::kill(-pid_, SIGKILL);
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
            reaped_ = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status_)) {
        result.exitCode = WEXITSTATUS(status_);
    } else if (WIFSIGNALED(status_)) {
        result.signal = WTERMSIG(status_);
    }
    result.out = readAll(outFile_);
    result.err = readAll(errFile_);
    return result;
}

std::string Process::outSoFar() const
{
    return readAll(outFile_);
}

std::string Process::errSoFar() const
{
    return readAll(errFile_);
}

ProcessResult runProcess(const std::vector<std::string>& argv, const Environment& env, std::chrono::milliseconds limit)
{
    Process process(argv, env);
    return process.wait(limit);
}

// The environment may move the trees (an installed test run); the build's own are the default.
static std::string treePath(const char* variable, const char* builtin, const std::string& relative)
{
    const char* dir = std::getenv(variable);
    return std::string(dir && *dir ? dir : builtin) + "/" + relative;
}

std::string binaryPath(const std::string& relative)
{
    return treePath("TARNVIK_BINARY_DIR", TARNVIK_BINARY_DIR_BUILTIN, relative);
}

std::string sourcePath(const std::string& relative)
{
    return treePath("TARNVIK_SOURCE_DIR", TARNVIK_SOURCE_DIR_BUILTIN, relative);
}

} // namespace testsupport
