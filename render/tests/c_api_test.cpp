// Drives the C client (an outside caller of libklmf) and checks what it reports.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/process.h"
#include "testsupport/xserver.h"

namespace {

struct ClientRun {
    std::map<std::string, unsigned> status;  // last status of each call
    std::vector<std::string> lines;
    std::string out;
};

// display: the X server of the run; by default none, so the display objects stay inert.
ClientRun runClient(const std::vector<std::string>& args, testsupport::Environment env = {},
                    const std::string& display = ":4095")
{
    std::vector<std::string> argv = {testsupport::binaryPath("render/tests/kelmf_c_api_client")};
    argv.insert(argv.end(), args.begin(), args.end());
    env.push_back({"DISPLAY", display});
    // Nor a KMS device: the DRM backends look for theirs under a root that has none.
    env.push_back({"TARNVIK_ROOT", "/tmp/kelmf-c-api-test-no-device"});
    auto result = testsupport::runProcess(argv, env);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ClientRun run;
    run.out = result.out;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);) {
        run.lines.push_back(line);
        std::istringstream words(line);
        std::string name;
        unsigned value;
        if (line.rfind("[KMFR]", 0) != 0 && (words >> name >> value))
            run.status[name] = value;
    }
    return run;
}

// Index of the first line equal to text at or after from, or -1.
int lineIndex(const ClientRun& run, const std::string& text, int from = 0)
{
    for (size_t i = static_cast<size_t>(from); i < run.lines.size(); ++i)
        if (run.lines[i] == text)
            return static_cast<int>(i);
    return -1;
}

const char* const kEveryCall[] = {
    "set_display_server", "set_display_target", "set_display_property", "set_video_property",
    "get_background_color", "set_background_color", "enable_hdr", "set_hdr_metadata", "set_gpudirect",
    "get_display_number", "display_get_mode", "display_set_mode", "create_window", "window_get_geometry",
    "window_set_geometry", "window_set_frame", "window_set_video_property", "window_destroy",
    "map_next_video_frame", "unmap_video_frame", "render_frame_from_queue", "set_video_frame", "start", "stop",
    "delete", "new2", "new",
};

TEST(RenderCApi, NullHandleGivesSixEverywhere)
{
    ClientRun run = runClient({"null"});
    EXPECT_EQ(run.status["global_init"], 0u);
    for (const char* call : kEveryCall)
        EXPECT_EQ(run.status[call], 6u) << call;
    EXPECT_EQ(run.status["set_hdr_metadata_null"], 6u);
    // A refused frame is still released, once.
    EXPECT_NE(lineIndex(run, "window_set_frame_released 1"), -1) << run.out;
    // With every mask 0 no trace line is written (the backend notice always is).
    EXPECT_EQ(run.out.find("[KMFR]A"), std::string::npos) << run.out;
    EXPECT_NE(lineIndex(run, "[KMFR]I using enhanced X11"), -1) << run.out;
}

TEST(RenderCApi, ApiLinesPrecedeTheNullCheck)
{
    ClientRun run = runClient({"null"}, {{"KELMF_DEBUG_API", "1"}});
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"[KMFR]A new()", "new2 6"},
        {"[KMFR]A delete()", "delete 6"},
        {"[KMFR]A set_display_server((nil))", "set_display_server 6"},
        {"[KMFR]A set_display_target((nil))", "set_display_target 6"},
        {"[KMFR]A set_display_property(1280x720 00000002)", "set_display_property 6"},
        {"[KMFR]A set_video_property(64x64 3231564e)", "set_video_property 6"},
        {"[KMFR]A set_background_color(80402010)", "set_background_color 6"},
        {"[KMFR]A enable_hdr(1)", "enable_hdr 6"},
        {"[KMFR]A set_hdr_metadata(r1.2 g3.4 b5.6 w7.8 l9.10.11.12)", "set_hdr_metadata 6"},
        {"[KMFR]A set_gpudirect( 0 )", "set_gpudirect 6"},
        {"[KMFR]A display_set_mode(1920x1080 60.000000)", "display_set_mode 6"},
        {"[KMFR]A window_set_video_property(1: 64x64 3231564e)", "window_set_video_property 6"},
        {"[KMFR]A window_destroy(1)", "window_destroy 6"},
        {"[KMFR]A start()", "start 6"},
        {"[KMFR]A stop()", "stop 6"},
    };
    for (const auto& [log, result] : expected) {
        int at = lineIndex(run, log);
        ASSERT_NE(at, -1) << log << "\n" << run.out;
        EXPECT_EQ(run.lines[static_cast<size_t>(at) + 1], result) << log;
    }
    EXPECT_NE(run.out.find("[KMFR]I Debug init 00000001 00000000 00000000 00000000 00000000 00000000"),
              std::string::npos);
}

TEST(RenderCApi, HexMasksAndTheDebugInitLine)
{
    struct Case {
        const char* var;
        const char* value;
        bool apiLines;
        const char* init;
    };
    const Case cases[] = {
        {"KELMF_DEBUG_API", "1", true, "[KMFR]I Debug init 00000001 00000000 00000000 00000000 00000000 00000000"},
        {"KELMF_DEBUG_API", "0x1", true, "[KMFR]I Debug init 00000001 00000000 00000000 00000000 00000000 00000000"},
        {"KELMF_DEBUG_API", "g", false, nullptr},
        {"KELMF_DEBUG_API", "2", false, "[KMFR]I Debug init 00000002 00000000 00000000 00000000 00000000 00000000"},
        {"KELMF_DEBUG_WINDOW", "ff", false, "[KMFR]I Debug init 00000000 00000000 00000000 00000000 00000000 000000ff"},
        {"KELMF_DEBUG_OGL", "10", false, "[KMFR]I Debug init 00000000 00000010 00000000 00000000 00000000 00000000"},
    };
    for (const Case& c : cases) {
        ClientRun run = runClient({"null"}, {{c.var, c.value}});
        EXPECT_EQ(lineIndex(run, "[KMFR]A new()") != -1, c.apiLines) << c.var << "=" << c.value;
        if (c.init)
            EXPECT_NE(lineIndex(run, c.init), -1) << c.var << "=" << c.value << "\n" << run.out;
        else
            EXPECT_EQ(run.out.find("Debug init"), std::string::npos) << c.var << "=" << c.value;
    }
}

TEST(RenderCApi, EnvironmentIsReadOnce)
{
    ClientRun run = runClient({"init_twice"});
    EXPECT_EQ(run.out.find("[KMFR]"), std::string::npos) << run.out;
    EXPECT_EQ(run.status["new2"], 0u);
}

TEST(RenderCApi, NullOutPointersGiveFive)
{
    for (const char* ds : {"0", "4", "5"}) {
        ClientRun run = runClient({"outptr", ds});
        EXPECT_EQ(run.status["new2"], 0u) << ds;
        EXPECT_EQ(run.status["get_background_color"], 5u) << ds;
        EXPECT_EQ(run.status["get_display_number"], 5u) << ds;
        EXPECT_EQ(run.status["create_window"], 5u) << ds;
        EXPECT_EQ(run.status["set_hdr_metadata"], 5u) << ds;
        EXPECT_EQ(run.status["map_next_video_frame"], 5u) << ds;
        EXPECT_EQ(run.status["delete"], 0u) << ds;
    }
}

// The answers each backend's slot table fixes (the compositor-forwarded slots are left out).
TEST(RenderCApi, UnimplementedSlotsAnswerAsTheTableSays)
{
    const std::map<std::string, std::map<std::string, unsigned>> expected = {
        {"0",
         {{"set_display_property", 0}, {"set_video_property", 0}, {"get_background_color", 0},
          {"set_background_color", 0}, {"enable_hdr", 8}, {"set_hdr_metadata", 8}, {"set_gpudirect", 0},
          {"get_display_number", 8}, {"display_get_mode", 8}, {"display_set_mode", 8}, {"create_window", 8},
          {"window_get_geometry", 8}, {"window_set_geometry", 8}, {"window_set_frame", 8},
          {"window_set_video_property", 8}, {"window_destroy", 8}, {"set_display_server", 0},
          {"set_display_target", 0},
          // Stopped: no texture to take, nothing queued, and no X server to start on.
          {"map_next_video_frame", 3}, {"set_video_frame", 3}, {"render_frame_from_queue", 1}, {"start", 1},
          {"stop", 0}}},
        {"4",
         {{"set_display_target", 8}, {"set_display_property", 8}, {"set_video_property", 8},
          {"get_background_color", 7}, {"set_background_color", 7}, {"set_video_frame", 8}, {"enable_hdr", 7},
          {"set_hdr_metadata", 7}, {"set_gpudirect", 7}, {"set_display_server", 8}, {"map_next_video_frame", 8},
          {"unmap_video_frame", 8}, {"render_frame_from_queue", 8}}},
        {"5",
         {{"set_display_property", 0}, {"get_background_color", 7}, {"set_background_color", 7},
          {"enable_hdr", 7}, {"set_hdr_metadata", 7}, {"set_gpudirect", 0}, {"map_next_video_frame", 8},
          {"unmap_video_frame", 8}, {"render_frame_from_queue", 8}}},
    };
    for (const auto& [ds, table] : expected) {
        ClientRun run = runClient({"slots", ds}, {{"KELMF_DEBUG_API", "1"}});
        EXPECT_EQ(run.status["new2"], 0u);
        for (const auto& [call, status] : table)
            EXPECT_EQ(run.status[call], status) << "display system " << ds << ": " << call;
        // Every frame handed in with a callback is released exactly once.
        EXPECT_NE(lineIndex(run, "window_set_frame_released 1"), -1) << ds;
        // Unimplemented slots write no lines of their own (the OpenGL HDR lines aside).
        for (const std::string& line : run.lines) {
            if (line.rfind("[KMFR]A", 0) == 0 && line.find("not yet implement") != std::string::npos) {
                EXPECT_EQ(ds, "0") << line;
            }
        }
        EXPECT_EQ(run.status["delete"], 0u);
    }
    ClientRun gl = runClient({"slots", "0"}, {{"KELMF_DEBUG_API", "1"}});
    EXPECT_NE(lineIndex(gl, "[KMFR]A enable_hdr: not yet implement"), -1);
    EXPECT_NE(lineIndex(gl, "[KMFR]A set_hdr_metadata: not yet implement"), -1);
}

TEST(RenderCApi, DisplaySystemSelectsTheBackend)
{
    // get_background_color answers 0 only on the OpenGL renderer; set_display_property tells
    // DRM (8) from DRM+X11 (0).
    const struct {
        const char* ds;
        unsigned background;
        unsigned displayProperty;
    } cases[] = {{"0", 0, 0}, {"1", 0, 0}, {"2", 0, 0}, {"3", 0, 0}, {"6", 0, 0}, {"4", 7, 8}, {"5", 7, 0}};
    for (const auto& c : cases) {
        ClientRun run = runClient({"slots", c.ds});
        EXPECT_EQ(run.status["get_background_color"], c.background) << c.ds;
        EXPECT_EQ(run.status["set_display_property"], c.displayProperty) << c.ds;
    }
}

TEST(RenderCApi, KelmfNewChoosesFromTheEnvironment)
{
    const struct {
        const char* value;  // null: unset
        bool drmX11;
    } cases[] = {{nullptr, true}, {"0", false}, {"10", true}, {"1", true}, {"2", true}, {"g", false}};
    for (const auto& c : cases) {
        testsupport::Environment env;
        if (c.value)
            env.push_back({"KELMF_USING_X11_DRM", c.value});
        ClientRun run = runClient({"new"}, env);
        EXPECT_EQ(run.status["new"], 0u);
        EXPECT_EQ(run.status["get_background_color"], c.drmX11 ? 7u : 0u) << (c.value ? c.value : "unset");
        EXPECT_EQ(lineIndex(run, "[KMFR]I using enhanced X11") != -1, c.drmX11) << (c.value ? c.value : "unset");
    }
    ClientRun version = runClient({"new"}, {{"KELMF_DEBUG_DISPLAY", "1"}, {"KELMF_USING_X11_DRM", "0"}});
    EXPECT_NE(lineIndex(version, "[KMFR]I version:1.5.14-0-g9e53462"), -1) << version.out;
}

TEST(RenderCApi, BackgroundColourRoundTrip)
{
    ClientRun run = runClient({"background"});
    EXPECT_EQ(run.status["set_background_color"], 0u);
    EXPECT_NE(lineIndex(run, "color 80402010"), -1) << run.out;
}

// ---- Against a private X server: the caller's windows cannot end the caller ----

class RenderCApiX11 : public testing::Test {
protected:
    static void SetUpTestSuite() { server_ = testsupport::XServer::startXvfb(640, 480).release(); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(server_, nullptr); }
    static testsupport::XServer* server_;
};

testsupport::XServer* RenderCApiX11::server_ = nullptr;

// A window id that names no window: start answers 5 with an error line, and the client,
// with Xlib's default handler (which would end it) or its own, goes on unharmed.
TEST_F(RenderCApiX11, BadWindowIsRefusedAndTheClientGoesOn)
{
    for (const char* connection : {"caller", "library"}) {
        for (const char* handler : {"default", "counting"}) {
            SCOPED_TRACE(std::string(connection) + " connection, " + handler + " handler");
            ClientRun run = runClient({"bad_window", connection, handler}, {{"KELMF_USING_X11_DRM", "0"}},
                                      server_->display());
            EXPECT_EQ(run.status["start"], 5u) << run.out;
            EXPECT_EQ(run.status["stop"], 0u);
            EXPECT_EQ(run.status["delete"], 0u);
            bool errorLine = false;
            for (const std::string& line : run.lines)
                errorLine = errorLine || line.rfind("[KMFR]E", 0) == 0;
            EXPECT_TRUE(errorLine) << run.out;
            EXPECT_NE(lineIndex(run, "handler kept"), -1) << run.out;
            EXPECT_NE(lineIndex(run, "x_errors 0"), -1) << run.out;
            EXPECT_NE(lineIndex(run, "alive"), -1) << run.out;
        }
    }
}

// A target that another connection destroys while frames are drawn into it, in each
// window-property mode: drawing ends as for a closed window, stop and delete succeed, and
// no X error of the library's requests reaches the client.
TEST_F(RenderCApiX11, DestroyedTargetEndsDrawingAndTheClientGoesOn)
{
    for (const char* mode : {"0", "1", "2"}) {
        for (const char* connection : {"caller", "library"}) {
            SCOPED_TRACE(std::string("mode ") + mode + ", " + connection + " connection");
            testsupport::Environment env = {{"KELMF_USING_X11_DRM", mode}, {"KELMF_DEBUG_DISPLAY", "1"}};
            // On its own connection the library terminates EGL, which unloads Mesa's driver
            // with blocks it lost while drawing to the destroyed window; a leak check cannot
            // name them any more, so it is left to the runs on the caller's connection.
            if (std::string(connection) == "library")
                env.push_back({"LSAN_OPTIONS", "detect_leaks=0"});
            ClientRun run = runClient({"destroyed_window", connection}, env, server_->display());
            EXPECT_EQ(run.status["start"], 0u) << run.out;
            if (std::string(mode) != "0") {
                EXPECT_NE(lineIndex(run, "property 1"), -1) << run.out;
            }
            EXPECT_NE(lineIndex(run, "[KMFR]I window be deleted, stop rendering"), -1) << run.out;
            EXPECT_EQ(run.status["shown"], 1u) << run.out;
            // Events are handled one between frames, so a few more frames are drawn before the
            // destruction is seen; then the six slots fill and 3 follows for good.
            EXPECT_EQ(run.status["status_after_destroy"], 3u) << run.out;
            EXPECT_GE(run.status["accepted_after_destroy"], 1u) << run.out;
            EXPECT_EQ(run.status["stop"], 0u);
            EXPECT_EQ(run.status["delete"], 0u);
            EXPECT_NE(lineIndex(run, "handler kept"), -1) << run.out;
            EXPECT_NE(lineIndex(run, "x_errors 0"), -1) << run.out;
            EXPECT_NE(lineIndex(run, "alive"), -1) << run.out;
        }
    }
}

} // namespace
