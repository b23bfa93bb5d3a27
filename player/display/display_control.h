// Which display decode-player drives, the output policy of the av-settings file, and
// the display-mode switch through the `xrandr` command.
#pragma once

#include <string>

#include "common/display_modes.h"

// Output policy of "/etc/tarnvik-av-settings.json", read once at start-up.
struct WEBUI_SETTINGS {
    int policy = 0;     // 0 follow the source ("ORIGINAL"), 1 "HIGHEST", 2 "SELECTED"
    DISPLAY_INFO mode;  // the mode set under policies 1 and 2 (width, height, rate)
};

extern WEBUI_SETTINGS webui_settings;
// `xrandr` output name of the chosen display.
extern std::string strConnectedDisplayPort;

// Chooses the display (the first active one with modes, else the first with modes) and
// reads the policy. False when no connected display offers any mode.
bool getDecodeOutputSettings();

// Sets a display mode on the chosen display. Outside restore, policies 1 and 2 replace
// the arguments by the stored mode, and under policy 0 a field source (progressive 0)
// has its height doubled. True when `xrandr` printed nothing, also on standard error.
bool changeScreenInfo(bool restore, int width, int height, int progressive, float rate);

// Size and refresh rate (whole hertz) of the X screen's current mode. Zeros when no X
// display can be opened.
void getCurScreenInfo(int* width, int* height, int* rate);
