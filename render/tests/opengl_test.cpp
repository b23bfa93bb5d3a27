// The OpenGL renderer under a private Xvfb with Mesa: host-context and X11-window modes.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "gl_support.h"
#include "kelmf_renderer.h"
#include "log.h"
#include "opengl_renderer.h"
#include "testsupport/process.h"
#include "testsupport/xserver.h"

using namespace rendertest;

namespace {

const char* formatName(uint32_t f)
{
    switch (f) {
    case RGB24: return "RGB24";
    case BGR24: return "BGR24";
    case ARGB32: return "ARGB32";
    case ABGR32: return "ABGR32";
    case YV12: return "YV12";
    case I420: return "I420";
    case NV12: return "NV12";
    case P010: return "P010";
    case Y416: return "Y416";
    case UYVY: return "UYVY";
    case YUY2: return "YUY2";
    default: return "?";
    }
}

// A renderer whose upload method a test may choose (the vendor picks it otherwise).
class MethodRenderer : public kelmf_renderer_opengl_t {
public:
    using kelmf_renderer_opengl_t::kelmf_renderer_opengl_t;
    void forceMethod(int method) { m_method = method; }
    int method() const { return m_method; }
};

class RenderGlTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        kelmf_renderer_global_init();
        // Fewer llvmpipe threads: tests run side by side.
        setenv("LP_NUM_THREADS", "2", 0);
        server_ = testsupport::XServer::startXvfb(1024, 768).release();
        if (server_)
            peer_ = XOpenDisplay(server_->display().c_str());
    }
    static void TearDownTestSuite()
    {
        // Connections close only here: EGL state of a closed connection could otherwise be
        // found again by a new connection at the same address.
        for (Display* d : connections_)
            XCloseDisplay(d);
        connections_.clear();
        if (peer_)
            XCloseDisplay(peer_);
        peer_ = nullptr;
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(server_, nullptr);
        ASSERT_NE(peer_, nullptr);
        display_.reset(new testsupport::ScopedDisplay(*server_));
        saved_ = g_kelmf_debug;
    }
    void TearDown() override
    {
        g_kelmf_debug = saved_;
        display_.reset();
    }

public:
    static Display* connection()
    {
        Display* d = XOpenDisplay(server_->display().c_str());
        connections_.push_back(d);
        return d;
    }

protected:
    static testsupport::XServer* server_;
    static Display* peer_;
    static std::vector<Display*> connections_;
    std::unique_ptr<testsupport::ScopedDisplay> display_;
    kelmf_debug_masks_t saved_{};
};

testsupport::XServer* RenderGlTest::server_ = nullptr;
Display* RenderGlTest::peer_ = nullptr;
std::vector<Display*> RenderGlTest::connections_;

struct FormatCase {
    uint32_t format;
    int width, height, padding;
};

const FormatCase kFormats[] = {
    {NV12, 64, 48, 0},  {NV12, 38, 22, 13}, {I420, 64, 48, 0},  {I420, 38, 22, 7},  {YV12, 64, 48, 3},
    {P010, 64, 48, 6},  {UYVY, 64, 48, 4},  {YUY2, 38, 22, 5},  {UYVY, 38, 22, 0},  {RGB24, 38, 22, 1},
    {BGR24, 64, 48, 0}, {ARGB32, 64, 48, 4}, {ABGR32, 38, 22, 0}, {Y416, 64, 48, 0},  {Y416, 38, 22, 12},
    {Y416, 38, 22, 3},
};

// Copies a padded frame into the tightly packed buffers the renderer mapped.
void writeMapped(const Frame& f, void* (&planes)[4])
{
    const kelmf_pixel_data_t* p = findPixelData(f.format);
    for (uint32_t i = 0; i < p->planes; ++i) {
        // A Y416 pixel is four 16-bit components.
        const size_t bytes = f.format == Y416 ? 8 : p->bytesPerPixel[i];
        const size_t row = static_cast<size_t>(f.width / static_cast<int>(p->divisor[i][0])) * bytes;
        const int rows = f.height / static_cast<int>(p->divisor[i][1]);
        ASSERT_NE(planes[i], nullptr);
        for (int r = 0; r < rows; ++r)
            std::memcpy(static_cast<uint8_t*>(planes[i]) + row * static_cast<size_t>(r),
                        f.planes[i].data() + static_cast<size_t>(f.strides[i]) * static_cast<size_t>(r), row);
    }
}

// Host-context mode, each upload method, each format: the picture drawn into the test's own
// context equals the colour matrix applied to the pattern.
TEST_F(RenderGlTest, HostContextShowsEveryFormatByEveryMethod)
{
    // One context for all cases: each draws into the lower left corner of its surface.
    HostContext host;
    ASSERT_TRUE(host.create(peer_, 64, 48));
    for (int method : {0, 1, 2, 3}) {
        for (const FormatCase& c : kFormats) {
            SCOPED_TRACE(std::string(formatName(c.format)) + " " + std::to_string(c.width) + "x" +
                         std::to_string(c.height) + " pad " + std::to_string(c.padding) + " method " +
                         std::to_string(method));
            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT);
            MethodRenderer renderer(KELMF_DISPLAY_QT, KELMF_WINDOW_SYSTEM_QT);
            ASSERT_EQ(renderer.set_display_property(c.width, c.height, ARGB32), 0u);
            ASSERT_EQ(renderer.set_video_property(c.width, c.height, static_cast<kelmf_image_format_t>(c.format)),
                      0u);
            if (method == 3) {
                ASSERT_EQ(renderer.set_gpudirect(true), 0u);
            }
            ASSERT_EQ(renderer.start(), 0u);
            if (method == 2)
                renderer.forceMethod(2);
            EXPECT_EQ(renderer.method(), method == 2 ? 2 : method == 3 ? 3 : 0);
            Frame f = makeFrame(c.format, c.width, c.height, 1, c.padding);
            if (method == 1) {
                // One mapping per plane of the format, none beyond.
                int sentinel = 0;
                void* planes[4] = {&sentinel, &sentinel, &sentinel, &sentinel};
                ASSERT_EQ(renderer.map_next_video_frame(planes), 0u);
                const int nplanes = static_cast<int>(findPixelData(c.format)->planes);
                for (int i = 0; i < 4; ++i) {
                    EXPECT_TRUE(i < nplanes ? planes[i] != nullptr && planes[i] != &sentinel : planes[i] == nullptr)
                        << "plane " << i;
                }
                writeMapped(f, planes);
                ASSERT_EQ(renderer.unmap_video_frame(), 0u);
                // Nothing is mapped any more.
                EXPECT_EQ(renderer.unmap_video_frame(), 5u);
            } else {
                ReleaseCounter released;
                ASSERT_EQ(renderer.set_video_frame(f.data(), f.strideArray(), ReleaseCounter::release, &released), 0u);
                EXPECT_EQ(released.calls, 1);
            }
            // The host's context stays current through the calls.
            EXPECT_EQ(eglGetCurrentContext(), host.context());
            ASSERT_EQ(renderer.render_frame_from_queue(false), 0u);
            EXPECT_EQ(compareBlocks(f, readFramebuffer(c.width, c.height), c.width, c.height), "");
            EXPECT_EQ(renderer.stop(), 0u);
        }
    }
}

// A picture of one colour: (Y, U, V) for the YUV formats.
Frame uniformFrame(uint32_t format, int width, int height, int y, int u, int v)
{
    Frame f;
    f.format = format;
    f.width = width;
    f.height = height;
    auto plane = [&](int row, int rows, std::initializer_list<int> pattern) {
        std::vector<uint8_t> bytes(static_cast<size_t>(row) * static_cast<size_t>(rows));
        const std::vector<int> p(pattern);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(p[i % p.size()]);
        f.strides[f.planes.size()] = row;
        f.planes.push_back(std::move(bytes));
    };
    switch (format) {
    case NV12:
        plane(width, height, {y});
        plane(width, height / 2, {u, v});
        break;
    case I420:
        plane(width, height, {y});
        plane(width / 2, height / 2, {u});
        plane(width / 2, height / 2, {v});
        break;
    case UYVY: plane(width * 2, height, {u, y, v, y}); break;
    case YUY2: plane(width * 2, height, {y, u, y, v}); break;
    default: break;
    }
    for (size_t i = 0; i < f.planes.size(); ++i)
        f.pointers[i] = f.planes[i].data();
    return f;
}

// BT.709 limited range from the definition, 8-bit codes.
Rgb bt709(int y, int u, int v)
{
    const double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
    const double yl = (y - 16) / 219.0, pb = (u - 128) / 224.0, pr = (v - 128) / 224.0;
    const double r = yl + 2 * (1 - kr) * pr, b = yl + 2 * (1 - kb) * pb, g = (yl - kr * r - kb * b) / kg;
    auto byte = [](double c) { return static_cast<int>(std::lround(std::min(1.0, std::max(0.0, c)) * 255.0)); };
    return {byte(r), byte(g), byte(b)};
}

// Linear filtering at the picture's edges reads only the picture: the outermost rows and
// columns of a uniform picture look like its interior, shown 1:1 and scaled up.
TEST_F(RenderGlTest, UniformPictureEdgesMatchTheInterior)
{
    const struct {
        uint32_t format;
        int y, u, v;
    } pictures[] = {{NV12, 128, 128, 128}, {NV12, 100, 90, 170}, {I420, 128, 128, 128},
                    {I420, 180, 60, 140},  {UYVY, 128, 128, 128}, {YUY2, 70, 200, 100}};
    const int w = 40, h = 24;
    for (int scale : {1, 2}) {
        HostContext host;
        ASSERT_TRUE(host.create(peer_, w * scale, h * scale));
        for (const auto& c : pictures) {
            SCOPED_TRACE(std::string(formatName(c.format)) + " " + std::to_string(c.y) + "," + std::to_string(c.u) +
                         "," + std::to_string(c.v) + " scale " + std::to_string(scale));
            const int vw = w * scale, vh = h * scale;
            kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_QT, KELMF_WINDOW_SYSTEM_QT);
            ASSERT_EQ(renderer.set_display_property(vw, vh, ARGB32), 0u);
            ASSERT_EQ(renderer.set_video_property(w, h, static_cast<kelmf_image_format_t>(c.format)), 0u);
            ASSERT_EQ(renderer.start(), 0u);
            Frame f = uniformFrame(c.format, w, h, c.y, c.u, c.v);
            ASSERT_EQ(renderer.set_video_frame(f.data(), f.strideArray(), nullptr, nullptr), 0u);
            ASSERT_EQ(renderer.render_frame_from_queue(false), 0u);
            const std::vector<Rgb> pixels = readFramebuffer(vw, vh);
            const Rgb want = bt709(c.y, c.u, c.v);
            std::string worst;
            for (int y = 0; y < vh && worst.empty(); ++y)
                for (int x = 0; x < vw; ++x) {
                    const Rgb got = pixels[static_cast<size_t>(y) * static_cast<size_t>(vw) + static_cast<size_t>(x)];
                    if (std::abs(got.r - want.r) > 2 || std::abs(got.g - want.g) > 2 || std::abs(got.b - want.b) > 2) {
                        worst = "pixel " + std::to_string(x) + "," + std::to_string(y) + ": got " +
                                std::to_string(got.r) + " " + std::to_string(got.g) + " " + std::to_string(got.b) +
                                " want " + std::to_string(want.r) + " " + std::to_string(want.g) + " " +
                                std::to_string(want.b);
                        break;
                    }
                }
            EXPECT_EQ(worst, "");
            renderer.stop();
        }
    }
}

// A pool that cannot be built is reported where the property is set, by its status and
// lines, and a later property that fits gives a working pool again.
TEST_F(RenderGlTest, PoolCreationFailureIsReportedAtTheCall)
{
    HostContext host;
    ASSERT_TRUE(host.create(peer_, 64, 48));
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    ASSERT_GT(maxSize, 0);
    const int tooWide = maxSize + 2;
    g_kelmf_debug.display = 1;
    {
        // Before start only the values are stored; start builds the pool and fails.
        kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_QT, KELMF_WINDOW_SYSTEM_QT);
        renderer.set_display_property(64, 48, ARGB32);
        EXPECT_EQ(renderer.set_video_property(tooWide, 16, NV12), 0u);
        testing::internal::CaptureStdout();
        EXPECT_EQ(renderer.start(), 2u);
        std::fflush(stdout);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find("[KMFR]E out of memory\n"), std::string::npos) << log;
        EXPECT_NE(log.find("[KMFR]E Init opengl fail\n"), std::string::npos) << log;
        renderer.stop();
    }
    kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_QT, KELMF_WINDOW_SYSTEM_QT);
    renderer.set_display_property(64, 48, ARGB32);
    ASSERT_EQ(renderer.set_video_property(64, 48, NV12), 0u);
    ASSERT_EQ(renderer.start(), 0u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(renderer.set_video_property(tooWide, 16, NV12), 2u);
    std::fflush(stdout);
    const std::string log = testing::internal::GetCapturedStdout();
    const size_t inner = log.find("[KMFR]I video_resize_lock: fail to create texture\n");
    const size_t outer = log.find("[KMFR]I kelmf_renderer_set_video_property: fail to create texture\n");
    EXPECT_NE(inner, std::string::npos) << log;
    EXPECT_NE(outer, std::string::npos) << log;
    EXPECT_LT(inner, outer) << log;
    // Without the DISPLAY bit the status stays and the information lines go.
    g_kelmf_debug.display = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(renderer.set_video_property(tooWide, 18, NV12), 2u);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("fail to create texture"), std::string::npos);
    ASSERT_EQ(renderer.set_video_property(64, 48, I420), 0u);
    Frame f = makeFrame(I420, 64, 48, 3);
    ASSERT_EQ(renderer.set_video_frame(f.data(), f.strideArray(), nullptr, nullptr), 0u);
    ASSERT_EQ(renderer.render_frame_from_queue(false), 0u);
    EXPECT_EQ(compareBlocks(f, readFramebuffer(64, 48), 64, 48), "");
    renderer.stop();
}

TEST_F(RenderGlTest, SevenFramesWithoutDrawingDropToTheNewest)
{
    HostContext host;
    ASSERT_TRUE(host.create(peer_, 64, 48));
    kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_QT, KELMF_WINDOW_SYSTEM_QT);
    renderer.set_display_property(64, 48, ARGB32);
    renderer.set_video_property(64, 48, NV12);
    ASSERT_EQ(renderer.start(), 0u);
    g_kelmf_debug.ogl = 4;
    std::vector<Frame> frames;
    for (int i = 1; i <= 7; ++i)
        frames.push_back(makeFrame(NV12, 64, 48, i));
    ReleaseCounter released[7];
    testing::internal::CaptureStdout();
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(renderer.set_video_frame(frames[i].data(), frames[i].strideArray(), ReleaseCounter::release,
                                           &released[i]),
                  i < 6 ? 0u : 3u)
            << i;
    EXPECT_EQ(renderer.render_frame_from_queue(false), 0u);
    std::fflush(stdout);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[KMFR]I Out of texture to playback\n"), std::string::npos) << log;
    for (int i = 1; i <= 5; ++i)
        EXPECT_NE(log.find("[KMFR]I Drop " + std::to_string(i) + "\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("[KMFR]I Drop 6\n"), std::string::npos) << log;
    EXPECT_EQ(compareBlocks(frames[5], readFramebuffer(64, 48), 64, 48), "");
    for (auto& r : released)
        EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(renderer.render_frame_from_queue(false), 1u);
    // Dropped slots came back: six more frames fit.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(renderer.set_video_frame(frames[0].data(), frames[0].strideArray(), nullptr, nullptr), 0u) << i;
    EXPECT_EQ(renderer.set_video_frame(frames[0].data(), frames[0].strideArray(), nullptr, nullptr), 3u);
    renderer.stop();
}

TEST_F(RenderGlTest, WaitingDrawReturnsWhenStopped)
{
    for (int i = 0; i < 200; ++i) {
        kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_QT, KELMF_WINDOW_SYSTEM_QT);
        uint32_t result = 99;
        std::thread drawer([&] { result = renderer.render_frame_from_queue(true); });
        renderer.stop();
        drawer.join();
        EXPECT_EQ(result, 1u);
    }
}

TEST_F(RenderGlTest, PropertyChangeWhileRunningKeepsQueuedFramesIntact)
{
    HostContext host;
    ASSERT_TRUE(host.create(peer_, 64, 48));
    kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_QT, KELMF_WINDOW_SYSTEM_QT);
    renderer.set_display_property(64, 48, ARGB32);
    renderer.set_video_property(64, 48, NV12);
    ASSERT_EQ(renderer.start(), 0u);
    ReleaseCounter released;
    int handed = 0;
    auto send = [&](const Frame& f) {
        ++handed;
        Frame copy = f;
        for (size_t i = 0; i < copy.planes.size(); ++i)
            copy.pointers[i] = copy.planes[i].data();
        return renderer.set_video_frame(copy.data(), copy.strideArray(), ReleaseCounter::release, &released);
    };
    Frame a = makeFrame(NV12, 64, 48, 1);
    ASSERT_EQ(send(a), 0u);
    // A frame queued before the change is drawn with its own size and format.
    ASSERT_EQ(renderer.set_video_property(32, 32, I420), 0u);
    ASSERT_EQ(renderer.render_frame_from_queue(false), 0u);
    EXPECT_EQ(compareBlocks(a, readFramebuffer(64, 48), 64, 48), "");
    for (int round = 0; round < 8; ++round) {
        const bool small = round % 2 == 0;
        Frame f = small ? makeFrame(I420, 32, 32, round + 2) : makeFrame(NV12, 64, 48, round + 2, 3);
        ASSERT_EQ(send(f), 0u) << round;
        ASSERT_EQ(renderer.render_frame_from_queue(false), 0u) << round;
        EXPECT_EQ(compareBlocks(f, readFramebuffer(64, 48), 64, 48), "") << round;
        // Switch for the next round, with the previous frame's slot back in the pool.
        ASSERT_EQ(small ? renderer.set_video_property(64, 48, NV12) : renderer.set_video_property(32, 32, I420), 0u);
    }
    EXPECT_EQ(released.calls, handed);
    renderer.stop();
}

TEST_F(RenderGlTest, ArgumentChecks)
{
    kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_QT, KELMF_WINDOW_SYSTEM_QT);
    EXPECT_EQ(renderer.set_display_property(64, 48, NV12), 5u);
    EXPECT_EQ(renderer.set_video_property(64, 48, static_cast<kelmf_image_format_t>(0x12345678)), 5u);
    EXPECT_EQ(renderer.set_video_property(0, 0, NV12), 0u);
    EXPECT_EQ(renderer.set_video_property(1920, 1080, NV12), 0u);  // the same as 0 x 0
    EXPECT_EQ(renderer.set_video_property(64, 48, Y416), 0u);
    HostContext host;
    ASSERT_TRUE(host.create(peer_, 64, 48));
    renderer.set_display_property(64, 48, ARGB32);
    ASSERT_EQ(renderer.set_video_property(64, 48, NV12), 0u);
    ASSERT_EQ(renderer.start(), 0u);
    EXPECT_EQ(renderer.set_gpudirect(true), 1u);
    // Missing planes and short strides are refused, and the frame is still released.
    Frame f = makeFrame(NV12, 64, 48, 1);
    ReleaseCounter released;
    void* noPlanes[4] = {f.pointers[0], nullptr, nullptr, nullptr};
    EXPECT_EQ(renderer.set_video_frame(noPlanes, f.strideArray(), ReleaseCounter::release, &released), 5u);
    int shortStrides[4] = {10, 64, 0, 0};
    EXPECT_EQ(renderer.set_video_frame(f.data(), shortStrides, ReleaseCounter::release, &released), 5u);
    EXPECT_EQ(renderer.set_video_frame(nullptr, nullptr, ReleaseCounter::release, &released), 5u);
    EXPECT_EQ(released.calls, 3);
    // The refused frames gave their slots back.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(renderer.set_video_frame(f.data(), nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(renderer.unmap_video_frame(), 5u);
    renderer.stop();
}

TEST_F(RenderGlTest, SkipDrawLeavesTheBackgroundColour)
{
    HostContext host;
    ASSERT_TRUE(host.create(peer_, 64, 48));
    setenv("KELMF_SKIP_DRAW_COMMAND_FOR_TESTING", "1", 1);
    kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_QT, KELMF_WINDOW_SYSTEM_QT);
    unsetenv("KELMF_SKIP_DRAW_COMMAND_FOR_TESTING");
    renderer.set_display_property(64, 48, ARGB32);
    renderer.set_video_property(64, 48, NV12);
    renderer.set_background_color(0x80402010UL);
    unsigned long color = 0;
    renderer.get_background_color(&color);
    EXPECT_EQ(color, 0x80402010UL);
    ASSERT_EQ(renderer.start(), 0u);
    Frame f = makeFrame(NV12, 64, 48, 1);
    ASSERT_EQ(renderer.set_video_frame(f.data(), f.strideArray(), nullptr, nullptr), 0u);
    EXPECT_EQ(renderer.render_frame_from_queue(false), 0u);
    auto pixels = readFramebuffer(64, 48);
    EXPECT_EQ(pixels[100].r, 128);
    EXPECT_EQ(pixels[100].g, 64);
    EXPECT_EQ(pixels[100].b, 32);
    renderer.stop();
}

// ---- X11 window mode -------------------------------------------------------------------

// A window on a connection that the library takes over, read back through the test's own.
struct VideoWindow {
    Display* libraryConnection = nullptr;
    Window window = 0;
    VideoWindow(const std::string&, int w, int h)
    {
        libraryConnection = RenderGlTest::connection();
        window = XCreateSimpleWindow(libraryConnection, DefaultRootWindow(libraryConnection), 0, 0,
                                     static_cast<unsigned>(w), static_cast<unsigned>(h), 0, 0, 0);
        XMapWindow(libraryConnection, window);
        XSync(libraryConnection, False);
    }
};

bool waitForPicture(Display* peer, Window window, const Frame& f, int w, int h, std::string& last)
{
    return testsupport::waitFor(
        [&] {
            last = compareBlocks(f, readWindow(peer, window, w, h), w, h);
            return last.empty();
        },
        std::chrono::seconds(30));
}

// Starts the renderer on the window with f, a 64x48 NV12 picture, and waits until it shows.
void startShowing(kelmf_renderer_opengl_t& renderer, const VideoWindow& win, Frame& f, Display* peer)
{
    renderer.set_display_server(win.libraryConnection);
    renderer.set_display_target(reinterpret_cast<void*>(win.window));
    renderer.set_video_property(64, 48, NV12);
    ASSERT_EQ(renderer.start(), 0u);
    ASSERT_EQ(renderer.set_video_frame(f.data(), f.strideArray(), nullptr, nullptr), 0u);
    std::string last;
    ASSERT_TRUE(waitForPicture(peer, win.window, f, 64, 48, last)) << last;
}

TEST_F(RenderGlTest, X11WindowShowsEveryFormat)
{
    for (const FormatCase& c : kFormats) {
        SCOPED_TRACE(std::string(formatName(c.format)) + " " + std::to_string(c.width) + "x" +
                     std::to_string(c.height));
        VideoWindow win(server_->display(), c.width, c.height);
        kelmf_renderer_handle_t* h = nullptr;
        ASSERT_EQ(kelmf_renderer_new2(&h, KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT), 0u);
        ASSERT_EQ(kelmf_renderer_set_display_server(h, win.libraryConnection), 0u);
        ASSERT_EQ(kelmf_renderer_set_display_target(h, reinterpret_cast<void*>(win.window)), 0u);
        ASSERT_EQ(kelmf_renderer_set_video_property(h, c.width, c.height, static_cast<kelmf_image_format_t>(c.format)),
                  0u);
        ASSERT_EQ(kelmf_renderer_start(h), 0u);
        Frame f = makeFrame(c.format, c.width, c.height, 2, c.padding);
        ASSERT_EQ(kelmf_renderer_set_video_frame(h, f.data(), f.strideArray()), 0u);
        // The copy context is not left current on the caller's thread.
        eglBindAPI(EGL_OPENGL_API);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
        std::string last;
        EXPECT_TRUE(waitForPicture(peer_, win.window, f, c.width, c.height, last)) << last;
        EXPECT_EQ(kelmf_renderer_stop(h), 0u);
        EXPECT_EQ(kelmf_renderer_delete(h), 0u);
    }
}

TEST_F(RenderGlTest, X11WindowFollowsItsGeometry)
{
    VideoWindow win(server_->display(), 64, 48);
    kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT);
    Frame f = makeFrame(NV12, 64, 48, 3);
    ASSERT_NO_FATAL_FAILURE(startShowing(renderer, win, f, peer_));
    XResizeWindow(peer_, win.window, 128, 96);
    XSync(peer_, False);
    std::string last;
    // Events are handled between frames: keep offering frames until the picture fills the new size.
    bool followed = testsupport::waitFor(
        [&] {
            renderer.set_video_frame(f.data(), f.strideArray(), nullptr, nullptr);
            last = compareBlocks(f, readWindow(peer_, win.window, 128, 96), 128, 96);
            return last.empty();
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(followed) << last;
    renderer.stop();
}

TEST_F(RenderGlTest, ClosedWindowStopsDrawingAndFramesRunOut)
{
    VideoWindow win(server_->display(), 64, 48);
    kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT);
    renderer.set_display_server(win.libraryConnection);
    renderer.set_display_target(reinterpret_cast<void*>(win.window));
    renderer.set_video_property(64, 48, NV12);
    ASSERT_EQ(renderer.start(), 0u);
    Frame f = makeFrame(NV12, 64, 48, 4);
    ReleaseCounter released;
    int handed = 0;
    ASSERT_EQ(renderer.set_video_frame(f.data(), f.strideArray(), ReleaseCounter::release, &released), 0u);
    ++handed;
    std::string last;
    ASSERT_TRUE(waitForPicture(peer_, win.window, f, 64, 48, last)) << last;

    XEvent msg{};
    msg.xclient.type = ClientMessage;
    msg.xclient.window = win.window;
    msg.xclient.message_type = XInternAtom(peer_, "WM_PROTOCOLS", False);
    msg.xclient.format = 32;
    msg.xclient.data.l[0] = static_cast<long>(XInternAtom(peer_, "WM_DELETE_WINDOW", False));
    XSendEvent(peer_, win.window, False, NoEventMask, &msg);
    XSync(peer_, False);

    // The close is handled between frames, after however many the render thread still draws
    // on a loaded machine; from then on frames are accepted until the six slots are used,
    // then 3, and 3 from then on.
    int accepted = 0;
    bool refused = false, unexpected = false;
    const bool ended = testsupport::waitFor(
        [&] {
            ++handed;
            const uint32_t status =
                renderer.set_video_frame(f.data(), f.strideArray(), ReleaseCounter::release, &released);
            if (status == 3)
                refused = true;
            else if (status == 0)
                ++accepted;
            else
                unexpected = true;
            return refused || unexpected;
        },
        std::chrono::seconds(60));
    ASSERT_TRUE(ended) << "the render thread went on drawing after the window was closed";
    ASSERT_FALSE(unexpected);
    ASSERT_GE(accepted, 6);
    for (int i = 0; i < 3; ++i) {
        ++handed;
        EXPECT_EQ(renderer.set_video_frame(f.data(), f.strideArray(), ReleaseCounter::release, &released), 3u);
    }
    eglBindAPI(EGL_OPENGL_API);
    EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
    EXPECT_EQ(released.calls, handed);
    EXPECT_EQ(renderer.stop(), 0u);
}

// A video window that its owner destroys ends drawing as a closed one does: frames then
// fill the pool and meet 3, and the log says why.
TEST_F(RenderGlTest, DestroyedWindowStopsDrawingAndFramesRunOut)
{
    VideoWindow win(server_->display(), 64, 48);
    kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT);
    Frame f = makeFrame(NV12, 64, 48, 5);
    ASSERT_NO_FATAL_FAILURE(startShowing(renderer, win, f, peer_));

    g_kelmf_debug.display = 1;
    testing::internal::CaptureStdout();
    XDestroyWindow(peer_, win.window);
    XSync(peer_, False);
    int accepted = 0;
    bool refused = false, unexpected = false;
    const bool ended = testsupport::waitFor(
        [&] {
            const uint32_t status = renderer.set_video_frame(f.data(), f.strideArray(), nullptr, nullptr);
            if (status == 3)
                refused = true;
            else if (status == 0)
                ++accepted;
            else
                unexpected = true;
            return refused || unexpected;
        },
        std::chrono::seconds(60));
    EXPECT_EQ(renderer.stop(), 0u);
    std::fflush(stdout);
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ended) << "frames were still taken after the window was destroyed";
    EXPECT_FALSE(unexpected);
    EXPECT_GE(accepted, 6);
    EXPECT_NE(log.find("[KMFR]I window be deleted, stop rendering\n"), std::string::npos) << log;
}

// The swap's result counts: a swap that fails ends drawing with an error line, and frames
// then run out as for a closed window.
int32_t failingSwap(void*)
{
    return 1;
}

class FailingSwapRenderer : public kelmf_renderer_opengl_t {
public:
    using kelmf_renderer_opengl_t::kelmf_renderer_opengl_t;
    // Called while the render thread waits for a frame (under the ready-list mutex, which
    // that wait releases): the next frame is swapped through the failing table.
    void failSwaps()
    {
        std::lock_guard<std::mutex> lock(m_ready_mutex);
        table_ = *m_context;
        table_.swapBuffers = failingSwap;
        m_context = &table_;
    }

private:
    gl_context_implement_t table_{};
};

TEST_F(RenderGlTest, FailedSwapStopsDrawing)
{
    VideoWindow win(server_->display(), 64, 48);
    FailingSwapRenderer renderer(KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT);
    Frame f = makeFrame(NV12, 64, 48, 6);
    ASSERT_NO_FATAL_FAILURE(startShowing(renderer, win, f, peer_));
    // Drawn and swapped: the render thread goes back to waiting for the next frame.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    renderer.failSwaps();
    testing::internal::CaptureStdout();
    bool refused = false;
    const bool ended = testsupport::waitFor(
        [&] {
            refused = renderer.set_video_frame(f.data(), f.strideArray(), nullptr, nullptr) == 3;
            return refused;
        },
        std::chrono::seconds(30));
    // Refused for good: nothing is drawn and recycled any more.
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(renderer.set_video_frame(f.data(), f.strideArray(), nullptr, nullptr), 3u);
    }
    EXPECT_EQ(renderer.stop(), 0u);
    std::fflush(stdout);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ended);
    EXPECT_NE(log.find("[KMFR]E render: swap buffers failed"), std::string::npos) << log;
}

TEST_F(RenderGlTest, X11StartWithoutTargetIsRefused)
{
    kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT);
    EXPECT_EQ(renderer.start(), 5u);
    EXPECT_EQ(renderer.stop(), 0u);
}

} // namespace
