#include "testsupport/xserver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "testsupport/process.h"

namespace testsupport {

std::unique_ptr<XServer> XServer::start(const std::string& program, const std::string& extraArgs)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return nullptr;
    char logTemplate[] = "/tmp/tarnvik-xserver-XXXXXX";
    int logFd = ::mkstemp(logTemplate);
    if (logFd < 0)
        return nullptr;

    std::vector<std::string> args = {program, "-displayfd", std::to_string(pipeFds[1]), "-nolisten", "tcp", "-noreset"};
    std::istringstream extra(extraArgs);
    for (std::string word; extra >> word;)
        args.push_back(word);

    pid_t pid = ::fork();
    if (pid < 0)
        return nullptr;
    if (pid == 0) {
        ::close(pipeFds[0]);
        int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(logFd, 1);
        ::dup2(logFd, 2);
        ::setsid();
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ::close(logFd);

    // The server writes its display number and a newline once it accepts clients.
    std::string number;
    pollfd wait{pipeFds[0], POLLIN, 0};
    while (::poll(&wait, 1, 20000) > 0) {
        char c;
        ssize_t n = ::read(pipeFds[0], &c, 1);
        if (n <= 0 || c == '\n')
            break;
        number += c;
    }
    ::close(pipeFds[0]);

    std::unique_ptr<XServer> server(new XServer());
    server->pid_ = pid;
    server->logFile_ = logTemplate;
    if (number.empty()) {
        std::fprintf(stderr, "%s did not start; its log is %s\n", program.c_str(), logTemplate);
        return nullptr;
    }
    server->display_ = ":" + number;
    return server;
}

std::unique_ptr<XServer> XServer::startXvfb(int width, int height)
{
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    return start("Xvfb", "-screen 0 " + screen + " +extension RANDR +extension GLX");
}

std::unique_ptr<XServer> XServer::startDummyXorg(const std::string& initialMode, int initialRate)
{
    static int counter = 0;
    std::string log = "/tmp/tarnvik-xorg-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".log";
    auto server = start("Xorg", "-config " + sourcePath("testsupport/data/xorg-dummy.conf") + " -logfile " + log +
                                    " -novtswitch -sharevts");
    if (server) {
        server->xorgLog_ = log;
        realXrandr(server->display(), "-s " + initialMode + " -r " + std::to_string(initialRate));
    }
    return server;
}

bool XServer::connectSecondOutput() const
{
    realXrandr(display_, "--addmode DUMMY1 1280x720");
    realXrandr(display_, "--output DUMMY1 --mode 1280x720 --right-of DUMMY0");
    return realXrandr(display_, "-q").find("DUMMY1 connected") != std::string::npos;
}

XServer::~XServer()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            ::usleep(10000);
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    for (const auto& file : {logFile_, xorgLog_, xorgLog_ + ".old"})
        if (!file.empty() && file != ".old")
            ::unlink(file.c_str());
}

ScopedDisplay::ScopedDisplay(const XServer& server) : ScopedDisplay(server.display()) {}

ScopedDisplay::ScopedDisplay(const std::string& display)
{
    const char* old = std::getenv("DISPLAY");
    had_ = old != nullptr;
    saved_ = old ? old : "";
    ::setenv("DISPLAY", display.c_str(), 1);
}

ScopedDisplay::~ScopedDisplay()
{
    if (had_)
        ::setenv("DISPLAY", saved_.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
}

std::string realXrandr(const std::string& display, const std::string& args)
{
    std::vector<std::string> argv = {"/usr/bin/xrandr", "-display", display};
    std::istringstream words(args);
    for (std::string word; words >> word;)
        argv.push_back(word);
    return runProcess(argv).out;
}

std::string serverMode(const XServer& server)
{
    std::istringstream listing(realXrandr(server.display(), ""));
    for (std::string line; std::getline(listing, line);) {
        const size_t star = line.find('*');
        if (star == std::string::npos)
            continue;
        std::istringstream words(line);
        std::string mode;
        words >> mode;
        const size_t rateStart = line.find_last_of(' ', star) + 1;
        const double rate = std::stod(line.substr(rateStart, star - rateStart));
        return mode + " " + std::to_string(static_cast<int>(rate + 0.5));
    }
    return "none";
}

} // namespace testsupport
