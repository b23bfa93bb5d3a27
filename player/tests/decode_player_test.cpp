// decode-player end to end: a private X server, the NDI stand-in, the fake xrandr, SDL's
// disk audio driver and a test root; the picture read back from the X server.
#include <SDL2/SDL.h>
#include <SDL2/SDL_image.h>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "player/tests/screenshot.h"
#include "testsupport/process.h"
#include "testsupport/sandbox.h"
#include "testsupport/xserver.h"

namespace {

using playertest::Rgb;
using playertest::Screenshot;
using testsupport::Argv;

// The shader's conversion: Y without offset, the fixed matrix, clamped.
Rgb shaderColour(int y, int u, int v)
{
    const double Y = y / 255.0, U = u / 255.0 - 0.5, V = v / 255.0 - 0.5;
    auto level = [](double c) { return static_cast<int>(std::lround(255.0 * std::clamp(c, 0.0, 1.0))); };
    return Rgb{level(Y + 1.13983 * V), level(Y - 0.39465 * U - 0.58060 * V), level(Y + 2.03211 * U)};
}

struct Bar {
    int y, u, v;
};
const Bar kBars[8] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                      {84, 184, 198}, {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};

// One UYVY frame of eight vertical bars.
std::string barsFrame(int width, int height)
{
    std::string bytes(static_cast<size_t>(width) * 2 * height, '\0');
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; x += 2) {
            const Bar& bar = kBars[x * 8 / width];
            char* p = &bytes[(static_cast<size_t>(y) * width + x) * 2];
            p[0] = static_cast<char>(bar.u);
            p[1] = static_cast<char>(bar.y);
            p[2] = static_cast<char>(bar.v);
            p[3] = static_cast<char>(bar.y);
        }
    return bytes;
}

std::string flatFrame(int width, int height, int y, int u, int v)
{
    std::string bytes(static_cast<size_t>(width) * 2 * height, '\0');
    for (size_t i = 0; i < bytes.size(); i += 4) {
        bytes[i] = static_cast<char>(u);
        bytes[i + 1] = static_cast<char>(y);
        bytes[i + 2] = static_cast<char>(v);
        bytes[i + 3] = static_cast<char>(y);
    }
    return bytes;
}

class DecodePlayer : public ::testing::Test {
protected:
    // A private X server of the given size, listed by the fake xrandr as HDMI-1.
    void startScreen(int width, int height, bool connected = true)
    {
        testsupport::requireSandbox();
        x_ = testsupport::XServer::startXvfb(width, height);
        ASSERT_NE(x_, nullptr);
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        std::string listing = "Screen 0: minimum 8 x 8, current " + std::to_string(width) + " x " + std::to_string(height) +
                              ", maximum 32767 x 32767\n";
        if (connected)
            listing += "HDMI-1 connected primary " + size + "+0+0 (normal left inverted right x axis y axis) 509mm x 286mm\n   " +
                       size + "     60.00*+  50.00    59.94\n   1280x720      60.00    50.00\n";
        else
            listing += "HDMI-1 disconnected (normal left inverted right x axis y axis)\n";
        box_.writeFile("/tmp/xrandr-listing", listing);
        box_.hook("xrandr", "if [ $# -eq 0 ]; then cat '" + box_.path("/tmp/xrandr-listing") + "'; fi\n");
    }
    // Until the swapped picture shows at (x, y).
    void waitForPicture(int x, int y)
    {
        testsupport::waitFor([&] { return !Screenshot(x_->display()).black(x, y); }, std::chrono::seconds(30));
    }
    void writeScenario(const std::string& json) { box_.writeFile("/tmp/scenario.json", json); }

    std::unique_ptr<testsupport::Process> run(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = runAs_;
        argv.push_back(testsupport::binaryPath("player/decode-player"));
        argv.insert(argv.end(), args.begin(), args.end());
        testsupport::Environment env{{"VXR_DEBUG_LEVEL", "1"},
                                     {"SDL_AUDIODRIVER", "disk"},
                                     {"SDL_DISKAUDIOFILE", box_.path("/tmp/audio.raw")},
                                     {"TARNVIK_NDI_SCENARIO", box_.path("/tmp/scenario.json")},
                                     {"TARNVIK_NDI_LOG", box_.path("/tmp/ndi.log")},
                                     {"DISPLAY", x_ ? x_->display() : std::string(":0-none")},
                                     // Mesa's unloaded driver leaves cycles LeakSanitizer cannot name; the
                                     // core's leaks are checked in process by the other player tests.
                                     {"ASAN_OPTIONS", "detect_leaks=0"}};
        return std::make_unique<testsupport::Process>(argv, env);
    }
    static bool waitForLog(testsupport::Process& p, const std::string& text, int seconds = 60)
    {
        return testsupport::waitFor([&] { return p.outSoFar().find(text) != std::string::npos; },
                                    std::chrono::seconds(seconds));
    }
    static int count(const std::string& text, const std::string& what)
    {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }
    // A source playing one picture from a file for ever, after an optional silence.
    void playFile(const std::string& frame, int width, int height, int frames = 100000, int silence_after_ms = -1)
    {
        box_.writeFile("/tmp/picture.uyvy", frame);
        std::string segments = R"({"video": {"width": )" + std::to_string(width) + R"(, "height": )" +
                               std::to_string(height) + R"(, "rate": [30, 1], "pattern": "file", "file": ")" +
                               box_.path("/tmp/picture.uyvy") + R"("}, "frames": )" + std::to_string(frames) + "}";
        if (silence_after_ms >= 0)
            segments += R"(, {"silence_ms": )" + std::to_string(silence_after_ms) + "}";
        writeScenario(R"({"sources": [{"name": "Test Source", "segments": [)" + segments + "]}]}");
    }
    void writePng(const std::string& system_path, Rgb colour, bool with_alpha)
    {
        SDL_Surface* surface =
            SDL_CreateRGBSurfaceWithFormat(0, 33, 17, 32, with_alpha ? SDL_PIXELFORMAT_RGBA32 : SDL_PIXELFORMAT_RGB24);
        SDL_FillRect(surface, nullptr, SDL_MapRGBA(surface->format, static_cast<Uint8>(colour.r),
                                                   static_cast<Uint8>(colour.g), static_cast<Uint8>(colour.b), 255));
        ASSERT_EQ(IMG_SavePNG(surface, box_.path(system_path).c_str()), 0);
        SDL_FreeSurface(surface);
    }

    testsupport::Sandbox box_;
    std::unique_ptr<testsupport::XServer> x_;
    std::vector<std::string> runAs_;  // a command that runs the player as another user
};

TEST_F(DecodePlayer, WithoutArgumentPrintsUsage)
{
    auto p = run({});
    auto result = p->wait();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("<daemon> <source name>\n\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Please input source name\n"), std::string::npos);
}

TEST_F(DecodePlayer, NoConnectedDisplayEnds)
{
    startScreen(1920, 1080, false);
    writeScenario(R"({"sources": []})");
    auto result = run({"Test Source"})->wait();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("No connected display\n"), std::string::npos) << result.out;
    EXPECT_NE(box_.readFile("/etc/tarnvik_avinfo.json").find("NDI source not found"), std::string::npos);
}

TEST_F(DecodePlayer, NdiThatCannotRunEnds)
{
    startScreen(1920, 1080);
    writeScenario(R"({"initialize": false, "sources": []})");
    auto result = run({"Test Source"})->wait();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("Cannot run NDI.\n"), std::string::npos) << result.out;
}

// An X server without GLX: no window can be made, so the program ends in order.
TEST_F(DecodePlayer, NoWindowEndsInOrder)
{
    startScreen(1920, 1080);  // for the fake xrandr's listing
    writeScenario(R"({"sources": [{"name": "Test Source", "segments": [{"silence_ms": 60000}]}]})");
    // The server picks a free display number itself and prints it once it accepts clients,
    // so no other test's server can be taken for it.
    testsupport::Process server({"Xvfb", "-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
                                 "-noreset", "-extension", "GLX"});
    ASSERT_TRUE(testsupport::waitFor([&] { return server.outSoFar().find('\n') != std::string::npos; },
                                     std::chrono::seconds(30)))
        << server.errSoFar();
    const std::string printed = server.outSoFar();
    const std::string display = ":" + printed.substr(0, printed.find('\n'));
    std::vector<std::string> argv{testsupport::binaryPath("player/decode-player"), "Test Source"};
    auto result = testsupport::runProcess(argv, {{"VXR_DEBUG_LEVEL", "1"},
                                                 {"DISPLAY", display},
                                                 {"SDL_AUDIODRIVER", "disk"},
                                                 {"SDL_DISKAUDIOFILE", box_.path("/tmp/audio.raw")},
                                                 {"TARNVIK_NDI_SCENARIO", box_.path("/tmp/scenario.json")},
                                                 {"ASAN_OPTIONS", "detect_leaks=0"}},
                                          std::chrono::seconds(60));
    server.signal(SIGTERM);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("Cannot open the OpenGL window\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Channel 1 is connecting"), std::string::npos);
}

TEST_F(DecodePlayer, StartUpWaitsForTheDashboardReader)
{
    startScreen(1920, 1080);
    writeScenario(R"({"sources": [{"name": "Test Source", "segments": [{"silence_ms": 60000}]}]})");
    const std::string fifo = box_.path("/tmp/tarnvik-dashboard-pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto p = run({"Test Source"});
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(p->outSoFar().find("Image Format : I420"), std::string::npos) << p->outSoFar();
    // A reader comes: the "not found" records arrive and start-up goes on.
    std::string records;
    while (records.find("aud_ch") == std::string::npos) {
        int fd = ::open(fifo.c_str(), O_RDONLY);
        char buffer[256];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            records.append(buffer, static_cast<size_t>(n));
        ::close(fd);
    }
    EXPECT_EQ(records, "{\"dashboard_vid_input\":\"Decode: NDI source not found\"}{\"aud_ch\":0,\"aud_sr\":0}");
    EXPECT_TRUE(waitForLog(*p, "Image Format : I420"));
    // The receiver's records find no reader now; shutdown still ends.
    ASSERT_TRUE(waitForLog(*p, "No data")) << p->outSoFar();
    p->signal(SIGTERM);
    auto result = p->wait(std::chrono::seconds(30));
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
}

TEST_F(DecodePlayer, BarsOnScreenFollowTheShaderFormula)
{
    startScreen(1920, 1080);
    playFile(barsFrame(1920, 1080), 1920, 1080);
    auto p = run({"Test Source"});
    ASSERT_TRUE(waitForLog(*p, "Opengl render time")) << p->outSoFar();
    waitForPicture(960, 540);
    Screenshot shot(x_->display());
    ASSERT_EQ(shot.width, 1920);
    for (int i = 0; i < 8; ++i) {
        Rgb want = shaderColour(kBars[i].y, kBars[i].u, kBars[i].v);
        for (int y : {100, 540, 1000}) {
            Rgb got = shot.at(i * 240 + 120, y);
            EXPECT_NEAR(got.r, want.r, 2) << "bar " << i << " line " << y;
            EXPECT_NEAR(got.g, want.g, 2) << "bar " << i << " line " << y;
            EXPECT_NEAR(got.b, want.b, 2) << "bar " << i << " line " << y;
        }
    }
    p->signal(SIGTERM);
    EXPECT_EQ(p->wait().exitCode, 0);
}

struct PlacementCase {
    int width, height;
    int left, columns;  // the picture on the 1920x1080 screen
};

class Placement : public DecodePlayer, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(Placement, PillarBoxedAndCentred)
{
    const PlacementCase& c = GetParam();
    startScreen(1920, 1080);
    playFile(flatFrame(c.width, c.height, 200, 128, 128), c.width, c.height);
    auto p = run({"Test Source"});
    ASSERT_TRUE(waitForLog(*p, "Opengl render time")) << p->outSoFar();
    waitForPicture(960, 540);
    Screenshot shot(x_->display());
    for (int y : {0, 540, 1079}) {
        EXPECT_TRUE(shot.black(c.left - 1, y)) << y;
        EXPECT_FALSE(shot.black(c.left, y)) << y;
        EXPECT_FALSE(shot.black(c.left + c.columns - 1, y)) << y;
        EXPECT_TRUE(shot.black(c.left + c.columns, y)) << y;
        EXPECT_TRUE(shot.black(0, y));
        EXPECT_TRUE(shot.black(1919, y));
    }
    p->signal(SIGTERM);
    EXPECT_EQ(p->wait().exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Placement,
                         ::testing::Values(PlacementCase{720, 576, 288, 1344},   // 1350 rounded down to 1344
                                           PlacementCase{640, 480, 240, 1440})); // 4:3 on 16:9

struct BackgroundCase {
    int width, height;
    int picked;  // index into the pictures below
};

class Background : public DecodePlayer, public ::testing::WithParamInterface<BackgroundCase> {};

TEST_P(Background, ChosenByScreenSizeAndOrientation)
{
    const BackgroundCase& c = GetParam();
    const char* files[] = {"/opt/tarnvik/bg_1920x1080.png", "/opt/tarnvik/bg_3840x2160.png",
                           "/opt/tarnvik/bg_1080x1920.png", "/opt/tarnvik/bg_2160x3840.png"};
    const Rgb colours[] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}, {200, 200, 30}};
    for (int i = 0; i < 4; ++i)
        writePng(files[i], colours[i], i % 2 == 1);  // some with an alpha channel
    startScreen(c.width, c.height);
    writeScenario(R"({"sources": [{"name": "Test Source", "segments": [{"silence_ms": 60000}]}]})");
    auto p = run({"Test Source"});
    ASSERT_TRUE(waitForLog(*p, "Channel 1 is connecting")) << p->outSoFar();
    // The first passes of the render loop may still be on their way to the screen.
    const Rgb want = colours[c.picked];
    testsupport::waitFor([&] {
        Rgb centre = Screenshot(x_->display()).at(c.width / 2, c.height / 2);
        return std::abs(centre.r - want.r) <= 2 && std::abs(centre.g - want.g) <= 2 && std::abs(centre.b - want.b) <= 2;
    }, std::chrono::seconds(30));
    Screenshot shot(x_->display());
    for (auto [x, y] : {std::pair{0, 0}, std::pair{c.width / 2, c.height / 2}, std::pair{c.width - 1, c.height - 1}}) {
        Rgb got = shot.at(x, y);
        EXPECT_NEAR(got.r, colours[c.picked].r, 2) << x << "," << y;
        EXPECT_NEAR(got.g, colours[c.picked].g, 2) << x << "," << y;
        EXPECT_NEAR(got.b, colours[c.picked].b, 2) << x << "," << y;
    }
    p->signal(SIGINT);
    EXPECT_EQ(p->wait().exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Background,
                         ::testing::Values(BackgroundCase{1920, 1080, 0}, BackgroundCase{2560, 1440, 1},
                                           BackgroundCase{1080, 1920, 2}));

TEST_F(DecodePlayer, LastPictureStaysWhenTheSourceGoesSilent)
{
    writePng("/opt/tarnvik/bg_1920x1080.png", Rgb{200, 30, 30}, false);
    startScreen(1920, 1080);
    playFile(flatFrame(1920, 1080, 200, 128, 128), 1920, 1080, 10, 60000);
    auto p = run({"Test Source"});
    auto grey = [&] {
        Rgb got = Screenshot(x_->display()).at(960, 540);
        return std::abs(got.r - 200) <= 2 && std::abs(got.g - 200) <= 2 && std::abs(got.b - 200) <= 2;
    };
    // The picture first reaches the screen, then the source falls silent and stays so.
    ASSERT_TRUE(testsupport::waitFor(grey, std::chrono::seconds(60))) << p->outSoFar();
    const int before = count(p->outSoFar(), "No data");
    ASSERT_TRUE(testsupport::waitFor([&] { return count(p->outSoFar(), "No data") >= before + 2; },
                                     std::chrono::seconds(30)))
        << p->outSoFar();
    Screenshot shot(x_->display());
    Rgb got = shot.at(960, 540);
    EXPECT_NEAR(got.r, 200, 2);
    EXPECT_NEAR(got.g, 200, 2);
    EXPECT_NEAR(got.b, 200, 2);
    p->signal(SIGTERM);
    EXPECT_EQ(p->wait().exitCode, 0);
}

TEST_F(DecodePlayer, SourceNameFileReplacesTheReceiver)
{
    startScreen(1920, 1080);
    writeScenario(R"({"sources": [{"name": "Test Source", "segments": [{"silence_ms": 60000}]}]})");
    box_.writeFile("/etc/tarnvik-source-name", "Test Source\n");  // the same name after trimming
    auto p = run({"  Test Source "});
    ASSERT_TRUE(waitForLog(*p, "Channel 1 is connecting to Test Source.")) << p->outSoFar();
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    EXPECT_EQ(p->outSoFar().find("Changed source name"), std::string::npos);

    box_.writeFile("/etc/tarnvik-source-name", "  Other Source \n");
    ASSERT_TRUE(waitForLog(*p, "Channel 1 is connecting to Other Source.", 30)) << p->outSoFar();
    const std::string log = p->outSoFar();
    EXPECT_NE(log.find("Changed source name: Other Source\n"), std::string::npos);
    EXPECT_LT(log.find("[Info] Start receiver delete"), log.find("[Info] End receiver delete"));
    p->signal(SIGTERM);
    EXPECT_EQ(p->wait().exitCode, 0);
    EXPECT_EQ(count(p->outSoFar(), "Channel 1 is connecting to"), 2);
}

TEST_F(DecodePlayer, NewAudioGainReachesTheConversions)
{
    startScreen(1920, 1080);
    writeScenario(R"({"sources": [{"name": "Test Source", "segments": [
        {"audio": {"rate": 48000, "channels": 2}, "duration_ms": 60000}]}]})");
    box_.writeFile("/etc/tarnvik-audio-settings.json", R"({"AudioInGain": 7})");
    auto p = run({"Test Source"});
    auto calls = [&] { return box_.readFile("/tmp/ndi.log"); };
    ASSERT_TRUE(testsupport::waitFor([&] { return calls().find("reference_level=7") != std::string::npos; },
                                     std::chrono::seconds(60)))
        << p->outSoFar();
    box_.writeFile("/etc/tarnvik-audio-settings.json", R"({"AudioInGain": 3})");
    EXPECT_TRUE(testsupport::waitFor([&] { return calls().find("reference_level=3") != std::string::npos; },
                                     std::chrono::seconds(30)));
    // The conversions made after the watcher has read the file, once some are there.
    auto conversionsAfter = [&](size_t mark) {
        std::string later;
        testsupport::waitFor(
            [&] {
                later = calls().substr(std::min(mark, calls().size()));
                return later.find("reference_level=") != std::string::npos;
            },
            std::chrono::seconds(30));
        return later;
    };
    // A broken file keeps the gain.
    box_.writeFile("/etc/tarnvik-audio-settings.json", "{not json");
    ASSERT_TRUE(waitForLog(*p, "missing or not valid JSON, the gain stays 3", 30)) << p->outSoFar();
    const std::string later = conversionsAfter(calls().size());
    EXPECT_NE(later.find("reference_level=3"), std::string::npos) << later;
    EXPECT_EQ(later.find("reference_level=20"), std::string::npos) << later;
    // So does a gain of the wrong type.
    box_.writeFile("/etc/tarnvik-audio-settings.json", R"({"AudioInGain": "loud"})");
    ASSERT_TRUE(waitForLog(*p, "\"AudioInGain\" is not an integer, the gain stays 3", 30)) << p->outSoFar();
    const std::string after_type = conversionsAfter(calls().size());
    EXPECT_NE(after_type.find("reference_level=3"), std::string::npos) << after_type;
    EXPECT_EQ(after_type.find("reference_level=20"), std::string::npos) << after_type;
    p->signal(SIGTERM);
    auto result = p->wait();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(count(result.out, "missing or not valid JSON"), 1) << result.out;
}

// The web interface may write a whole-number gain as a float.
TEST_F(DecodePlayer, WholeNumberGainWrittenAsFloat)
{
    startScreen(1920, 1080);
    writeScenario(R"({"sources": [{"name": "Test Source", "segments": [
        {"audio": {"rate": 48000, "channels": 2}, "duration_ms": 60000}]}]})");
    box_.writeFile("/etc/tarnvik-audio-settings.json", R"({"AudioInGain": 12.0})");
    auto p = run({"Test Source"});
    auto calls = [&] { return box_.readFile("/tmp/ndi.log"); };
    auto levelSeen = [&](const std::string& level, size_t from) {
        return testsupport::waitFor(
            [&] { return calls().find("reference_level=" + level, std::min(from, calls().size())) != std::string::npos; },
            std::chrono::seconds(60));
    };
    ASSERT_TRUE(levelSeen("12", 0)) << p->outSoFar();
    box_.writeFile("/etc/tarnvik-audio-settings.json", R"({"AudioInGain": 1e1})");
    ASSERT_TRUE(levelSeen("10", 0)) << p->outSoFar();
    box_.writeFile("/etc/tarnvik-audio-settings.json", R"({"AudioInGain": -4.0})");
    ASSERT_TRUE(levelSeen("-4", 0)) << p->outSoFar();
    // Not a whole number: the last gain stays, as for any other non-integer.
    box_.writeFile("/etc/tarnvik-audio-settings.json", R"({"AudioInGain": 7.5})");
    ASSERT_TRUE(waitForLog(*p, "\"AudioInGain\" is not an integer, the gain stays -4", 30)) << p->outSoFar();
    const size_t mark = calls().size();
    ASSERT_TRUE(levelSeen("-4", mark));
    EXPECT_EQ(calls().find("reference_level=7", mark), std::string::npos);
    p->signal(SIGTERM);
    EXPECT_EQ(p->wait().exitCode, 0);
}

// Xvfb reports no refresh rate: the start-up mode is restored by its size alone.
TEST_F(DecodePlayer, RestoreWithoutARateLeavesTheRateOut)
{
    startScreen(1920, 1080);
    playFile(flatFrame(1280, 720, 120, 128, 128), 1280, 720);
    auto p = run({"Test Source"});
    ASSERT_TRUE(waitForLog(*p, "Opengl render time")) << p->outSoFar();
    p->signal(SIGTERM);
    auto result = p->wait(std::chrono::seconds(30));
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("lXrandr 1920, 1080, 0\n"), std::string::npos) << result.out;
    std::vector<Argv> switches;
    for (const Argv& call : box_.calls("xrandr"))
        if (call.size() > 1)
            switches.push_back(call);
    ASSERT_GE(switches.size(), 2u);
    EXPECT_EQ(switches.front(), (Argv{"xrandr", "--output", "HDMI-1", "--mode", "1280x720", "--rate", "30"}));
    EXPECT_EQ(switches.back(), (Argv{"xrandr", "--output", "HDMI-1", "--mode", "1920x1080"}));
    EXPECT_NE(result.out.find("xrandr command: xrandr --output HDMI-1 --mode 1920x1080\n"), std::string::npos);
}

// The server's current mode as the real xrandr lists it: "1920x1080 30".
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
        return mode + " " + std::to_string(std::lround(std::stod(line.substr(rateStart, star - rateStart))));
    }
    return "none";
}

// Xorg with the dummy driver and the real xrandr: a format change switches the server's
// mode, the window and the picture follow the new screen, the exit restores the mode.
TEST_F(DecodePlayer, FormatChangeSwitchesARealServerAndTheExitRestores)
{
    testsupport::requireSandbox();
    x_ = testsupport::XServer::startDummyXorg("1280x720", 60);
    ASSERT_NE(x_, nullptr);
    box_.hook("xrandr", "exec /usr/bin/xrandr -display " + x_->display() + " \"$@\"\n");
    ASSERT_EQ(serverMode(*x_), "1280x720 60");
    const Rgb first = shaderColour(60, 160, 100), second = shaderColour(150, 90, 170);
    box_.writeFile("/tmp/small.uyvy", flatFrame(1280, 720, 60, 160, 100));
    box_.writeFile("/tmp/large.uyvy", flatFrame(1920, 1080, 150, 90, 170));
    writeScenario(R"({"sources": [{"name": "Test Source", "segments": [
        {"video": {"width": 1280, "height": 720, "rate": [30, 1], "pattern": "file", "file": ")" +
                  box_.path("/tmp/small.uyvy") + R"("}, "frames": 120},
        {"video": {"width": 1920, "height": 1080, "rate": [30, 1], "pattern": "file", "file": ")" +
                  box_.path("/tmp/large.uyvy") + R"("}, "frames": 100000}]}]})");
    auto p = run({"Test Source"});
    auto shows = [&](Rgb want, int width, int height) {
        return testsupport::waitFor(
            [&] {
                Screenshot shot(x_->display());
                if (shot.width != width || shot.height != height)
                    return false;
                for (auto [x, y] : {std::pair{2, 2}, {width - 3, height - 3}, {width / 2, height / 2}}) {
                    const Rgb got = shot.at(x, y);
                    if (std::abs(got.r - want.r) > 2 || std::abs(got.g - want.g) > 2 || std::abs(got.b - want.b) > 2)
                        return false;
                }
                return true;
            },
            std::chrono::seconds(30));
    };
    // The first format: 720p at 30 frames, so the same size at rate 30.
    ASSERT_TRUE(shows(first, 1280, 720)) << p->outSoFar();
    EXPECT_EQ(serverMode(*x_), "1280x720 30");
    // The second: 1080p fills the switched screen edge to edge.
    ASSERT_TRUE(shows(second, 1920, 1080)) << p->outSoFar();
    EXPECT_EQ(serverMode(*x_), "1920x1080 30");
    p->signal(SIGTERM);
    auto result = p->wait(std::chrono::seconds(30));
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("lXrandr 1280, 720, 60\n"), std::string::npos) << result.out;
    EXPECT_EQ(serverMode(*x_), "1280x720 60");
    EXPECT_EQ(box_.calls("xrandr").back(), (Argv{"xrandr", "--output", "DUMMY0", "--mode", "1280x720", "--rate", "60"}));
}

// The appliance's set-up: etc/ belongs to root, the web interface provisions the status
// file writable for the programs' user, who runs the player.
TEST_F(DecodePlayer, UpdatesAProvisionedStatusFileAsTheProgramsUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to set up files of another user";
    startScreen(1920, 1080);
    playFile(flatFrame(1280, 720, 120, 128, 128), 1280, 720);
    const std::string top = std::filesystem::path(box_.root()).parent_path().string();
    for (const std::string& dir : {top, box_.root(), box_.path("/etc"), box_.fakeBin()})
        ASSERT_EQ(::chmod(dir.c_str(), 0755), 0) << dir;
    ASSERT_EQ(::chmod(box_.path("/tmp").c_str(), 01777), 0);
    ASSERT_EQ(::chmod((box_.fakeBin() + "/calls.log").c_str(), 0666), 0);  // the fake xrandr's record
    const std::string status = box_.path("/etc/tarnvik_avinfo.json");
    box_.writeFile("/etc/tarnvik_avinfo.json", "{}");
    ASSERT_EQ(::chmod(status.c_str(), 0666), 0);
    struct stat before {};
    ASSERT_EQ(::stat(status.c_str(), &before), 0);

    runAs_ = {"setpriv", "--reuid=1000", "--regid=1000", "--clear-groups"};
    auto p = run({"Test Source"});
    ASSERT_TRUE(testsupport::waitFor([&] { return box_.readFile("/etc/tarnvik_avinfo.json").find("720p30") != std::string::npos; },
                                     std::chrono::seconds(60)))
        << p->outSoFar() << p->errSoFar();
    p->signal(SIGTERM);
    auto result = p->wait(std::chrono::seconds(30));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(box_.readFile("/etc/tarnvik_avinfo.json"), "{\"dashboard_vid_input\":\"Decode: 720p30\"}");
    struct stat after {};
    ASSERT_EQ(::stat(status.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);  // written where it is, still root's
    EXPECT_EQ(after.st_uid, 0u);
    EXPECT_EQ(after.st_mode & 07777, 0666u);
    EXPECT_EQ(result.err.find("Cannot write"), std::string::npos) << result.err;
}

enum class Ending { sigterm, sigint, escape };

class Shutdown : public DecodePlayer, public ::testing::WithParamInterface<Ending> {};

TEST_P(Shutdown, EndsInOrderAndRestoresTheStartUpMode)
{
    startScreen(1920, 1080);
    playFile(flatFrame(1280, 720, 120, 128, 128), 1280, 720);
    auto p = run({"Test Source"});
    ASSERT_TRUE(waitForLog(*p, "Opengl render time")) << p->outSoFar();
    switch (GetParam()) {
    case Ending::sigterm:
        p->signal(SIGTERM);
        break;
    case Ending::sigint:
        p->signal(SIGINT);
        break;
    case Ending::escape:
        testsupport::runProcess({"xdotool", "key", "Escape"}, {{"DISPLAY", x_->display()}});
        break;
    }
    auto result = p->wait(std::chrono::seconds(30));
    ASSERT_FALSE(result.timedOut) << result.out;
    EXPECT_EQ(result.exitCode, 0);
    const std::string& log = result.out;
    for (const char* line : {"closing by esc...", "terminating...", "Finished watching tarnvik-source-name",
                             "closed receiver", "terminated opengl", "Deleted video frame buffers",
                             "Deleted audio frame buffers", "Quit SDL"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    // The watcher is gone before the receivers go.
    EXPECT_LT(log.find("Finished watching tarnvik-source-name"), log.find("closing receiver..."));
    auto calls = box_.calls("xrandr");
    std::vector<Argv> switches;
    for (const Argv& call : calls)
        if (call.size() > 1)
            switches.push_back(call);
    ASSERT_GE(switches.size(), 2u);
    EXPECT_EQ(switches.front()[4], "1280x720");
    EXPECT_EQ(switches.back()[4], "1920x1080");  // the start-up mode, last
}

INSTANTIATE_TEST_SUITE_P(Endings, Shutdown, ::testing::Values(Ending::sigterm, Ending::sigint, Ending::escape));

TEST_F(DecodePlayer, SigtermWhileReconnectingNeverCrashesOrHangs)
{
    startScreen(1920, 1080);
    writeScenario(R"({"sources": [{"name": "A", "segments": [{"silence_ms": 60000}]},
                                   {"name": "B", "segments": [{"silence_ms": 60000}]}]})");
    for (int round = 0; round < 2; ++round) {
        box_.writeFile("/etc/tarnvik-source-name", "A");
        auto p = run({"A"});
        ASSERT_TRUE(waitForLog(*p, "Channel 1 is connecting to A.")) << p->outSoFar();
        box_.writeFile("/etc/tarnvik-source-name", round % 2 ? "B" : "C");
        waitForLog(*p, "[Info] Start receiver delete", 10);
        for (int i = 0; i < 40 && p->running(); ++i) {
            p->signal(SIGTERM);
            std::this_thread::sleep_for(std::chrono::milliseconds(25 + 10 * round));
        }
        auto result = p->wait(std::chrono::seconds(30));
        ASSERT_FALSE(result.timedOut) << result.out;
        EXPECT_EQ(result.signal, 0) << result.out;
        EXPECT_EQ(result.exitCode, 0);
    }
}

} // namespace
