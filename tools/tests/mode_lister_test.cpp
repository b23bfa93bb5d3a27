#include <gtest/gtest.h>
// After gtest: Xlib's macros (None, Bool) clash with its names.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testsupport/process.h"
#include "testsupport/sandbox.h"
#include "testsupport/xserver.h"

namespace {

// The list file as the server's own RandR records give it: per connected output, its
// modes grouped by name in the output's order (as the xrandr listing shows them), each
// rate from the pixel clock and the totals as xrandr prints it, a rate equal to the one
// before it (or 0.00 first) left out, interlaced modes left out.
std::string listFromRandr(const std::string& displayName)
{
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr)
        return "cannot open " + displayName;
    XRRScreenResources* resources = XRRGetScreenResources(display, DefaultRootWindow(display));
    auto modeInfo = [&](RRMode id) -> const XRRModeInfo* {
        for (int i = 0; i < resources->nmode; ++i)
            if (resources->modes[i].id == id)
                return &resources->modes[i];
        return nullptr;
    };
    std::string text;
    for (int o = 0; o < resources->noutput; ++o) {
        XRROutputInfo* output = XRRGetOutputInfo(display, resources, resources->outputs[o]);
        if (output->connection == RR_Connected) {
            std::vector<bool> done(output->nmode, false);
            for (int m = 0; m < output->nmode; ++m) {
                if (done[m])
                    continue;
                const XRRModeInfo* first = modeInfo(output->modes[m]);
                std::string previous = "0.00";
                for (int n = m; n < output->nmode; ++n) {
                    const XRRModeInfo* mode = modeInfo(output->modes[n]);
                    if (std::string(mode->name) != first->name)
                        continue;
                    done[n] = true;
                    if (mode->modeFlags & RR_Interlace)
                        continue;
                    const double totals =
                        mode->hTotal * mode->vTotal * ((mode->modeFlags & RR_DoubleScan) ? 2.0 : 1.0);
                    char rate[32];
                    std::snprintf(rate, sizeof rate, "%.2f", totals > 0 ? mode->dotClock / totals : 0.0);
                    if (rate != previous)
                        text += std::to_string(mode->width) + "x" + std::to_string(mode->height) + "p" + rate + "\n";
                    previous = rate;
                }
            }
        }
        XRRFreeOutputInfo(output);
    }
    XRRFreeScreenResources(resources);
    XCloseDisplay(display);
    return text;
}

std::string getFileStringOf(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::string text;
    if (file == nullptr)
        return text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

struct ServerCase {
    const char* label;
    bool dummy;  // Xorg with the dummy driver, else Xvfb (one mode at rate 0.00: no mode)
};

TEST(ModeLister, WritesTheServersModes)
{
    const ServerCase cases[] = {{"dummy Xorg", true}, {"Xvfb", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto server = c.dummy ? testsupport::XServer::startDummyXorg("1920x1080", 30)
                              : testsupport::XServer::startXvfb(1280, 720);
        ASSERT_NE(server, nullptr);
        testsupport::Sandbox box;
        box.hook("xrandr", "exec /usr/bin/xrandr -display " + server->display() + " \"$@\"\n");
        testsupport::requireSandbox();
        box.writeFile("/etc/tarnvik-display-resolutions.json", std::string(4096, '#'));

        const std::string expected = listFromRandr(server->display());
        if (c.dummy) {
            // The driver's own modes follow the configured ones.
            ASSERT_EQ(expected.rfind("3840x2160p60.00\n3840x2160p30.00\n1920x1080p60.00\n1920x1080p30.00\n"
                                     "1280x720p60.00\n1280x720p30.00\n",
                                     0),
                      0u)
                << expected;
        } else {
            EXPECT_EQ(expected, "");
        }

        testsupport::ScopedDisplay use(*server);
        const auto result = testsupport::runProcess({testsupport::binaryPath("tools/mode-lister")});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, expected);
        EXPECT_EQ(box.readFile("/etc/tarnvik-display-resolutions.json"), expected);
        // It only lists: the one call has no arguments, and the mode stays.
        EXPECT_EQ(box.calls("xrandr"), (std::vector<testsupport::Argv>{{"xrandr"}}));
    }
}

// Listings of real machines through a recording xrandr: the list file, standard output,
// standard error and exit status, worked out by hand.
struct ListingCase {
    const char* label;
    std::string listing;  // xrandr's standard output
    const char* xrandrErr;
    int xrandrCode;       // -1: xrandr is not installed (not on PATH)
    const char* file;     // the list file afterwards
    const char* out;
    const char* errLast;  // mode-lister's own line on standard error (after xrandr's)
    int exitCode;
};

TEST(ModeLister, ListingsOfRealMachines)
{
    const char* kOld = "1920x1080p60.00\n1280x720p60.00\n";
    const char* kLeft = ", the mode list is left as it was\n";
    const std::string custom = getFileStringOf(testsupport::sourcePath("common/tests/data/custom-modes.txt"));
    const std::string kCustomList = "1920x1080p60.00\n1920x1080p50.00\n1920x1080p59.94\n1920x1080p49.92\n"
                                    "2560x1440p59.96\n1280x720p60.00\n1280x720p50.00\n2560x1440p59.95\n"
                                    "1920x1080p59.96\n";
    const ListingCase cases[] = {
        {"custom mode names, an unknown connection, a mode of no output", custom, "", 0, kCustomList.c_str(),
         kCustomList.c_str(), "", 0},
        {"no display", "", "Can't open display :7\n", 1, kOld, "",
         "mode-lister: xrandr failed (exit status 1)", 1},
        {"refused part way", "Screen 0: minimum 320 x 200, current 1920 x 1080, maximum 16384 x 16384\n", "", 2,
         kOld, "", "mode-lister: xrandr failed (exit status 2)", 1},
        {"not installed", "", "", -1, kOld, "", "mode-lister: cannot run xrandr (exit status 127)", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        testsupport::Sandbox box;
        testsupport::requireSandbox();
        box.respond("xrandr", c.listing, c.xrandrErr, c.xrandrCode);
        box.writeFile("/etc/tarnvik-display-resolutions.json", kOld);
        testsupport::Environment env;
        if (c.xrandrCode < 0)
            env.emplace_back("PATH", box.path("/var/run"));  // an empty directory: no xrandr at all
        const auto result = testsupport::runProcess({testsupport::binaryPath("tools/mode-lister")}, env);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(box.readFile("/etc/tarnvik-display-resolutions.json"), c.file);
        if (*c.errLast == '\0') {
            EXPECT_EQ(result.err, "");
        } else {
            const std::string own = std::string(c.errLast) + kLeft;
            ASSERT_GE(result.err.size(), own.size()) << result.err;
            // One line of its own, the last, after whatever xrandr or the shell said.
            EXPECT_EQ(result.err.substr(result.err.size() - own.size()), own) << result.err;
            if (c.xrandrCode >= 0) {
                EXPECT_EQ(result.err, std::string(c.xrandrErr) + own) << "xrandr's own words come first";
            }
        }
    }
}

} // namespace
