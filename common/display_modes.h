// Connected displays and their modes, read from the listing that `xrandr` prints, and
// the display-mode list file "/etc/tarnvik-display-resolutions.json".
#pragma once

#include <string>
#include <vector>

// One display mode at one rate.
struct DISPLAY_INFO {
    int width = 1920;
    int height = 1080;
    float rate = 60.0f;
    bool interlaced = false;   // the mode name has an 'i' after the height
    std::vector<float> rates;  // every distinct rate of the mode line it comes from
};

// One connected output.
struct DISPLAY {
    std::string name;
    std::vector<DISPLAY_INFO> modes;  // one entry per distinct rate of each mode line
    bool primary = false;
    bool active = false;  // one of its mode lines carries the current-mode marker '*'
};

// The connected outputs, in `xrandr` order. Throws std::runtime_error, with a text that
// says why, when `xrandr` cannot be run or exits with a status other than 0.
std::vector<DISPLAY> getDisplayResolutions();

// Writes every progressive mode of every connected output, one "1920x1080p60.00" line
// each, to the display-mode list file (through writeSharedFile) and prints the same
// text. False when the file could not be written. Throws as getDisplayResolutions,
// before anything is written.
bool writeDisplayResolutions();
