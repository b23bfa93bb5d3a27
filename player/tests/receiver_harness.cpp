#include "player/tests/receiver_harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <SDL2/SDL.h>

#include "ndi_standin.h"
#include "player/audio_output.h"
#include "player/display/display_control.h"
#include "player/player_state.h"
#include "player/tests/player_testing.h"

namespace playertest {

PipeReader::PipeReader(std::string fifo)
    : fifo_(std::move(fifo))
{
    if (::mkfifo(fifo_.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo failed");
    thread_ = std::thread([this] {
        while (!stop_.load()) {
            int fd = ::open(fifo_.c_str(), O_RDONLY);
            if (fd < 0)
                break;
            std::string text;
            char buffer[512];
            ssize_t n = 0;
            while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
                text.append(buffer, static_cast<size_t>(n));
            ::close(fd);
            // Records that came during one opening follow each other directly.
            std::lock_guard<std::mutex> lock(mutex_);
            size_t start = 0;
            while (start < text.size()) {
                size_t end = text.find('}', start);
                if (end == std::string::npos)
                    end = text.size() - 1;
                records_.push_back(text.substr(start, end + 1 - start));
                start = end + 1;
            }
        }
        done_ = true;
    });
}

PipeReader::~PipeReader()
{
    stop();
}

void PipeReader::stop()
{
    if (!thread_.joinable())
        return;
    stop_ = true;
    // A reader waiting in open() needs a writer to come and go.
    while (!done_.load()) {
        int fd = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    thread_.join();
}

std::vector<std::string> PipeReader::records() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value)
    : name_(name)
{
    if (const char* old = std::getenv(name)) {
        had_ = true;
        saved_ = old;
    }
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (had_)
        ::setenv(name_.c_str(), saved_.c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

ReceiverHarness::ReceiverHarness(const std::string& scenario, int screen_w, int screen_h, int disk_delay_ms)
{
    testsupport::requireSandbox();
    resetPlayerState();
    x_ = testsupport::XServer::startXvfb(screen_w, screen_h);
    if (!x_)
        throw std::runtime_error("Xvfb did not start");
    display_ = std::make_unique<testsupport::ScopedDisplay>(*x_);
    box_.writeFile("/tmp/scenario.json", scenario);
    ::setenv("TARNVIK_NDI_SCENARIO", box_.path("/tmp/scenario.json").c_str(), 1);
    ::setenv("TARNVIK_NDI_LOG", ndiLog().c_str(), 1);
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", audioFile().c_str(), 1);
    if (disk_delay_ms > 0)
        ::setenv("SDL_DISKAUDIODELAY", std::to_string(disk_delay_ms).c_str(), 1);
    else
        ::unsetenv("SDL_DISKAUDIODELAY");
    ndi_standin_reset();
    pipe_ = std::make_unique<PipeReader>(box_.path("/tmp/tarnvik-dashboard-pipe"));
    strConnectedDisplayPort = "HDMI-1";
    webui_settings = WEBUI_SETTINGS{};
    if (SDL_Init(SDL_INIT_AUDIO) != 0)
        throw std::runtime_error(std::string("SDL_Init: ") + SDL_GetError());
    if (!NDIlib_initialize())
        throw std::runtime_error("NDIlib_initialize failed");
}

ReceiverHarness::~ReceiverHarness()
{
    NDIlib_destroy();
    closeAudio();
    SDL_Quit();
    pipe_->stop();
    resetPlayerState();
    for (const char* name : {"TARNVIK_NDI_SCENARIO", "TARNVIK_NDI_LOG", "SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE",
                             "SDL_DISKAUDIODELAY"})
        ::unsetenv(name);
    ndi_standin_reset();
}

std::vector<std::string> ReceiverHarness::videoValues() const
{
    std::vector<std::string> values;
    const std::string head = "{\"dashboard_vid_input\":\"Decode: ";
    for (const std::string& record : pipe_->records())
        if (record.rfind(head, 0) == 0 && record.size() >= head.size() + 2)
            values.push_back(record.substr(head.size(), record.size() - head.size() - 2));
    return values;
}

std::vector<std::string> ReceiverHarness::audioValues() const
{
    std::vector<std::string> values;
    for (const std::string& record : pipe_->records()) {
        int channels = 0;
        int rate = 0;
        if (std::sscanf(record.c_str(), "{\"aud_ch\":%d,\"aud_sr\":%d}", &channels, &rate) == 2)
            values.push_back(std::to_string(channels) + "/" + std::to_string(rate));
    }
    return values;
}

std::vector<std::string> ReceiverHarness::modeSwitches() const
{
    std::vector<std::string> modes;
    for (const testsupport::Argv& call : box_.calls("xrandr")) {
        std::string mode;
        std::string rate;
        for (size_t i = 0; i + 1 < call.size(); ++i) {
            if (call[i] == "--mode")
                mode = call[i + 1];
            if (call[i] == "--rate")
                rate = call[i + 1];
        }
        if (!mode.empty())
            modes.push_back(mode + "@" + rate);
    }
    return modes;
}

int countLines(const std::string& text, const std::string& prefix)
{
    std::istringstream lines(text);
    std::string line;
    int count = 0;
    while (std::getline(lines, line))
        if (line.rfind(prefix, 0) == 0)
            ++count;
    return count;
}

} // namespace playertest

// SDL's start-up leaves one buffer of the system's D-Bus library behind.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdbus-1.so\n";
}
