#include "common/display_modes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "common/fixed_path.h"
#include "common/helpers.h"
#include "common/shared_file.h"

namespace {

bool isConnectedLine(const std::string& line)
{
    return line.find(" connected ") != std::string::npos;
}

// Any line that is not indented heads something else (an output in any state, another
// screen) and ends the block of the output before it.
bool isOutputLine(const std::string& line)
{
    return !line.empty() && line[0] != ' ' && line[0] != '\t';
}

size_t skipDigits(const std::string& text, size_t at)
{
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
        ++at;
    return at;
}

// Width and height from the digits that open a mode name: "1920x1080", "1920x1080i",
// "1920x1080_50.00" (custom modes) all give 1920 and 1080; the height ends at its first
// character that is not a digit. False when the name holds no size.
bool parseModeSize(const std::string& name, int& width, int& height, bool& interlaced)
{
    const size_t widthEnd = skipDigits(name, 0);
    if (widthEnd == 0 || widthEnd >= name.size() || name[widthEnd] != 'x')
        return false;
    const size_t heightEnd = skipDigits(name, widthEnd + 1);
    if (heightEnd == widthEnd + 1 || widthEnd > 9 || heightEnd - widthEnd - 1 > 9)
        return false;
    width = std::atoi(name.substr(0, widthEnd).c_str());
    height = std::atoi(name.substr(widthEnd + 1, heightEnd - widthEnd - 1).c_str());
    interlaced = heightEnd < name.size() && name[heightEnd] == 'i';
    return width > 0 && height > 0;
}

// A rate as xrandr lists it: "60.00", "60", with the markers '*' (current) and '+'
// (preferred) after it or alone.
bool isRateWord(const std::string& word)
{
    size_t at = skipDigits(word, 0);
    if (at > 0 && at < word.size() && word[at] == '.')
        at = skipDigits(word, at + 1);
    return word.find_first_not_of("*+", at) == std::string::npos;
}

// Adds the modes of one line below an output's line.
void parseModeLine(const std::string& line, DISPLAY& display)
{
    if (line.find('*') != std::string::npos)
        display.active = true;

    // The mode name is the line's first word as xrandr prints it; only the rates after it
    // are cleaned, so a custom name's "_50.00" never runs into its height.
    const size_t nameStart = line.find_first_not_of(WHITESPACE);
    if (nameStart == std::string::npos)
        return;
    const size_t nameEnd = std::min(line.find_first_of(WHITESPACE, nameStart), line.size());
    int width = 0;
    int height = 0;
    bool interlaced = false;
    if (!parseModeSize(line.substr(nameStart, nameEnd - nameStart), width, height, interlaced))
        return;  // not a mode name, or a size no display has: it would end up in the mode list file
    // A mode that xrandr knows but no output uses is listed with its id, clock and
    // timings ("(0x4b6) 338.750MHz -HSync"): none of these is a rate.
    std::vector<std::string> words;
    tokenize(removeExtraSpaces(line.substr(nameEnd)), ' ', words);
    for (const auto& word : words)
        if (!isRateWord(word))
            return;
    tokenize(removeExtraSpacesAndCharacters(line.substr(nameEnd)), ' ', words);

    std::vector<float> rates;
    float previous = 0.0f;
    for (const auto& word : words) {
        float rate = static_cast<float>(std::atof(word.c_str()));
        if (rate != previous)
            rates.push_back(rate);
        previous = rate;
    }
    for (float rate : rates) {
        DISPLAY_INFO mode;
        mode.width = width;
        mode.height = height;
        mode.rate = rate;
        mode.interlaced = interlaced;
        mode.rates = rates;
        display.modes.push_back(mode);
    }
}

} // namespace

std::vector<DISPLAY> getDisplayResolutions()
{
    int status = 0;
    const std::string listing = exec("xrandr", &status);
    DebugLog("[ DEBUG ] Output of xrandr:\n%s\n", listing.c_str());
    // A listing of a failed run (no display, no xrandr) is no list of displays.
    if (status == 127)
        throw std::runtime_error("cannot run xrandr (exit status 127)");
    if (status != 0)
        throw std::runtime_error("xrandr failed (exit status " + std::to_string(status) + ")");
    std::vector<std::string> lines;
    tokenize(listing, '\n', lines);

    std::vector<DISPLAY> displays;
    size_t index = 0;
    while (index < lines.size()) {
        if (!isConnectedLine(lines[index])) {
            ++index;
            continue;
        }
        DISPLAY display;
        display.primary = lines[index].find(" primary ") != std::string::npos;
        std::vector<std::string> words;
        tokenize(removeExtraSpaces(lines[index]), ' ', words);
        if (!words.empty())
            display.name = words[0];
        DebugLog("[ DEBUG ] %s\n", display.name.c_str());

        for (++index; index < lines.size() && !isOutputLine(lines[index]); ++index) {
            DebugLog("[ DEBUG ] %zu:%s\n", index, lines[index].c_str());
            parseModeLine(lines[index], display);
        }
        displays.push_back(std::move(display));
    }

    DebugLog("[ DEBUG ] Got all connected displays\n");
    DebugLog("[ DEBUG ] \n");
    for (const auto& display : displays) {
        DebugLog("[ DEBUG ] %s\n", display.name.c_str());
        for (const auto& mode : display.modes)
            DebugLog("[ DEBUG ] %dx%d%s%.2f\n", mode.width, mode.height, mode.interlaced ? "i" : "p",
                     static_cast<double>(mode.rate));
    }
    DebugLog("[ DEBUG ] \n");
    return displays;
}

bool writeDisplayResolutions()
{
    std::string text;
    for (const auto& display : getDisplayResolutions()) {
        for (const auto& mode : display.modes) {
            if (mode.interlaced)
                continue;
            char line[64];
            std::snprintf(line, sizeof line, "%dx%dp%.2f\n", mode.width, mode.height, static_cast<double>(mode.rate));
            text += line;
        }
    }
    const bool written = writeSharedFile(tarnvik::fixedPath("/etc/tarnvik-display-resolutions.json"), text);
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return written;
}
