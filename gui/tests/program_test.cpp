// The real decoder-ui program, driven from outside with keys on a private X server.
#include "testsupport/process.h"
#include "testsupport/sandbox.h"
#include "testsupport/xserver.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using testsupport::Argv;

namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class DecoderUiProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = testsupport::XServer::startXvfb(1920, 1080);
        ASSERT_TRUE(server);
        display = std::make_unique<testsupport::ScopedDisplay>(*server);
        box = std::make_unique<testsupport::Sandbox>();
        testsupport::requireSandbox();
        mkdir(box->path("/config").c_str(), 0700);
        mkdir(box->path("/runtime").c_str(), 0700);
    }

    testsupport::Environment environment(const std::string& scenario)
    {
        box->writeFile("/etc/scenario.json", scenario);
        return {{"XDG_CONFIG_HOME", box->path("/config")},
                {"XDG_RUNTIME_DIR", box->path("/runtime")},
                {"QT_QPA_PLATFORM", "xcb"},
                {"TARNVIK_NDI_SCENARIO", box->path("/etc/scenario.json")},
                {"TARNVIK_NDI_LOG", box->path("/tmp/ndi.log")},
                {"LSAN_OPTIONS", "suppressions=" + testsupport::sourcePath("gui/tests/lsan.supp")}};
    }

    // Waits for the program's window, gives it the keyboard and types key.
    testsupport::ProcessResult sendKey(const std::string& key)
    {
        return testsupport::runProcess({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Tarnvik$",
                                        "windowfocus", "--sync", "key", key},
                                       {}, std::chrono::seconds(20));
    }

    std::unique_ptr<testsupport::XServer> server;
    std::unique_ptr<testsupport::ScopedDisplay> display;
    std::unique_ptr<testsupport::Sandbox> box;
};

TEST_F(DecoderUiProgram, StartsThePlayerServiceAndQuitsCleanlyDuringDiscovery)
{
    // The only source shows up late, so the first discovery run is still waiting when F1 comes.
    testsupport::Process ui({testsupport::binaryPath("gui/decoder-ui")},
                            environment(R"json({"sources": [{"name": "LATE (Cam)", "url": "10.0.0.9:5961",
                                                             "appear_ms": 60000}]})json"));
    const auto key = sendKey("F1");
    ASSERT_EQ(key.exitCode, 0) << key.err;
    const auto result = ui.wait(std::chrono::seconds(30));
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, 0) << result.err;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("QThread: Destroyed"), std::string::npos) << result.err;

    bool restarted = false;
    for (const Argv& call : box->calls("systemctl"))
        restarted = restarted || call == Argv{"systemctl", "restart", "TarnvikRunner"};
    EXPECT_TRUE(restarted);
    const std::string ndiCalls = readAll(box->path("/tmp/ndi.log"));
    EXPECT_NE(ndiCalls.find("NDIlib_find_create_v2"), std::string::npos) << ndiCalls;
    // The run never saw a source: no list reached the window, so no source-list file was written.
    EXPECT_FALSE(box->exists("/etc/tarnvik_ndi_src.json"));
}

TEST_F(DecoderUiProgram, WindowCarriesTheApplicationIcon)
{
    testsupport::Process ui({testsupport::binaryPath("gui/decoder-ui")},
                            environment(R"json({"sources": []})json"));
    const auto found = testsupport::runProcess(
        {"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Tarnvik$"}, {}, std::chrono::seconds(20));
    ASSERT_EQ(found.exitCode, 0) << found.err;
    const std::string window = found.out.substr(0, found.out.find('\n'));

    // What the X server holds: width, height, then one ARGB cardinal per pixel.
    const auto property = testsupport::runProcess(
        {"xprop", "-len", "16777216", "-id", window, "-f", "_NET_WM_ICON", "32c", "=$0+\\n", "_NET_WM_ICON"});
    ASSERT_EQ(property.exitCode, 0) << property.err;
    std::vector<uint32_t> cardinals;
    const std::string& text = property.out;
    for (size_t at = text.find('='); at != std::string::npos && at < text.size();) {
        at = text.find_first_of("0123456789", at);
        if (at == std::string::npos)
            break;
        size_t end = 0;
        cardinals.push_back(static_cast<uint32_t>(std::stoul(text.substr(at), &end)));
        at += end;
    }
    ASSERT_GE(cardinals.size(), 2u) << text.substr(0, 200);
    const uint32_t w = cardinals[0];
    const uint32_t h = cardinals[1];
    ASSERT_EQ(cardinals.size(), 2 + size_t(w) * h);

    // The icon file decoded by ImageMagick at that size, RGBA bytes.
    const auto decoded = testsupport::runProcess(
        {"convert", testsupport::sourcePath("gui/resources/icons/appicon.png"), "-resize",
         std::to_string(w) + "x" + std::to_string(h) + "!", "-depth", "8", "rgba:-"});
    ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
    ASSERT_EQ(decoded.out.size(), size_t(w) * h * 4);
    size_t differing = 0;
    size_t opaque = 0;
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        const auto* p = reinterpret_cast<const unsigned char*>(decoded.out.data()) + 4 * i;
        const uint32_t argb = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        const uint32_t got = cardinals[2 + i];
        opaque += (got >> 24) == 0xff;
        // Compared premultiplied: the colour of a nearly transparent edge pixel is rounding.
        const int alpha = int(argb >> 24);
        const int gotAlpha = int(got >> 24);
        bool same = std::abs(alpha - gotAlpha) <= 2;
        for (int shift = 0; shift < 24 && same; shift += 8)
            same = std::abs(int((argb >> shift) & 0xff) * alpha / 255 - int((got >> shift) & 0xff) * gotAlpha / 255) <= 2;
        differing += !same;
    }
    EXPECT_GT(opaque, size_t(w) * h / 2);
    EXPECT_EQ(differing, 0u);

    EXPECT_EQ(sendKey("F1").exitCode, 0);
    EXPECT_EQ(ui.wait(std::chrono::seconds(30)).exitCode, 0);
}

} // namespace
