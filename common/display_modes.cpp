#include "common/display_modes.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "common/fixed_path.h"
#include "common/helpers.h"

namespace {

bool isConnectedLine(const std::string& line)
{
    return line.find(" connected ") != std::string::npos;
}

// Any output line ends the block of the output before it. "connected " alone misses an
// output line that ends right after "disconnected", as the dummy driver prints them.
bool isOutputLine(const std::string& line)
{
    static const std::string word = "connected";
    if (line.find("connected ") != std::string::npos)
        return true;
    return line.size() >= word.size() && line.compare(line.size() - word.size(), word.size(), word) == 0;
}

// Adds the modes of one line below an output's line.
void parseModeLine(const std::string& line, DISPLAY& display)
{
    if (line.find('*') != std::string::npos)
        display.active = true;

    std::vector<std::string> words;
    tokenize(removeExtraSpacesAndCharacters(line), ' ', words);
    if (words.empty())
        return;
    const std::string modeName = words[0];
    std::vector<std::string> size;
    tokenize(modeName, 'x', size);
    if (size.size() < 2)
        return;  // not a mode name: nothing to split into width and height
    const int width = std::atoi(size[0].c_str());
    const int height = std::atoi(size[1].c_str());
    if (width <= 0 || height <= 0)
        return;  // a size no display has would end up in the mode list file

    std::vector<float> rates;
    float previous = 0.0f;
    for (size_t i = 1; i < words.size(); ++i) {
        float rate = static_cast<float>(std::atof(words[i].c_str()));
        if (rate != previous)
            rates.push_back(rate);
        previous = rate;
    }
    for (float rate : rates) {
        DISPLAY_INFO mode;
        mode.width = width;
        mode.height = height;
        mode.rate = rate;
        mode.interlaced = size[1].find('i') != std::string::npos;
        mode.rates = rates;
        display.modes.push_back(mode);
    }
}

} // namespace

std::vector<DISPLAY> getDisplayResolutions()
{
    const std::string listing = exec("xrandr");
    DebugLog("[ DEBUG ] Output of xrandr:\n%s\n", listing.c_str());
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
    std::ofstream file(tarnvik::fixedPath("/etc/tarnvik-display-resolutions.json"), std::ios::out | std::ios::trunc);
    file << text;
    file.close();
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return true;
}
