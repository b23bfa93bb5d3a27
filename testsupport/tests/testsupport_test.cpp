#include <gtest/gtest.h>

#include <cstdlib>

#include "testsupport/process.h"
#include "testsupport/sandbox.h"
#include "testsupport/xserver.h"

using testsupport::Argv;

TEST(Sandbox, FakeCommandsRecordArgvAndAnswerAsTold)
{
    testsupport::Sandbox box;
    testsupport::requireSandbox();
    box.respond("xrandr", "listing\n", "refused\n", 3);

    auto result = testsupport::runProcess({"sh", "-c", "xrandr -s '1920x1080' -r 60 'two words' ''"});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.out, "listing\n");
    EXPECT_EQ(result.err, "refused\n");

    testsupport::runProcess({"systemctl", "restart", "TarnvikRunner"});
    testsupport::runProcess({box.path("/bin/tarnvik-set-dhcp"), "eth0"});

    auto calls = box.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], (Argv{"xrandr", "-s", "1920x1080", "-r", "60", "two words", ""}));
    EXPECT_EQ(calls[1], (Argv{"systemctl", "restart", "TarnvikRunner"}));
    EXPECT_EQ(calls[2], (Argv{"tarnvik-set-dhcp", "eth0"}));
    EXPECT_EQ(box.calls("systemctl").size(), 1u);
}

TEST(Sandbox, HookAnswersByArguments)
{
    testsupport::Sandbox box;
    box.hook("ip", "[ \"$1\" = route ] && echo 'default via 10.0.0.1' || echo other\n");
    EXPECT_EQ(testsupport::runProcess({"ip", "route", "show"}).out, "default via 10.0.0.1\n");
    EXPECT_EQ(testsupport::runProcess({"ip", "addr"}).out, "other\n");
    EXPECT_EQ(box.calls("ip").size(), 2u);
}

TEST(Sandbox, RootMovesFixedPathsAndIsRemoved)
{
    std::string root;
    {
        testsupport::Sandbox box;
        root = box.root();
        EXPECT_EQ(std::getenv("TARNVIK_ROOT"), root);
        box.writeFile("/etc/tarnvik-mode", "decode");
        EXPECT_EQ(box.readFile("/etc/tarnvik-mode"), "decode");
        EXPECT_TRUE(box.exists("/srv/tarnvik-web-ui-resources"));
    }
    EXPECT_EQ(std::getenv("TARNVIK_ROOT"), nullptr);
    EXPECT_NE(std::string(std::getenv("PATH")).find("fakebin"), 0u);
}

TEST(SandboxDeathTest, GuardRefusesWithoutFakes)
{
    ::unsetenv("TARNVIK_ROOT");
    EXPECT_DEATH(testsupport::requireSandbox(), "refusing to run");
}

TEST(XServer, PrivateXvfbAnswers)
{
    auto server = testsupport::XServer::startXvfb(1280, 720);
    ASSERT_NE(server, nullptr);
    std::string listing = testsupport::realXrandr(server->display(), "-q");
    EXPECT_NE(listing.find("current 1280 x 720"), std::string::npos) << listing;
}

TEST(XServer, DummyXorgSwitchesModes)
{
    auto server = testsupport::XServer::startDummyXorg("1920x1080", 60);
    ASSERT_NE(server, nullptr);
    EXPECT_NE(testsupport::realXrandr(server->display(), "-q").find("current 1920 x 1080"), std::string::npos);
    testsupport::realXrandr(server->display(), "-s 1280x720 -r 30");
    std::string listing = testsupport::realXrandr(server->display(), "-q");
    EXPECT_NE(listing.find("current 1280 x 720"), std::string::npos) << listing;
    EXPECT_NE(listing.find("30.00*"), std::string::npos) << listing;
}

TEST(XServer, DummyXorgConnectsASecondOutput)
{
    auto server = testsupport::XServer::startDummyXorg("1920x1080", 60);
    ASSERT_NE(server, nullptr);
    EXPECT_NE(testsupport::realXrandr(server->display(), "-q").find("DUMMY1 disconnected"), std::string::npos);
    ASSERT_TRUE(server->connectSecondOutput());
    std::string listing = testsupport::realXrandr(server->display(), "-q");
    EXPECT_NE(listing.find("DUMMY0 connected primary 1920x1080+0+0"), std::string::npos) << listing;
    EXPECT_NE(listing.find("DUMMY1 connected 1280x720+1920+0"), std::string::npos) << listing;
}
