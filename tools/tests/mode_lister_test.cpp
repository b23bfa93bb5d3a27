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

} // namespace
