// Private X servers for tests, each on a display number of its own.
//   auto x = testsupport::XServer::startXvfb(1920, 1080);   // drawing (RANDR, GLX, Mesa)
//   auto x = testsupport::XServer::startDummyXorg();        // real mode switching
//   x->connectSecondOutput();                               // optional second display
//   testsupport::ScopedDisplay use(*x);                     // DISPLAY for this scope
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace testsupport {

class XServer {
public:
    // Xvfb with one screen of the given size and depth 24. Returns null when it cannot start.
    static std::unique_ptr<XServer> startXvfb(int width = 1920, int height = 1080);
    // Xorg with the dummy video driver and testsupport/data/xorg-dummy.conf (modes at
    // several rates), switched to initialMode ("1920x1080" at 60 Hz by default).
    static std::unique_ptr<XServer> startDummyXorg(const std::string& initialMode = "1920x1080", int initialRate = 60);
    ~XServer();

    // Dummy Xorg only: connects its second output, DUMMY1 (listed as disconnected until
    // then), in mode 1280x720 to the right of the first. Returns false when xrandr refuses.
    bool connectSecondOutput() const;

    const std::string& display() const { return display_; }  // ":N"
    pid_t pid() const { return pid_; }

private:
    XServer() = default;
    static std::unique_ptr<XServer> start(const std::string& program, const std::string& extraArgs);
    pid_t pid_ = -1;
    std::string display_;
    std::string logFile_;
    std::string xorgLog_;
};

// Sets DISPLAY for its lifetime.
class ScopedDisplay {
public:
    explicit ScopedDisplay(const XServer& server);
    explicit ScopedDisplay(const std::string& display);
    ~ScopedDisplay();

private:
    std::string saved_;
    bool had_ = false;
};

// The real xrandr (not a fake that a sandbox put on PATH) against a display; returns its
// standard output.
std::string realXrandr(const std::string& display, const std::string& args);

// The server's current mode as the real xrandr lists it, rate rounded: "1920x1080 30";
// "none" when no mode is current.
std::string serverMode(const XServer& server);

} // namespace testsupport
