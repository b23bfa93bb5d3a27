#include "player/status_records.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/fixed_path.h"
#include "common/helpers.h"
#include "common/shared_file.h"
#include "player/player_state.h"

namespace {

constexpr const char* kDashboardPipe = "/tmp/tarnvik-dashboard-pipe";
constexpr const char* kAvInfoFile = "/etc/tarnvik_avinfo.json";

bool giveUp(const std::atomic<bool>* give_up)
{
    return exit_loop.load(std::memory_order_acquire) ||
           (give_up != nullptr && give_up->load(std::memory_order_acquire));
}

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::string videoStatusText(bool not_found, int picture_height, float fps, bool interlaced)
{
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(2);
    text << "{\"dashboard_vid_input\":\"" << "Decode: ";
    if (not_found) {
        text << "NDI source not found";
    } else {
        text << picture_height << (interlaced ? "i" : "p");
        if (std::floor(fps) == fps)
            text << static_cast<long long>(fps);
        else
            text << fps;
    }
    text << "\"}";
    return text.str();
}

std::string audioStatusText(int channels, int sample_rate)
{
    std::ostringstream text;
    text << "{\"aud_ch\":" << channels << ",\"aud_sr\":" << sample_rate << "}";
    return text.str();
}

bool writeDashboardRecord(const std::string& text, const std::atomic<bool>* give_up)
{
    // A reader that goes away must not kill the player.
    static std::once_flag ignore_sigpipe;
    std::call_once(ignore_sigpipe, [] { std::signal(SIGPIPE, SIG_IGN); });

    const std::string path = tarnvik::fixedPath(kDashboardPipe);
    int fd = -1;
    for (;;) {
        // Non-blocking: a blocking open of a pipe without reader would hang shutdown.
        // No symbolic link is followed at this path.
        fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno != ENXIO) {
            DebugLog("[ DEBUG ] Cannot open %s: %s\n", path.c_str(), std::strerror(errno));
            return false;
        }
        // A pipe without a reader: wait for one.
        if (giveUp(give_up)) {
            DebugLog("[ DEBUG ] No reader on %s, record not written\n", path.c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    bool ok = writeAll(fd, text);
    if (!ok)
        DebugLog("[ DEBUG ] Cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    ::close(fd);
    return ok;
}

bool writeAvInfoFile(const std::string& text)
{
    // The control GUI must never read half a record where a rename can be had.
    return writeSharedFile(tarnvik::fixedPath(kAvInfoFile), text);
}

bool writeVideoRecord(bool not_found, int picture_height, float fps, bool interlaced,
                      const std::atomic<bool>* give_up)
{
    std::string text = videoStatusText(not_found, picture_height, fps, interlaced);
    if (not_found) {
        video_width.store(0, std::memory_order_release);
        video_height.store(0, std::memory_order_release);
        video_fps.store(0.0f, std::memory_order_release);
    }
    writeDashboardRecord(text, give_up);
    writeAvInfoFile(text);
    DebugLog("video format: %s\n", text.c_str());
    return true;
}

bool WriteNDIConnectionInfoForVideo(bool not_found, int height, float fps, int progressive,
                                    const std::atomic<bool>* give_up)
{
    return writeVideoRecord(not_found, progressive ? height : 2 * height, fps, !progressive, give_up);
}

bool WriteConnectionInfoForAudio(int channels, int sample_rate, const std::atomic<bool>* give_up)
{
    std::string text = audioStatusText(channels, sample_rate);
    writeDashboardRecord(text, give_up);
    DebugLog("audio format: %s\n", text.c_str());
    return true;
}
