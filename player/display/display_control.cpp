#include "player/display/display_control.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "common/fixed_path.h"
#include "common/helpers.h"
#include "common/ndi_config.h"

WEBUI_SETTINGS webui_settings;
std::string strConnectedDisplayPort;

namespace {

constexpr const char* kDefaultModeText = "1920x1080p60.00";

// "1920x1080p60.00" -> width, height, rate. False when a piece is missing or not a size.
bool parseModeText(const std::string& text, DISPLAY_INFO& mode)
{
    std::vector<std::string> pieces;
    tokenize(text, 'x', pieces);
    if (pieces.size() < 2)
        return false;
    const int width = std::atoi(pieces[0].c_str());
    const std::string rest = pieces[1];
    tokenize(rest, 'p', pieces);
    if (pieces.size() < 2)
        return false;
    const int height = std::atoi(pieces[0].c_str());
    const float rate = static_cast<float>(std::atof(pieces[1].c_str()));
    if (width <= 0 || height <= 0 || !(rate > 0.0f))
        return false;
    mode.width = width;
    mode.height = height;
    mode.rate = rate;
    return true;
}

// The output name comes from the xrandr listing: quoted for the shell unless every
// character is one that shell syntax leaves alone, so ordinary names read as before.
std::string shellWord(const std::string& text)
{
    static const std::string plain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.,:/+@%=";
    if (!text.empty() && text.find_first_not_of(plain) == std::string::npos)
        return text;
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

const DISPLAY* chooseDisplay(const std::vector<DISPLAY>& displays)
{
    for (const auto& display : displays)
        if (!display.modes.empty() && display.active)
            return &display;
    for (const auto& display : displays)
        if (!display.modes.empty())
            return &display;
    return nullptr;
}

} // namespace

bool getDecodeOutputSettings()
{
    std::vector<DISPLAY> displays;
    try {
        displays = getDisplayResolutions();
    } catch (const std::runtime_error& error) {
        DebugLog("[Info] Cannot run xrandr: %s\n", error.what());
        return false;
    }
    const DISPLAY* display = chooseDisplay(displays);
    if (display == nullptr)
        return false;
    strConnectedDisplayPort = display->name;
    DebugLog("Connected to display port: %s\n", strConnectedDisplayPort.c_str());

    // A missing or invalid file reads as an empty object: the defaults below.
    const nlohmann::json settings = readSettingsObject(tarnvik::fixedPath("/etc/tarnvik-av-settings.json"));
    const std::string videoout = settingsString(settings, "videoout", "videooutd");
    const std::string vidoutmode = settingsString(settings, "vidoutmode", "ORIGINAL");
    const std::string vidoutsize = settingsString(settings, "vidoutsize", kDefaultModeText);
    std::printf("\ntarnvik-av-settings.json:\n%s\n%s\n%s\n\n", videoout.c_str(), vidoutmode.c_str(),
                vidoutsize.c_str());
    std::fflush(stdout);

    webui_settings.mode = DISPLAY_INFO();
    webui_settings.mode.width = display->modes.front().width;
    webui_settings.mode.height = display->modes.front().height;
    webui_settings.mode.rate = display->modes.front().rate;

    if (vidoutmode == "HIGHEST") {
        webui_settings.policy = 1;
    } else if (vidoutmode != "SELECTED") {
        webui_settings.policy = 0;
    } else {
        webui_settings.policy = 2;
        DISPLAY_INFO selected;
        if (!parseModeText(vidoutsize, selected)) {
            DebugLog("[Info] vidoutsize \"%s\" is not a display mode, using %s\n", vidoutsize.c_str(),
                     kDefaultModeText);
            parseModeText(kDefaultModeText, selected);
        }
        DebugLog("[ DEBUG ] Selected resolution: %dx%dp%.2f\n", selected.width, selected.height,
                 static_cast<double>(selected.rate));
        bool listed = false;
        for (const auto& mode : display->modes)
            if (mode.width == selected.width && mode.height == selected.height && mode.rate == selected.rate)
                listed = true;
        DebugLog(listed ? "[ DEBUG ] Has selected resolution\n" : "[ DEBUG ] Hasn't selected resolution\n");
        webui_settings.mode.width = selected.width;
        webui_settings.mode.height = selected.height;
        webui_settings.mode.rate = selected.rate;
    }
    return true;
}

bool changeScreenInfo(bool restore, int width, int height, int progressive, float rate)
{
    if (!restore) {
        if (webui_settings.policy == 1 || webui_settings.policy == 2) {
            width = webui_settings.mode.width;
            height = webui_settings.mode.height;
            rate = webui_settings.mode.rate;
        } else if (!progressive) {
            height *= 2;
        }
    }
    // No display has such a mode, and a rate out of range has no integer to round to.
    if (width <= 0 || height <= 0 || !std::isfinite(rate) || rate < 0.0f || rate > 1000.0f) {
        DebugLog("[Info] Not a display mode: %dx%d at %.2f\n", width, height, static_cast<double>(rate));
        return false;
    }

    std::string command = "xrandr --output " + shellWord(strConnectedDisplayPort) + " --mode " +
                          std::to_string(width) + "x" + std::to_string(height);
    // Rate 0 is a server that reports none (Xvfb): xrandr refuses it, and the mode alone
    // picks the mode's rate.
    const int wholeRate = static_cast<int>(std::ceil(rate));
    if (wholeRate > 0)
        command += " --rate " + std::to_string(wholeRate);
    DebugLog("xrandr command: %s\n", command.c_str());
    std::string response;
    try {
        // xrandr reports a refused mode on standard error only.
        response = exec((command + " 2>&1").c_str());
    } catch (const std::runtime_error& error) {
        response = error.what();
    }
    DebugLog("xrandr response: %s\n", response.c_str());
    return response.empty();
}

void getCurScreenInfo(int* width, int* height, int* rate)
{
    int currentWidth = 0;
    int currentHeight = 0;
    int currentRate = 0;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        DebugLog("[Info] Cannot open the X display, current mode unknown\n");
    } else {
        int sizeCount = 0;
        XRRScreenSize* sizes = XRRSizes(display, 0, &sizeCount);
        XRRScreenConfiguration* config = XRRGetScreenInfo(display, RootWindow(display, 0));
        if (config != nullptr) {
            Rotation rotation;
            currentRate = XRRConfigCurrentRate(config);
            const SizeID index = XRRConfigCurrentConfiguration(config, &rotation);
            int rateCount = 0;
            XRRRates(display, 0, index, &rateCount);
            if (sizes != nullptr && index < sizeCount) {
                currentWidth = sizes[index].width;
                currentHeight = sizes[index].height;
            }
            DebugLog("current_rate = %d\n", currentRate);
            DebugLog("current_rate_num = %d\n", rateCount);
            DebugLog("current_width = %d\n", currentWidth);
            DebugLog("current_height = %d\n", currentHeight);
            XRRFreeScreenConfigInfo(config);
        } else {
            DebugLog("[Info] The X screen has no RandR configuration, current mode unknown\n");
        }
        XCloseDisplay(display);
    }
    if (width != nullptr)
        *width = currentWidth;
    if (height != nullptr)
        *height = currentHeight;
    if (rate != nullptr)
        *rate = currentRate;
}
