#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/display_modes.h"
#include "common/helpers.h"
#include "testsupport/sandbox.h"

namespace {

struct Mode {
    int width;
    int height;
    float rate;
    bool interlaced;
    std::vector<float> rates;
};

struct Output {
    std::string name;
    bool primary;
    bool active;
    std::vector<Mode> modes;
};

struct ListingCase {
    const char* fixture;
    std::vector<Output> outputs;
    const char* listFile;  // expected content of the display-mode list file
};

const std::vector<float> kHdmi1080 = {60.0f, 50.0f, 59.94f};

const ListingCase kCases[] = {
    {"two-outputs.txt",
     {{"HDMI-1", true, true,
       {{1920, 1080, 60.0f, false, kHdmi1080},
        {1920, 1080, 50.0f, false, kHdmi1080},
        {1920, 1080, 59.94f, false, kHdmi1080},
        {1920, 1080, 60.0f, true, kHdmi1080},
        {1920, 1080, 50.0f, true, kHdmi1080},
        {1920, 1080, 59.94f, true, kHdmi1080},
        {1280, 720, 60.0f, false, {60.0f, 50.0f}},
        {1280, 720, 50.0f, false, {60.0f, 50.0f}}}},
      {"HDMI-2", false, true,
       {{1280, 1024, 60.02f, false, {60.02f, 75.02f}},
        {1280, 1024, 75.02f, false, {60.02f, 75.02f}},
        {1024, 768, 60.0f, false, {60.0f, 70.07f}},
        {1024, 768, 70.07f, false, {60.0f, 70.07f}}}}},
     "1920x1080p60.00\n1920x1080p50.00\n1920x1080p59.94\n1280x720p60.00\n1280x720p50.00\n"
     "1280x1024p60.02\n1280x1024p75.02\n1024x768p60.00\n1024x768p70.07\n"},
    {"none-connected.txt", {}, ""},
    // Xvfb offers one mode at rate 0.00, which is no mode at all.
    {"xvfb.txt", {{"screen", false, true, {}}}, ""},
    // Empty lines, lines without words and mode names without a usable size are skipped;
    // a rate without decimals is written with two.
    {"odd-lines.txt",
     {{"eDP-1", false, true, {{1600, 900, 59.99f, false, {59.99f}}, {1366, 768, 60.0f, false, {60.0f}}}}},
     "1600x900p59.99\n1366x768p60.00\n"},
    // An output in "unknown connection" state ends the block of the connected one above.
    {"unknown-connection.txt",
     {{"eDP-1", true, true,
       {{1920, 1080, 60.02f, false, {60.02f, 48.01f}},
        {1920, 1080, 48.01f, false, {60.02f, 48.01f}},
        {1680, 1050, 59.88f, false, {59.88f}}}}},
     "1920x1080p60.02\n1920x1080p48.01\n1680x1050p59.88\n"},
    // Custom mode names keep their size (the digits up to the first other character after
    // the 'x'); an output in "unknown connection" state ends the block above it and lists
    // nothing; a mode that no output uses (id, clock, timings) is no mode of the output.
    {"custom-modes.txt",
     {{"HDMI-1", true, true,
       {{1920, 1080, 60.0f, false, kHdmi1080},
        {1920, 1080, 50.0f, false, kHdmi1080},
        {1920, 1080, 59.94f, false, kHdmi1080},
        {1920, 1080, 49.92f, false, {49.92f}},
        {2560, 1440, 59.96f, false, {59.96f}},
        {1280, 720, 60.0f, false, {60.0f, 50.0f}},
        {1280, 720, 50.0f, false, {60.0f, 50.0f}},
        {1920, 1080, 50.0f, true, {50.0f}}}},
      {"DP-1", false, true, {{2560, 1440, 59.95f, false, {59.95f}}, {1920, 1080, 59.96f, false, {59.96f}}}}},
     "1920x1080p60.00\n1920x1080p50.00\n1920x1080p59.94\n1920x1080p49.92\n2560x1440p59.96\n"
     "1280x720p60.00\n1280x720p50.00\n2560x1440p59.95\n1920x1080p59.96\n"},
};

std::string fixture(const char* name)
{
    return getFileString((std::string(TARNVIK_TEST_DATA) + "/" + name).c_str());
}

TEST(DisplayResolutions, ParsesListings)
{
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.fixture);
        testsupport::Sandbox box;
        box.respond("xrandr", fixture(c.fixture));
        const std::vector<DISPLAY> displays = getDisplayResolutions();
        ASSERT_EQ(displays.size(), c.outputs.size());
        for (size_t d = 0; d < displays.size(); ++d) {
            const Output& want = c.outputs[d];
            EXPECT_EQ(displays[d].name, want.name);
            EXPECT_EQ(displays[d].primary, want.primary) << want.name;
            EXPECT_EQ(displays[d].active, want.active) << want.name;
            ASSERT_EQ(displays[d].modes.size(), want.modes.size()) << want.name;
            for (size_t m = 0; m < want.modes.size(); ++m) {
                const DISPLAY_INFO& got = displays[d].modes[m];
                EXPECT_EQ(got.width, want.modes[m].width) << want.name << " mode " << m;
                EXPECT_EQ(got.height, want.modes[m].height) << want.name << " mode " << m;
                EXPECT_EQ(got.rate, want.modes[m].rate) << want.name << " mode " << m;
                EXPECT_EQ(got.interlaced, want.modes[m].interlaced) << want.name << " mode " << m;
                EXPECT_EQ(got.rates, want.modes[m].rates) << want.name << " mode " << m;
            }
        }
        EXPECT_EQ(box.calls("xrandr"), (std::vector<testsupport::Argv>{{"xrandr"}}));
    }
}

TEST(DisplayResolutions, WritesProgressiveModesToFileAndStdout)
{
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.fixture);
        testsupport::Sandbox box;
        box.respond("xrandr", fixture(c.fixture));
        box.writeFile("/etc/tarnvik-display-resolutions.json", "stale content that is longer than the new list\n");
        testing::internal::CaptureStdout();
        EXPECT_TRUE(writeDisplayResolutions());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.listFile);
        EXPECT_EQ(box.readFile("/etc/tarnvik-display-resolutions.json"), c.listFile);
    }
}

TEST(DisplayResolutions, AFailedXrandrIsNoListAndLeavesTheFile)
{
    struct Case {
        const char* label;
        const char* out;
        int code;
        const char* error;
    } cases[] = {
        {"no display", "", 1, "xrandr failed (exit status 1)"},
        // A listing that ends early is not taken either.
        {"ended part way", "Screen 0: minimum 320 x 200, current 1920 x 1080, maximum 16384 x 16384\n"
                           "HDMI-1 connected 1920x1080+0+0 (normal left inverted right x axis y axis)\n",
         2, "xrandr failed (exit status 2)"},
        {"not installed", "", 127, "cannot run xrandr (exit status 127)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        testsupport::Sandbox box;
        box.respond("xrandr", c.out, "", c.code);
        box.writeFile("/etc/tarnvik-display-resolutions.json", "1920x1080p60.00\n");
        try {
            getDisplayResolutions();
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), c.error);
        }
        testing::internal::CaptureStdout();
        EXPECT_THROW(writeDisplayResolutions(), std::runtime_error);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(box.readFile("/etc/tarnvik-display-resolutions.json"), "1920x1080p60.00\n");
    }
}

TEST(DisplayResolutions, DebugListingShowsEveryMode)
{
    testsupport::Sandbox box;
    box.respond("xrandr", fixture("two-outputs.txt"));
    isDebug = true;
    testing::internal::CaptureStdout();
    getDisplayResolutions();
    const std::string log = testing::internal::GetCapturedStdout();
    isDebug = false;
    const std::string listing = "[ DEBUG ] Got all connected displays\n[ DEBUG ] \n[ DEBUG ] HDMI-1\n"
                                "[ DEBUG ] 1920x1080p60.00\n[ DEBUG ] 1920x1080p50.00\n[ DEBUG ] 1920x1080p59.94\n"
                                "[ DEBUG ] 1920x1080i60.00\n[ DEBUG ] 1920x1080i50.00\n[ DEBUG ] 1920x1080i59.94\n"
                                "[ DEBUG ] 1280x720p60.00\n[ DEBUG ] 1280x720p50.00\n[ DEBUG ] HDMI-2\n";
    EXPECT_NE(log.find(listing), std::string::npos) << log;
    EXPECT_NE(log.find("[ DEBUG ] 2:   1920x1080     60.00*+  50.00    59.94  \n"), std::string::npos) << log;
}

TEST(DisplayResolutions, NewRecordsHoldTheDefaults)
{
    const DISPLAY_INFO mode;
    EXPECT_EQ(mode.width, 1920);
    EXPECT_EQ(mode.height, 1080);
    EXPECT_EQ(mode.rate, 60.0f);
    EXPECT_FALSE(mode.interlaced);
    EXPECT_TRUE(mode.rates.empty());
    const DISPLAY display;
    EXPECT_TRUE(display.name.empty());
    EXPECT_TRUE(display.modes.empty());
    EXPECT_FALSE(display.primary);
    EXPECT_FALSE(display.active);
}

} // namespace
