// The real decoder-ui program, driven from outside with keys on a private X server.
#include "testsupport/process.h"
#include "testsupport/sandbox.h"
#include "testsupport/xserver.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>

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

} // namespace
