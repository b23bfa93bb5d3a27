// A receiver's world for tests: a private root with the fake xrandr, a private X server
// for the screen size, a reader on the dashboard pipe, SDL's disk audio driver and an
// NDI stand-in scenario.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/sandbox.h"
#include "testsupport/xserver.h"

namespace playertest {

// Reads the dashboard pipe the way its reader does: open, read to the end, close, again.
class PipeReader {
public:
    explicit PipeReader(std::string fifo);
    ~PipeReader();
    void stop();
    // Every record read so far, split at record ends.
    std::vector<std::string> records() const;

private:
    std::string fifo_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> records_;
    std::thread thread_;
};

class ReceiverHarness {
public:
    // scenario: the stand-in's JSON text. disk_delay_ms: SDL_DISKAUDIODELAY (0: SDL's default).
    explicit ReceiverHarness(const std::string& scenario, int screen_w = 1280, int screen_h = 720,
                             int disk_delay_ms = 0);
    ~ReceiverHarness();

    testsupport::Sandbox& box() { return box_; }
    PipeReader& pipe() { return *pipe_; }
    std::string audioFile() const { return box_.path("/tmp/audio.raw"); }
    std::string ndiLog() const { return box_.path("/tmp/ndi.log"); }
    // The values ("Decode: ..." or "ch/rate") of the video and audio records read so far.
    std::vector<std::string> videoValues() const;
    std::vector<std::string> audioValues() const;
    // The modes that the xrandr calls set ("640x360@30").
    std::vector<std::string> modeSwitches() const;

private:
    testsupport::Sandbox box_;
    std::unique_ptr<testsupport::XServer> x_;
    std::unique_ptr<testsupport::ScopedDisplay> display_;
    std::unique_ptr<PipeReader> pipe_;
};

// Values of the environment restored when it goes.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();

private:
    std::string name_;
    std::string saved_;
    bool had_ = false;
};

// Counts lines of text that start with prefix.
int countLines(const std::string& text, const std::string& prefix);

} // namespace playertest
