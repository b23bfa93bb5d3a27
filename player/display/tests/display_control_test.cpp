#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/helpers.h"
#include "player/display/display_control.h"
#include "testsupport/sandbox.h"
#include "testsupport/xserver.h"

namespace {

using testsupport::Argv;

// HDMI-1 has modes but is not showing any; HDMI-2 is the active one.
const char* kTwoOutputs =
    "Screen 0: minimum 320 x 200, current 2560 x 1440, maximum 16384 x 16384\n"
    "HDMI-1 connected primary (normal left inverted right x axis y axis)\n"
    "   3840x2160     30.00 +  25.00  \n"
    "   1920x1080     60.00    50.00  \n"
    "DP-1 disconnected (normal left inverted right x axis y axis)\n"
    "HDMI-2 connected 2560x1440+0+0 (normal left inverted right x axis y axis) 597mm x 336mm\n"
    "   2560x1440     59.95*+\n"
    "   1920x1080     60.00    50.00    59.94  \n"
    "   1920x1080i    60.00    50.00  \n"
    "   1280x720      60.00    50.00  \n";

// Fake xrandr: the listing without arguments; refuses one mode on standard error.
void installFakeXrandr(const testsupport::Sandbox& box, const std::string& listing)
{
    box.writeFile("/tmp/xrandr-listing", listing);
    box.hook("xrandr", "if [ $# -eq 0 ]; then cat '" + box.path("/tmp/xrandr-listing") +
                           "'; exit 0; fi\n"
                           "case \"$*\" in *1919x1080*) echo 'xrandr: cannot find mode 1919x1080' >&2; exit 1;; esac\n"
                           "exit 0\n");
}

Argv switchTo(const char* output, const char* mode, const char* rate)
{
    return {"xrandr", "--output", output, "--mode", mode, "--rate", rate};
}

struct Source {
    int width;
    int height;
    int progressive;
    float rate;
};

struct PolicyCase {
    const char* label;
    const char* settings;  // content of the av-settings file, null: no file
    int policy;
    Source source;
    const char* mode;  // what the switch asks xrandr for
    const char* rate;
};

const PolicyCase kPolicies[] = {
    {"no file, field source", nullptr, 0, {1920, 540, 0, 59.94f}, "1920x1080", "60"},
    {"no file, progressive", nullptr, 0, {1280, 720, 1, 50.0f}, "1280x720", "50"},
    {"not JSON", "{\"vidoutmode\": \"HIGH", 0, {1920, 540, 0, 50.0f}, "1920x1080", "50"},
    {"not an object", "[\"HIGHEST\"]", 0, {1920, 1080, 1, 29.97f}, "1920x1080", "30"},
    {"no vidoutmode", "{\"vidoutsize\": \"1280x720p50.00\"}", 0, {1920, 1080, 1, 25.0f}, "1920x1080", "25"},
    {"ORIGINAL", "{\"vidoutmode\": \"ORIGINAL\"}", 0, {1920, 540, 0, 59.94f}, "1920x1080", "60"},
    {"HIGHEST", "{\"vidoutmode\": \"HIGHEST\"}", 1, {1280, 720, 1, 50.0f}, "2560x1440", "60"},
    {"HIGHEST, field source", "{\"vidoutmode\": \"HIGHEST\"}", 1, {1920, 540, 0, 59.94f}, "2560x1440", "60"},
    {"highest in lower case", "{\"vidoutmode\": \"highest\"}", 0, {1280, 720, 1, 50.0f}, "1280x720", "50"},
    {"Selected in mixed case", "{\"vidoutmode\": \"Selected\", \"vidoutsize\": \"1280x720p50.00\"}", 0,
     {1920, 1080, 1, 60.0f}, "1920x1080", "60"},
    {"SELECTED without size", "{\"vidoutmode\": \"SELECTED\"}", 2, {1280, 720, 1, 50.0f}, "1920x1080", "60"},
    {"SELECTED 1920x1080p60.00", "{\"vidoutmode\": \"SELECTED\", \"vidoutsize\": \"1920x1080p60.00\"}", 2,
     {1280, 720, 1, 50.0f}, "1920x1080", "60"},
    {"SELECTED 1280x720p50.00", "{\"vidoutmode\": \"SELECTED\", \"vidoutsize\": \"1280x720p50.00\"}", 2,
     {1920, 540, 0, 59.94f}, "1280x720", "50"},
    {"SELECTED, not listed", "{\"vidoutmode\": \"SELECTED\", \"vidoutsize\": \"3840x2160p29.97\"}", 2,
     {1280, 720, 1, 50.0f}, "3840x2160", "30"},
    {"SELECTED without p", "{\"vidoutmode\": \"SELECTED\", \"vidoutsize\": \"1280x720\"}", 2,
     {1280, 720, 1, 50.0f}, "1920x1080", "60"},
    {"SELECTED without x", "{\"vidoutmode\": \"SELECTED\", \"vidoutsize\": \"1280p50\"}", 2,
     {1280, 720, 1, 50.0f}, "1920x1080", "60"},
    {"SELECTED, empty size", "{\"vidoutmode\": \"SELECTED\", \"vidoutsize\": \"\"}", 2, {1280, 720, 1, 50.0f},
     "1920x1080", "60"},
    {"SELECTED, size not a text", "{\"vidoutmode\": \"SELECTED\", \"vidoutsize\": 1080}", 2,
     {1280, 720, 1, 50.0f}, "1920x1080", "60"},
    {"SELECTED, words", "{\"vidoutmode\": \"SELECTED\", \"vidoutsize\": \"wide x tall p fast\"}", 2,
     {1280, 720, 1, 50.0f}, "1920x1080", "60"},
};

TEST(OutputPolicy, ModeSwitchFollowsThePolicy)
{
    for (const auto& c : kPolicies) {
        SCOPED_TRACE(c.label);
        testsupport::Sandbox box;
        testsupport::requireSandbox();
        installFakeXrandr(box, kTwoOutputs);
        if (c.settings != nullptr)
            box.writeFile("/etc/tarnvik-av-settings.json", c.settings);

        ASSERT_TRUE(getDecodeOutputSettings());
        EXPECT_EQ(strConnectedDisplayPort, "HDMI-2");
        EXPECT_EQ(webui_settings.policy, c.policy);
        box.clearCalls();

        EXPECT_TRUE(changeScreenInfo(false, c.source.width, c.source.height, c.source.progressive, c.source.rate));
        // Every switch asks again, the same way.
        EXPECT_TRUE(changeScreenInfo(false, c.source.width, c.source.height, c.source.progressive, c.source.rate));
        const Argv want = switchTo("HDMI-2", c.mode, c.rate);
        EXPECT_EQ(box.calls("xrandr"), (std::vector<Argv>{want, want}));

        // The restore sets the mode it is given, whatever the policy.
        box.clearCalls();
        EXPECT_TRUE(changeScreenInfo(true, 2560, 1440, 1, 59.95f));
        EXPECT_EQ(box.calls("xrandr"), (std::vector<Argv>{switchTo("HDMI-2", "2560x1440", "60")}));
    }
}

TEST(OutputPolicy, PrintsTheSettingsAndLogsTheSelection)
{
    struct Case {
        const char* settings;
        const char* printed;
        const char* logged;
    } cases[] = {
        // A missing or broken file: the defaults and one line saying so.
        {nullptr, "\ntarnvik-av-settings.json:\nvideooutd\nORIGINAL\n1920x1080p60.00\n\n", "[Info] "},
        {"{\"vidoutmode\": ", "\ntarnvik-av-settings.json:\nvideooutd\nORIGINAL\n1920x1080p60.00\n\n", "[Info] "},
        {"{\"videoout\": \"hdmi\", \"vidoutmode\": \"SELECTED\", \"vidoutsize\": \"1280x720p50.00\"}",
         "\ntarnvik-av-settings.json:\nhdmi\nSELECTED\n1280x720p50.00\n\n",
         "[ DEBUG ] Selected resolution: 1280x720p50.00\n[ DEBUG ] Has selected resolution\n"},
        {"{\"vidoutmode\": \"SELECTED\", \"vidoutsize\": \"1280x720p59.94\"}",
         "\ntarnvik-av-settings.json:\nvideooutd\nSELECTED\n1280x720p59.94\n\n",
         "[ DEBUG ] Selected resolution: 1280x720p59.94\n[ DEBUG ] Hasn't selected resolution\n"},
    };
    for (const auto& c : cases) {
        testsupport::Sandbox box;
        installFakeXrandr(box, kTwoOutputs);
        if (c.settings != nullptr)
            box.writeFile("/etc/tarnvik-av-settings.json", c.settings);
        isDebug = true;
        testing::internal::CaptureStdout();
        EXPECT_TRUE(getDecodeOutputSettings());
        const std::string out = testing::internal::GetCapturedStdout();
        isDebug = false;
        EXPECT_NE(out.find(c.printed), std::string::npos) << out;
        EXPECT_NE(out.find("Connected to display port: HDMI-2\n"), std::string::npos) << out;
        EXPECT_NE(out.find(c.logged), std::string::npos) << out;
        if (c.logged == std::string("[Info] ")) {
            EXPECT_EQ(out.find("[Info] "), out.rfind("[Info] ")) << "one log line: " << out;
        }
    }
}

TEST(OutputPolicy, ChoosesTheDisplay)
{
    struct Case {
        const char* label;
        const char* listing;
        bool found;
        const char* port;
        int width, height;
        float rate;  // the stored mode: the chosen display's first mode
    } cases[] = {
        {"second output active", kTwoOutputs, true, "HDMI-2", 2560, 1440, 59.95f},
        {"none active: first with modes",
         "HDMI-1 connected (normal)\nHDMI-2 connected (normal)\n   1280x720      60.00  \n"
         "HDMI-3 connected (normal)\n   1920x1080     50.00  \n",
         true, "HDMI-2", 1280, 720, 60.0f},
        {"active output without modes skipped",
         "screen connected 1920x1080+0+0 0mm x 0mm\n   1920x1080      0.00* \n"
         "HDMI-1 connected (normal)\n   1280x720      60.00  \n",
         true, "HDMI-1", 1280, 720, 60.0f},
        {"Xvfb", "screen connected 1920x1080+0+0 0mm x 0mm\n   1920x1080      0.00* \n", false, "", 0, 0, 0},
        {"nothing connected", "HDMI-1 disconnected (normal)\n", false, "", 0, 0, 0},
        {"no listing", "", false, "", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        testsupport::Sandbox box;
        installFakeXrandr(box, c.listing);
        box.writeFile("/etc/tarnvik-av-settings.json", "{\"vidoutmode\": \"HIGHEST\"}");
        ASSERT_EQ(getDecodeOutputSettings(), c.found);
        if (!c.found)
            continue;
        EXPECT_EQ(strConnectedDisplayPort, c.port);
        EXPECT_EQ(webui_settings.mode.width, c.width);
        EXPECT_EQ(webui_settings.mode.height, c.height);
        EXPECT_EQ(webui_settings.mode.rate, c.rate);
    }
}

TEST(ModeSwitch, RefusalIsReportedAndLogged)
{
    testsupport::Sandbox box;
    testsupport::requireSandbox();
    installFakeXrandr(box, kTwoOutputs);
    ASSERT_TRUE(getDecodeOutputSettings());
    isDebug = true;
    testing::internal::CaptureStdout();
    const bool switched = changeScreenInfo(false, 1919, 1080, 1, 60.0f);
    const std::string log = testing::internal::GetCapturedStdout();
    isDebug = false;
    EXPECT_FALSE(switched);
    EXPECT_NE(log.find("xrandr command: xrandr --output HDMI-2 --mode 1919x1080 --rate 60\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("xrandr response: xrandr: cannot find mode 1919x1080\n"), std::string::npos) << log;
}

TEST(ModeSwitch, ImpossibleModesAreNotAskedFor)
{
    testsupport::Sandbox box;
    testsupport::requireSandbox();
    installFakeXrandr(box, kTwoOutputs);
    ASSERT_TRUE(getDecodeOutputSettings());
    box.clearCalls();
    EXPECT_FALSE(changeScreenInfo(true, 0, 0, 1, 0.0f));  // start-up mode unknown
    EXPECT_FALSE(changeScreenInfo(false, -1280, 720, 1, 60.0f));
    EXPECT_FALSE(changeScreenInfo(false, 1280, 720, 1, std::numeric_limits<float>::quiet_NaN()));
    EXPECT_FALSE(changeScreenInfo(false, 1280, 720, 1, 1e30f));
    EXPECT_TRUE(box.calls("xrandr").empty());
}

// A server that reports no rate (Xvfb) gives a start-up rate of 0: xrandr refuses
// "--rate 0", the mode alone is set.
TEST(ModeSwitch, AnUnknownRateIsLeftOut)
{
    struct Case {
        const char* label;
        bool restore;
        int width, height;
        float rate;
        Argv call;
        const char* logged;
    } cases[] = {
        {"restore at rate 0", true, 1920, 1080, 0.0f, {"xrandr", "--output", "HDMI-2", "--mode", "1920x1080"},
         "xrandr command: xrandr --output HDMI-2 --mode 1920x1080\n"},
        {"switch at rate 0", false, 1280, 720, 0.0f, {"xrandr", "--output", "HDMI-2", "--mode", "1280x720"},
         "xrandr command: xrandr --output HDMI-2 --mode 1280x720\n"},
        {"a rate below one still rounds up", true, 1920, 1080, 0.5f, switchTo("HDMI-2", "1920x1080", "1"),
         "xrandr command: xrandr --output HDMI-2 --mode 1920x1080 --rate 1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        testsupport::Sandbox box;
        testsupport::requireSandbox();
        installFakeXrandr(box, kTwoOutputs);
        ASSERT_TRUE(getDecodeOutputSettings());
        box.clearCalls();
        isDebug = true;
        testing::internal::CaptureStdout();
        EXPECT_TRUE(changeScreenInfo(c.restore, c.width, c.height, 1, c.rate));
        const std::string log = testing::internal::GetCapturedStdout();
        isDebug = false;
        EXPECT_EQ(box.calls("xrandr"), (std::vector<Argv>{c.call}));
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    }
}

// The output name comes from the listing: whatever it holds reaches xrandr as one
// argument, and nothing else runs.
TEST(ModeSwitch, OutputNamesCannotActAsShellSyntax)
{
    testsupport::Sandbox box;
    testsupport::requireSandbox();
    const std::string mark = box.path("/tmp/ran");
    const std::string names[] = {
        "DP-1;touch${IFS}" + mark,
        "DP-1$(touch${IFS}" + mark + ")",
        "DP-1`touch${IFS}" + mark + "`",
        "DP-1'\";touch${IFS}" + mark + ";'\\",
        "DP-1|touch${IFS}" + mark,
        "DP-1&&touch${IFS}" + mark + "&",
        "DP-1>" + mark,
        "DP-*",
        "DP-1#",
        "~root",
    };
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        installFakeXrandr(box, "Screen 0: minimum 320 x 200, current 1920 x 1080, maximum 16384 x 16384\n" + name +
                                   " connected primary 1920x1080+0+0 (normal left inverted right x axis y axis)\n"
                                   "   1920x1080     60.00*+  50.00  \n");
        ASSERT_TRUE(getDecodeOutputSettings());
        ASSERT_EQ(strConnectedDisplayPort, name);
        box.clearCalls();
        EXPECT_TRUE(changeScreenInfo(false, 1920, 1080, 1, 50.0f));
        EXPECT_EQ(box.calls(), (std::vector<Argv>{{"xrandr", "--output", name, "--mode", "1920x1080", "--rate", "50"}}));
        EXPECT_FALSE(box.exists("/tmp/ran"));
    }
}

TEST(CurrentMode, NoDisplayGivesZeros)
{
    testsupport::ScopedDisplay none(":4095");
    int width = -1, height = -1, rate = -1;
    getCurScreenInfo(&width, &height, &rate);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    EXPECT_EQ(rate, 0);
}

// The server's current mode as its own xrandr listing shows it: "1920x1080 30".
std::string serverMode(const testsupport::XServer& server)
{
    std::istringstream listing(testsupport::realXrandr(server.display(), ""));
    for (std::string line; std::getline(listing, line);) {
        const size_t star = line.find('*');
        if (star == std::string::npos)
            continue;
        std::istringstream words(line);
        std::string mode;
        words >> mode;
        const size_t rateStart = line.find_last_of(' ', star) + 1;
        const double rate = std::stod(line.substr(rateStart, star - rateStart));
        return mode + " " + std::to_string(static_cast<int>(rate + 0.5));
    }
    return "none";
}

class DummyServer : public testing::Test {
protected:
    static void SetUpTestSuite() { server_ = testsupport::XServer::startDummyXorg("1280x720", 60).release(); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(server_, nullptr);
        // Mode switches reach the real xrandr, but only ever on the private server.
        box_.hook("xrandr", "exec /usr/bin/xrandr -display " + server_->display() + " \"$@\"\n");
        testsupport::requireSandbox();
    }

    static testsupport::XServer* server_;
    testsupport::Sandbox box_;
};

testsupport::XServer* DummyServer::server_ = nullptr;

TEST_F(DummyServer, PoliciesSwitchTheServerAndRestoreReturns)
{
    testsupport::ScopedDisplay use(*server_);
    int startWidth = 0, startHeight = 0, startRate = 0;
    getCurScreenInfo(&startWidth, &startHeight, &startRate);
    ASSERT_EQ(serverMode(*server_), "1280x720 60");
    EXPECT_EQ(startWidth, 1280);
    EXPECT_EQ(startHeight, 720);
    EXPECT_EQ(startRate, 60);

    struct Case {
        const char* label;
        const char* settings;
        Source source;
        const char* mode;  // the server's mode afterwards
        int width, height, rate;
    } cases[] = {
        {"no file: a field source at 59.94 gets twice its height at 60", nullptr, {1920, 540, 0, 59.94f},
         "1920x1080 60", 1920, 1080, 60},
        {"no file: progressive 720p30", nullptr, {1280, 720, 1, 30.0f}, "1280x720 30", 1280, 720, 30},
        {"HIGHEST: the first listed mode", "{\"vidoutmode\": \"HIGHEST\"}", {1280, 720, 1, 30.0f},
         "3840x2160 60", 3840, 2160, 60},
        {"SELECTED", "{\"vidoutmode\": \"SELECTED\", \"vidoutsize\": \"1920x1080p30.00\"}", {1280, 720, 1, 60.0f},
         "1920x1080 30", 1920, 1080, 30},
        {"another case: follows the source", "{\"vidoutmode\": \"Highest\"}", {1280, 720, 1, 60.0f},
         "1280x720 60", 1280, 720, 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.settings != nullptr)
            box_.writeFile("/etc/tarnvik-av-settings.json", c.settings);
        else
            std::remove(box_.path("/etc/tarnvik-av-settings.json").c_str());
        ASSERT_TRUE(getDecodeOutputSettings());
        EXPECT_EQ(strConnectedDisplayPort, "DUMMY0");
        EXPECT_TRUE(changeScreenInfo(false, c.source.width, c.source.height, c.source.progressive, c.source.rate));
        EXPECT_EQ(serverMode(*server_), c.mode);
        int width = 0, height = 0, rate = 0;
        getCurScreenInfo(&width, &height, &rate);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        EXPECT_EQ(rate, c.rate);
    }

    EXPECT_TRUE(changeScreenInfo(true, startWidth, startHeight, 1, static_cast<float>(startRate)));
    EXPECT_EQ(serverMode(*server_), "1280x720 60");
}

TEST_F(DummyServer, RefusedModeIsFalseAndLeavesTheMode)
{
    testsupport::ScopedDisplay use(*server_);
    ASSERT_TRUE(getDecodeOutputSettings());
    ASSERT_TRUE(changeScreenInfo(false, 1280, 720, 1, 60.0f));
    EXPECT_FALSE(changeScreenInfo(false, 1366, 768, 1, 60.0f));
    EXPECT_EQ(serverMode(*server_), "1280x720 60");
}

} // namespace
