// decode-player: plays one NDI source full screen with its sound, follows the source-name
// file and the audio gain, and ends in order on ESC, SIGINT or SIGTERM.
//
// Threads: the main thread (start-up, render loop, shutdown), the receiver's thread, and
// the watcher, which shutdown wakes and joins before it deletes the receivers.
#include <SDL2/SDL.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "Processing.NDI.Lib.h"
#include "common/fixed_path.h"
#include "common/helpers.h"
#include "player/audio_output.h"
#include "player/conversion.h"
#include "player/display/display_control.h"
#include "player/frame_ring.h"
#include "player/opengl_output.h"
#include "player/player_state.h"
#include "player/receiver.h"
#include "player/status_records.h"

constexpr int no_receivers = 1;
receive_example* p_receivers[no_receivers] = {nullptr};
std::string strCurSrcName;
int default_screen_width = 0;
int default_screen_height = 0;
int default_screen_rate = 0;

namespace {

std::thread watcher;
std::mutex watcher_mutex;
std::condition_variable watcher_wake;
// What the last pass of the audio settings complained about, so it says so once.
std::string audio_settings_problem;

void createReceivers()
{
    for (int i = 0; i < no_receivers; ++i)
        p_receivers[i] = new receive_example(i + 1, strCurSrcName.c_str());
}

void deleteReceivers()
{
    for (int i = 0; i < no_receivers; ++i) {
        delete p_receivers[i];
        p_receivers[i] = nullptr;
    }
}

// An integer, or a float that holds a whole number (the web interface may write 20.0), as
// the JSON library's integer read takes it.
bool wholeNumber(const nlohmann::json& value, int& out)
{
    if (value.is_number_integer()) {
        out = value.get<int>();
        return true;
    }
    if (!value.is_number_float())
        return false;
    const double number = value.get<double>();
    if (std::trunc(number) != number || number < INT_MIN || number > INT_MAX)
        return false;
    out = static_cast<int>(number);
    return true;
}

void stopWatcher()
{
    {
        std::lock_guard<std::mutex> lock(watcher_mutex);
        exit_loop.store(true, std::memory_order_release);
    }
    watcher_wake.notify_all();
    if (watcher.joinable())
        watcher.join();
}

} // namespace

void sigint_handler(int)
{
    exit_loop.store(true);
}

void start(int interval, std::function<void()> fn)
{
    // Joined by terminateApp, so that no pass replaces a receiver while shutdown deletes it.
    watcher = std::thread([interval, fn]() {
        std::unique_lock<std::mutex> lock(watcher_mutex);
        while (!exit_loop.load(std::memory_order_acquire)) {
            lock.unlock();
            fn();
            lock.lock();
            watcher_wake.wait_for(lock, std::chrono::milliseconds(interval),
                                  [] { return exit_loop.load(std::memory_order_acquire); });
        }
        DebugLog("Finished watching tarnvik-source-name\n");
    });
}

void watchChangedAudioSettings()
{
    const std::string path = tarnvik::fixedPath("/etc/tarnvik-audio-settings.json");
    const std::string text = getFileString(path.c_str());
    nlohmann::json settings = nlohmann::json::parse(text, nullptr, false);
    std::string problem;
    if (settings.is_discarded() || !settings.is_object()) {
        problem = "missing or not valid JSON";
    } else if (!settings.contains("AudioInGain")) {
        iAudioInGain.store(20, std::memory_order_relaxed);
    } else if (int gain = 0; wholeNumber(settings["AudioInGain"], gain)) {
        iAudioInGain.store(gain, std::memory_order_relaxed);
    } else {
        problem = "\"AudioInGain\" is not an integer";
    }
    // A bad file keeps the last gain; said once until it changes.
    if (!problem.empty() && problem != audio_settings_problem)
        DebugLog("[ DEBUG ] %s: %s, the gain stays %d\n", path.c_str(), problem.c_str(), iAudioInGain.load());
    audio_settings_problem = problem;
}

void watchChangedSource()
{
    watchChangedAudioSettings();
    const std::string path = tarnvik::fixedPath("/etc/tarnvik-source-name");
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return;
    char buffer[256];
    size_t n = std::fread(buffer, 1, 255, file);
    buffer[n] = '\0';
    std::fclose(file);
    const std::string name = trim(buffer);
    if (name == strCurSrcName || exit_loop.load(std::memory_order_acquire))
        return;
    DebugLog("Changed source name: %s\n", name.c_str());
    strCurSrcName = name;
    DebugLog("[Info] Start receiver delete\n");
    deleteReceivers();
    DebugLog("[Info] End receiver delete\n");
    createReceivers();
}

void terminateApp()
{
    DebugLog("terminating...\n");
    exit_loop.store(true);
    DebugLog("exit_loop = true\n");
    stopWatcher();
    deleteReceivers();
    NDIlib_destroy();
    terminateOpengl();
    deleteFrameBuffers();
    DebugLog("Deleted video frame buffers\n");
    freeScaler();
    closeAudio();
    DebugLog("Deleted audio frame buffers\n");
    SDL_Quit();
    DebugLog("Quit SDL\n");
    changeScreenInfo(true, default_screen_width, default_screen_height, 1, static_cast<float>(default_screen_rate));
}

int main(int argc, char* argv[])
{
    // One log line at a time, also into a pipe or a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    initDebugSwitch();
    if (argc < 2) {
        DebugLog("<daemon> <source name>\n\n");
        DebugLog("Please input source name\n");
        return 0;
    }
    WriteNDIConnectionInfoForVideo(true, 0, 0.0f, 1);
    WriteConnectionInfoForAudio(0, 0);

    DebugLog("Image Format : I420\n");
    DebugLog("\n\n");
    received_frames = 0;
    rendered_frames = 0;
    ndi_color_format = 100;

    if (!getDecodeOutputSettings()) {
        DebugLog("No connected display\n");
        return 0;
    }
    // SIGINT and SIGTERM belong to the player's own handler; SDL would swallow them before it.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(0xF231) != 0) {
        DebugLog("Could not initialize SDL - %s\n", SDL_GetError());
        SDL_Quit();
    }
    int width = 0;
    int height = 0;
    int rate = 0;
    getCurScreenInfo(&width, &height, &rate);
    default_screen_width = width;
    default_screen_height = height;
    default_screen_rate = rate;
    screen_width = width;
    screen_height = height;
    screen_rate = rate;
    DebugLog("lXrandr %d, %d, %d\n", width, height, rate);

    // The render loop needs a window: without one the program ends here.
    if (initOpengl() != 0) {
        DebugLog("Cannot open the OpenGL window\n");
        SDL_Quit();
        return 0;
    }
    if (!NDIlib_initialize()) {
        DebugLog("Cannot run NDI.\n");
        terminateOpengl();
        SDL_Quit();
        return 0;
    }
    std::signal(SIGINT, sigint_handler);
    std::signal(SIGTERM, sigint_handler);

    strCurSrcName = trim(argv[1]);
    createReceivers();
    start(1000, watchChangedSource);
    showWithOpengl();
    terminateApp();
    return 0;
}
