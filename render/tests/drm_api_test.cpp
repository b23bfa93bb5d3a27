// The DRM backend through the exported C API, on the virtual KMS device: what a caller
// hands in must show on the device's planes, where the window's geometry says, and every
// frame must come back exactly once.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <shared_mutex>
#include <thread>
#include <vector>

#include <drm_fourcc.h>
#include <gtest/gtest.h>

#include "kelmf_renderer.h"
#include "klmf_ipp.h"
#include "drm_test_support.h"
#include "vkms.h"

namespace {

using drmtest::eventually;
using drmtest::Ledger;
using drmtest::onRelease;
using drmtest::Token;

// ---- Frames and their releases ----

// An NV12 picture with padded rows.
struct Picture {
    int width = 0, height = 0, stride = 0;
    std::vector<uint8_t> y, uv;

    Picture(int w, int h, int padding, unsigned seed) : width(w), height(h), stride(w + padding)
    {
        y.assign(size_t(stride) * h, 0xEE);  // padding a picture never shows
        uv.assign(size_t(stride) * (h / 2), 0x11);
        std::mt19937 rng(seed);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                y[size_t(r) * stride + c] = static_cast<uint8_t>((c * 255 / w + r * 3 + (rng() & 15)) & 0xFF);
        for (int r = 0; r < h / 2; ++r)
            for (int c = 0; c < w; ++c)
                uv[size_t(r) * stride + c] = static_cast<uint8_t>(64 + ((c & 1) ? r * 2 : c / 2) % 128);
    }
};

uint32_t submit(kelmf_renderer_handle_t* h, unsigned id, Picture& p, Ledger& ledger)
{
    void* planes[4] = {p.y.data(), p.uv.data(), nullptr, nullptr};
    int strides[4] = {p.stride, p.stride, 0, 0};
    auto* token = new Token{&ledger, ledger.handedIn.fetch_add(1)};
    return kelmf_renderer_window_set_frame(h, id, planes, strides, onRelease, token);
}

// The resize library's own output for a picture, packed (row step = width).
struct Scaled {
    int width = 0, height = 0;
    std::vector<uint8_t> y, uv;
};

Scaled reference(const Picture& p, int width, int height)
{
    Scaled out;
    out.width = width;
    out.height = height;
    out.y.assign(size_t(width) * height, 0);
    out.uv.assign(size_t(width) * (height / 2), 0);
    const ippiPlaneSize src{p.width, p.height}, dst{width, height};
    int32_t planSize = 0, initSize = 0, workSize = 0;
    EXPECT_EQ(ippiResizeYUV420GetSize(src, dst, ippiFilterLanczos, 0, &planSize, &initSize), 0);
    uint8_t* plan = ippsMalloc_8u(planSize);
    uint8_t* init = ippsMalloc_8u(std::max(initSize, 1));
    EXPECT_EQ(ippiResizeYUV420LanczosInit(src, dst, 2, reinterpret_cast<ippiLanczosPlan*>(plan), init), 0);
    EXPECT_EQ(ippiResizeYUV420GetBufferSize(reinterpret_cast<ippiLanczosPlan*>(plan), dst, &workSize), 0);
    uint8_t* work = ippsMalloc_8u(std::max(workSize, 1));
    const uint8_t border = 0;
    EXPECT_GE(ippiResizeYUV420Lanczos_8u_P2R(p.y.data(), p.stride, p.uv.data(), p.stride, out.y.data(), width,
                                             out.uv.data(), width, {0, 0}, dst, ippiEdgeReplicate, &border,
                                             reinterpret_cast<ippiLanczosPlan*>(plan), work),
              0);
    ippsFree(work);
    ippsFree(init);
    ippsFree(plan);
    return out;
}

Scaled unscaled(const Picture& p)
{
    Scaled out;
    out.width = p.width;
    out.height = p.height;
    for (int r = 0; r < p.height; ++r)
        out.y.insert(out.y.end(), p.y.begin() + size_t(r) * p.stride, p.y.begin() + size_t(r) * p.stride + p.width);
    for (int r = 0; r < p.height / 2; ++r)
        out.uv.insert(out.uv.end(), p.uv.begin() + size_t(r) * p.stride,
                      p.uv.begin() + size_t(r) * p.stride + p.width);
    return out;
}

// The w x h part at (x, y) of a picture.
Scaled part(const Scaled& whole, int x, int y, int w, int h)
{
    Scaled out;
    out.width = w;
    out.height = h;
    for (int r = 0; r < h; ++r) {
        const auto row = whole.y.begin() + size_t(y + r) * whole.width + x;
        out.y.insert(out.y.end(), row, row + w);
    }
    for (int r = 0; r < h / 2; ++r) {
        const auto row = whole.uv.begin() + size_t(y / 2 + r) * whole.width + x;
        out.uv.insert(out.uv.end(), row, row + w);
    }
    return out;
}

// Largest difference between the picture on a framebuffer (from its top-left) and the
// expected one; -1 when the framebuffer is too small.
int difference(const vkms::Framebuffer& fb, const Scaled& want)
{
    if (static_cast<int>(fb.width) < want.width || static_cast<int>(fb.height) < want.height)
        return -1;
    int worst = 0;
    for (int r = 0; r < want.height; ++r)
        for (int c = 0; c < want.width; ++c)
            worst = std::max(worst, std::abs(int(fb.bytes[fb.offsets[0] + size_t(r) * fb.pitches[0] + c]) -
                                             int(want.y[size_t(r) * want.width + c])));
    for (int r = 0; r < want.height / 2; ++r)
        for (int c = 0; c < want.width; ++c)
            worst = std::max(worst, std::abs(int(fb.bytes[fb.offsets[1] + size_t(r) * fb.pitches[1] + c]) -
                                             int(want.uv[size_t(r) * want.width + c])));
    return worst;
}

// Feeds pictures in turn from a thread of its own until stopped.
class Feeder {
public:
    Feeder(kelmf_renderer_handle_t* h, unsigned id, std::vector<Picture*> pictures, Ledger& ledger)
        : m_thread([=, this, &ledger] {
              for (size_t i = 0; !m_stop.load(); ++i) {
                  submit(h, id, *pictures[i % pictures.size()], ledger);
                  std::this_thread::sleep_for(std::chrono::microseconds(500));
              }
          })
    {
    }
    ~Feeder() { stop(); }
    void stop()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class DrmApiTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_root = drmtest::makeDeviceRoot("drm-api-test");
        ASSERT_FALSE(m_root.empty());
    }
    void TearDown() override
    {
        if (m_handle)
            kelmf_renderer_delete(m_handle);
        m_device.reset();
        drmtest::removeDeviceRoot(m_root);
    }

    // Two outputs; 1000 pixels make the kernel pitch (1024) larger than a row.
    static vkms::Spec twoOutputs()
    {
        vkms::Spec spec;
        spec.connectors = {
            {DRM_MODE_CONNECTOR_HDMIA, true, {{1000, 120, 60}, {800, 100, 60}}, 0, 0},
            {DRM_MODE_CONNECTOR_DisplayPort, true, {{640, 96, 60}}, -1, 0},
        };
        spec.vblank_interval_us = 1000;
        return spec;
    }

    void makeRenderer(vkms::Spec spec = twoOutputs())
    {
        m_device = std::make_unique<vkms::Device>(drmtest::cardPath(m_root), spec);
        ASSERT_EQ(kelmf_renderer_new2(&m_handle, KELMF_DISPLAY_DRM, KELMF_WINDOW_SYSTEM_DEFAULT), 0u);
    }

    unsigned window(kel_plane_type_e plane, unsigned long x, unsigned long y, unsigned long w, unsigned long h,
                    int videoWidth, int videoHeight)
    {
        unsigned id = 0;
        EXPECT_EQ(kelmf_renderer_create_window(m_handle, &id, plane), 0u);
        EXPECT_EQ(kelmf_renderer_window_set_video_property(m_handle, id, videoWidth, videoHeight, NV12), 0u);
        EXPECT_EQ(kelmf_renderer_window_set_geometry(m_handle, id, x, y, w, h), 0u);
        return id;
    }

    uint32_t overlayPlane(int display) const { return m_device->planeId(display * 2 + 1); }

    // One consistent look at the overlay plane of a display: the framebuffer it showed the
    // whole time its bytes were read. False when the plane moved meanwhile or is not at the
    // window's place with the window's size.
    bool look(int display, int x, int y, int width, int height, vkms::Framebuffer* out)
    {
        const vkms::PlaneState before = m_device->plane(overlayPlane(display));
        if (!before.fb_id || before.crtc_x != x || before.crtc_y != y || before.crtc_w != uint64_t(width) ||
            before.crtc_h != uint64_t(height) || before.src_x != 0 || before.src_y != 0 ||
            before.src_w != uint64_t(width) << 16 || before.src_h != uint64_t(height) << 16)
            return false;
        auto fb = m_device->framebuffer(before.fb_id);
        const vkms::PlaneState after = m_device->plane(overlayPlane(display));
        // The windows' pictures are NV12 (the modeset's own ARGB buffer can sit there too).
        if (!fb || after.updates != before.updates || fb->format != DRM_FORMAT_NV12)
            return false;
        *out = std::move(*fb);
        return true;
    }

    bool showsAt(int display, int x, int y, const Scaled& want)
    {
        vkms::Framebuffer fb;
        if (!look(display, x, y, want.width, want.height, &fb))
            return false;
        const int d = difference(fb, want);
        return d >= 0 && d <= 1;
    }

    std::string m_root;
    std::unique_ptr<vkms::Device> m_device;
    kelmf_renderer_handle_t* m_handle = nullptr;
};

TEST_F(DrmApiTest, DisplaysModesAndWindowIds)
{
    makeRenderer();
    int count = -1;
    EXPECT_EQ(kelmf_renderer_get_display_number(m_handle, &count), 0u);
    EXPECT_EQ(count, 2);
    unsigned long w = 0, h = 0;
    double rate = 0;
    EXPECT_EQ(kelmf_renderer_display_get_mode(m_handle, 0, &w, &h, &rate), 0u);
    EXPECT_EQ(w, 1000u);
    EXPECT_EQ(h, 120u);
    EXPECT_EQ(rate, 60.0);
    EXPECT_EQ(kelmf_renderer_display_get_mode(m_handle, 1, &w, &h, &rate), 0u);
    EXPECT_EQ(w, 640u);
    EXPECT_EQ(kelmf_renderer_display_get_mode(m_handle, 2, &w, &h, &rate), 5u);
    EXPECT_EQ(kelmf_renderer_display_get_mode(m_handle, 3, &w, &h, &rate), 4u);
    EXPECT_EQ(kelmf_renderer_display_set_mode(m_handle, 0, 800, 100, 60), 0u);
    EXPECT_EQ(kelmf_renderer_display_get_mode(m_handle, 0, &w, &h, &rate), 0u);
    EXPECT_EQ(w, 800u);
    EXPECT_EQ(h, 100u);
    EXPECT_EQ(kelmf_renderer_display_set_mode(m_handle, 2, 800, 100, 60), 5u);

    for (unsigned expected = 1; expected <= 127; ++expected) {
        unsigned id = 0;
        ASSERT_EQ(kelmf_renderer_create_window(m_handle, &id, KEL_PLANE_PRIMARY), 0u);
        ASSERT_EQ(id, expected);
    }
    unsigned id = 0;
    EXPECT_EQ(kelmf_renderer_create_window(m_handle, &id, KEL_PLANE_PRIMARY), 3u);
    EXPECT_EQ(kelmf_renderer_window_destroy(m_handle, 5), 0u);
    EXPECT_EQ(kelmf_renderer_create_window(m_handle, &id, KEL_PLANE_OVERLAY), 0u);
    EXPECT_EQ(id, 5u);
    EXPECT_EQ(kelmf_renderer_window_get_geometry(m_handle, 0, &w, &h, &w, &h), 5u);
    EXPECT_EQ(kelmf_renderer_window_get_geometry(m_handle, 128, &w, &h, &w, &h), 5u);
    EXPECT_EQ(kelmf_renderer_window_destroy(m_handle, 128), 5u);
    // Beyond what a signed 32-bit rectangle holds.
    EXPECT_EQ(kelmf_renderer_window_set_geometry(m_handle, 1, 0x80000000UL, 0, 10, 10), 5u);
    EXPECT_EQ(kelmf_renderer_window_set_geometry(m_handle, 1, 0, 0, 10, 0x100000000UL), 5u);
    EXPECT_EQ(kelmf_renderer_window_set_geometry(m_handle, 1, 10, 20, 30, 40), 0u);
    unsigned long x = 0, y = 0;
    EXPECT_EQ(kelmf_renderer_window_get_geometry(m_handle, 1, &x, &y, &w, &h), 0u);
    EXPECT_EQ(x, 10u);
    EXPECT_EQ(y, 20u);
    EXPECT_EQ(w, 30u);
    EXPECT_EQ(h, 40u);
}

TEST_F(DrmApiTest, WithoutADeviceDisplaysAreZeroAndGeometryFails)
{
    // No node at the device path.
    ASSERT_EQ(kelmf_renderer_new2(&m_handle, KELMF_DISPLAY_DRM, KELMF_WINDOW_SYSTEM_DEFAULT), 0u);
    int count = -1;
    EXPECT_EQ(kelmf_renderer_get_display_number(m_handle, &count), 0u);
    EXPECT_EQ(count, 0);
    unsigned id = 0;
    EXPECT_EQ(kelmf_renderer_create_window(m_handle, &id, KEL_PLANE_PRIMARY), 0u);
    EXPECT_EQ(kelmf_renderer_window_set_geometry(m_handle, id, 0, 0, 10, 10), 4u);
    unsigned long w = 0;
    EXPECT_EQ(kelmf_renderer_display_get_mode(m_handle, 0, &w, &w, nullptr), 4u);
    // The event thread runs and stops without a device.
    EXPECT_EQ(kelmf_renderer_start(m_handle), 0u);
    Ledger ledger;
    Picture p(64, 32, 0, 1);
    EXPECT_EQ(submit(m_handle, id, p, ledger), 0u);
    EXPECT_EQ(kelmf_renderer_stop(m_handle), 0u);
    EXPECT_EQ(kelmf_renderer_delete(m_handle), 0u);
    m_handle = nullptr;
    ledger.expectEachOnce();
}

// Scaling path (video larger than the window, straight into the plane buffer), fill path
// (video smaller: scaled into the window's own frame and composed), and a kept frame.
TEST_F(DrmApiTest, PicturesShowWhereTheGeometrySays)
{
    struct Case {
        const char* name;
        int videoWidth, videoHeight, padding;
        int windowX, windowY, windowWidth, windowHeight;
        int shownWidth, shownHeight;  // the picture on the plane: the top-left of the whole window's
        bool scaled;
    } cases[] = {
        {"downscale", 640, 200, 64, 100, 10, 320, 100, 320, 100, true},
        {"upscale", 160, 50, 32, 100, 10, 320, 100, 320, 100, true},
        {"kept", 320, 100, 16, 100, 10, 320, 100, 320, 100, false},
        {"odd window", 640, 200, 0, 100, 10, 321, 101, 320, 100, true},
        // The part on the display's buffer (1000 x 120), at the scale of the whole window.
        {"larger than the display", 1920, 300, 0, 0, 0, 1200, 150, 1000, 120, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeRenderer();
        Ledger ledger;
        {
            const unsigned id = window(KEL_PLANE_PRIMARY, c.windowX, c.windowY, c.windowWidth, c.windowHeight,
                                       c.videoWidth, c.videoHeight);
            ASSERT_EQ(kelmf_renderer_start(m_handle), 0u);
            Picture a(c.videoWidth, c.videoHeight, c.padding, 1), b(c.videoWidth, c.videoHeight, c.padding, 2);
            const int w = c.shownWidth, h = c.shownHeight;
            // The window as drawn is even on both axes.
            const int ww = c.windowWidth & ~1, wh = c.windowHeight & ~1;
            const Scaled wantA = c.scaled ? part(reference(a, ww, wh), 0, 0, w, h) : unscaled(a);
            const Scaled wantB = c.scaled ? part(reference(b, ww, wh), 0, 0, w, h) : unscaled(b);
            Feeder feeder(m_handle, id, {&a, &b}, ledger);
            // Both pictures come up, and whatever is on screen is always a whole one of them:
            // no worker draws into the buffer being shown.
            bool sawA = false, sawB = false;
            int samples = 0;
            ASSERT_TRUE(eventually([&] {
                vkms::Framebuffer fb;
                if (!look(0, c.windowX, c.windowY, w, h, &fb))
                    return false;
                const int dA = difference(fb, wantA), dB = difference(fb, wantB);
                const bool isA = dA >= 0 && dA <= 1, isB = dB >= 0 && dB <= 1;
                if (!isA && !isB) {
                    ADD_FAILURE() << "a torn or wrong picture on screen: " << dA << " " << dB;
                    return true;
                }
                sawA = sawA || isA;
                sawB = sawB || isB;
                ++samples;
                return sawA && sawB && samples >= 20;
            }));
            feeder.stop();
            // Before the pictures go: frames in flight still point at them.
            EXPECT_EQ(kelmf_renderer_stop(m_handle), 0u);
        }
        ledger.expectEachOnce();
        EXPECT_EQ(kelmf_renderer_delete(m_handle), 0u);
        m_handle = nullptr;
        m_device.reset();
    }
}

// A window partly past an edge of its display: the plane shows the visible part of the
// whole window's picture, at the window's scale (source and destination of equal size),
// also for a window larger than the display, whose whole picture does not fit its buffer.
TEST_F(DrmApiTest, WindowsPastAnEdgeAreCroppedAtTheirScale)
{
    struct Case {
        const char* name;
        int videoWidth, videoHeight;
        long x, y;
        int width, height;  // display 0 is 1000 x 120
    } cases[] = {
        {"right", 640, 200, 900, 10, 320, 100},
        {"bottom", 640, 200, 100, 60, 320, 100},
        {"left", 640, 200, -100, 10, 320, 100},
        {"top", 640, 200, 100, -20, 320, 100},
        {"left, picture smaller than the window", 160, 50, -60, 0, 320, 100},
        {"wider than the display, past the right", 1920, 200, 300, 10, 1200, 100},
        {"wider than the display, past the left", 1920, 200, -500, 10, 1200, 100},
        {"wider than the display, past both sides", 1920, 200, -100, 10, 1200, 100},
        {"wider than the display, an odd way past the left", 1920, 200, -301, 10, 1200, 100},
        {"taller than the display, past the bottom", 640, 300, 100, 40, 320, 150},
        {"taller than the display, past the top", 640, 300, 100, -100, 320, 150},
        {"taller than the display, past the top and the bottom", 640, 300, 100, -20, 320, 150},
        {"taller than the display, an odd way past the top", 640, 300, 100, -41, 320, 150},
        {"larger than the display, picture smaller than the window", 800, 100, -150, -16, 1200, 150},
        {"larger than the display, picture of the window's size", 1200, 150, -100, -20, 1200, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int width = c.width, height = c.height;
        makeRenderer();
        Ledger ledger;
        {
            const unsigned id = window(KEL_PLANE_PRIMARY, static_cast<unsigned long>(c.x),
                                       static_cast<unsigned long>(c.y), width, height, c.videoWidth, c.videoHeight);
            unsigned long gx = 0, gy = 0;
            EXPECT_EQ(kelmf_renderer_window_get_geometry(m_handle, id, &gx, &gy, nullptr, nullptr), 0u);
            EXPECT_EQ(static_cast<long>(gx), c.x);
            EXPECT_EQ(static_cast<long>(gy), c.y);
            ASSERT_EQ(kelmf_renderer_start(m_handle), 0u);
            Picture p(c.videoWidth, c.videoHeight, 16, 21);
            const Scaled want = reference(p, width, height);
            // Visible part on the display, and where it lies in the window.
            const long left = std::max(c.x, 0L), top = std::max(c.y, 0L);
            const long right = std::min(c.x + width, 1000L), bottom = std::min(c.y + height, 120L);
            const int sx = int(left - c.x), sy = int(top - c.y), w = int(right - left), h = int(bottom - top);
            Feeder feeder(m_handle, id, {&p}, ledger);
            int worst = -1;
            EXPECT_TRUE(eventually([&] {
                const vkms::PlaneState s = m_device->plane(overlayPlane(0));
                if (!s.fb_id || s.crtc_x != left || s.crtc_y != top || s.crtc_w != uint64_t(w) ||
                    s.crtc_h != uint64_t(h))
                    return false;
                // The scale of the whole window: one source pixel per shown pixel.
                EXPECT_EQ(s.src_w, uint64_t(w) << 16);
                EXPECT_EQ(s.src_h, uint64_t(h) << 16);
                auto fb = m_device->framebuffer(s.fb_id);
                if (!fb || m_device->plane(overlayPlane(0)).updates != s.updates || fb->format != DRM_FORMAT_NV12)
                    return false;
                const int fx = int(s.src_x >> 16), fy = int(s.src_y >> 16);
                // A window that fits its display's buffer is there whole, from the top-left.
                if (width <= 1000) {
                    EXPECT_EQ(fx, sx);
                }
                if (height <= 120) {
                    EXPECT_EQ(fy, sy);
                }
                if (fx + w > int(fb->width) || fy + h > int(fb->height)) {
                    ADD_FAILURE() << "the plane's source leaves its framebuffer";
                    return true;
                }
                // Each shown pixel against the whole window's picture at the same place.
                worst = 0;
                for (int r = 0; r < h; ++r)
                    for (int col = 0; col < w; ++col)
                        worst = std::max(worst, std::abs(int(fb->bytes[fb->offsets[0] + size_t(fy + r) * fb->pitches[0] +
                                                                         fx + col]) -
                                                         int(want.y[size_t(sy + r) * width + sx + col])));
                for (int r = 0; r < h / 2; ++r)
                    for (int col = 0; col < w; ++col)
                        worst = std::max(
                            worst, std::abs(int(fb->bytes[fb->offsets[1] + size_t(fy / 2 + r) * fb->pitches[1] + fx +
                                                          col]) -
                                            int(want.uv[size_t(sy / 2 + r) * width + sx + col])));
                return worst <= 1;
            }));
            EXPECT_LE(worst, 1);
            feeder.stop();
            EXPECT_EQ(kelmf_renderer_stop(m_handle), 0u);
        }
        ledger.expectEachOnce();
        EXPECT_EQ(kelmf_renderer_delete(m_handle), 0u);
        m_handle = nullptr;
        m_device.reset();
    }
}

TEST_F(DrmApiTest, WindowsOnTwoDisplaysOfBothPlaneKinds)
{
    makeRenderer();
    Ledger ledger;
    // The second display starts at x = 1000: this window's corner is at (80, 10) on it.
    const unsigned first = window(KEL_PLANE_PRIMARY, 20, 30, 300, 80, 600, 160);
    const unsigned second = window(KEL_PLANE_OVERLAY, 1080, 10, 200, 60, 400, 120);
    ASSERT_EQ(kelmf_renderer_start(m_handle), 0u);
    Picture p1(600, 160, 8, 3), p2(400, 120, 0, 4);
    const Scaled want1 = reference(p1, 300, 80), want2 = reference(p2, 200, 60);
    {
        Feeder f1(m_handle, first, {&p1}, ledger), f2(m_handle, second, {&p2}, ledger);
        EXPECT_TRUE(eventually([&] { return showsAt(0, 20, 30, want1) && showsAt(1, 80, 10, want2); }));
        // Moving the second window back onto the first display's right half. The windows of
        // one display share its overlay plane: with the first one quiet, the plane must
        // come to show the second where it moved.
        f1.stop();
        EXPECT_EQ(kelmf_renderer_window_set_geometry(m_handle, second, 700, 20, 200, 60), 0u);
        EXPECT_TRUE(eventually([&] { return showsAt(0, 700, 20, want2); }));
        // And the second display no longer gets its pictures.
        const uint64_t left = m_device->plane(overlayPlane(1)).updates;
        const int before = ledger.total();
        EXPECT_TRUE(eventually([&] { return ledger.total() > before + 50; }));
        EXPECT_EQ(m_device->plane(overlayPlane(1)).updates, left);
    }
    EXPECT_EQ(kelmf_renderer_stop(m_handle), 0u);
    ledger.expectEachOnce();
}

TEST_F(DrmApiTest, EveryFrameIsReleasedExactlyOnce)
{
    makeRenderer();
    Ledger ledger;
    Picture p(640, 200, 0, 5), other(64, 32, 0, 6);
    const unsigned id = window(KEL_PLANE_PRIMARY, 0, 0, 320, 100, 640, 200);
    // Stopped: released before the call returns.
    EXPECT_EQ(submit(m_handle, id, p, ledger), 0u);
    EXPECT_EQ(ledger.count(0), 1);
    // Unknown window: released, and the answer is 5.
    EXPECT_EQ(submit(m_handle, 77, p, ledger), 5u);
    EXPECT_EQ(ledger.count(1), 1);
    ASSERT_EQ(kelmf_renderer_start(m_handle), 0u);
    // A burst: older ones are dropped, the newest shown.
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(submit(m_handle, id, p, ledger), 0u);
    EXPECT_TRUE(eventually([&] { return ledger.total() >= ledger.handedIn.load() - 1; }));
    // A primary-plane window given I420: released without being drawn.
    EXPECT_EQ(kelmf_renderer_window_set_video_property(m_handle, id, 64, 32, I420), 0u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(submit(m_handle, id, other, ledger), 0u);
    EXPECT_TRUE(eventually([&] { return ledger.total() >= ledger.handedIn.load() - 1; }));
    EXPECT_EQ(kelmf_renderer_window_set_video_property(m_handle, id, 640, 200, NV12), 0u);
    // Frames in flight when the window goes, then when the renderer stops and is deleted.
    const unsigned second = window(KEL_PLANE_PRIMARY, 1100, 0, 320, 90, 640, 200);
    for (int i = 0; i < 50; ++i) {
        submit(m_handle, id, p, ledger);
        submit(m_handle, second, p, ledger);
    }
    EXPECT_EQ(kelmf_renderer_window_destroy(m_handle, second), 0u);
    for (int i = 0; i < 50; ++i)
        submit(m_handle, id, p, ledger);
    EXPECT_EQ(kelmf_renderer_stop(m_handle), 0u);
    ledger.expectEachOnce();
    ASSERT_EQ(kelmf_renderer_start(m_handle), 0u);
    for (int i = 0; i < 50; ++i)
        submit(m_handle, id, p, ledger);
    // Deleted while started: stops fully and gives every frame back.
    EXPECT_EQ(kelmf_renderer_delete(m_handle), 0u);
    m_handle = nullptr;
    ledger.expectEachOnce();
    // The device is closed: nothing of the renderer is left on it.
    EXPECT_EQ(m_device->census().dumb_buffers, 0u);
    EXPECT_EQ(m_device->census().exported_fds_open, 0u);
}

// A release callback that calls back into the renderer does not deadlock it.
TEST_F(DrmApiTest, ReleaseCallbackMayCallBackIn)
{
    makeRenderer();
    const unsigned id = window(KEL_PLANE_PRIMARY, 0, 0, 320, 100, 640, 200);
    struct Context {
        kelmf_renderer_handle_t* handle;
        unsigned id;
        std::atomic<int> calls{0};
    } context{m_handle, id};
    auto reenter = [](void**, int*, void* user) {
        auto* c = static_cast<Context*>(user);
        unsigned long x = 0;
        kelmf_renderer_window_get_geometry(c->handle, c->id, &x, &x, &x, &x);
        c->calls.fetch_add(1);
    };
    Picture p(640, 200, 0, 9);
    void* planes[4] = {p.y.data(), p.uv.data(), nullptr, nullptr};
    int strides[4] = {p.stride, p.stride, 0, 0};
    EXPECT_EQ(kelmf_renderer_window_set_frame(m_handle, id, planes, strides, reenter, &context), 0u);
    EXPECT_EQ(kelmf_renderer_window_set_frame(m_handle, 99, planes, strides, reenter, &context), 5u);
    ASSERT_EQ(kelmf_renderer_start(m_handle), 0u);
    for (int i = 0; i < 30; ++i)
        kelmf_renderer_window_set_frame(m_handle, id, planes, strides, reenter, &context);
    EXPECT_EQ(kelmf_renderer_window_destroy(m_handle, id), 0u);
    EXPECT_EQ(kelmf_renderer_stop(m_handle), 0u);
    EXPECT_EQ(context.calls.load(), 32);
}

// Beside an X server holding DRM master the device refuses plane sets: told once per
// display, not per frame, and frames keep coming back; once master is free again the
// pictures show.
enum ReentryAction { kDestroyWindow, kStop, kDelete, kStopBesideTheCaller };

struct ReentryContext {
    Ledger ledger;
    ReentryAction action = kDestroyWindow;
    unsigned id = 0;
    kelmf_renderer_handle_t* handle = nullptr;
    std::thread::id caller;
    std::shared_mutex alive;  // held shared while the test thread hands frames in
    std::atomic<bool> fired{false}, entered{false}, returned{false}, deleted{false};
    std::atomic<uint32_t> status{99};
};
std::atomic<ReentryContext*> g_reentry{nullptr};

// A release callback runs on the window's worker thread; one that tears down its own
// window, or stops or deletes the renderer from there, returns promptly, and every frame
// still comes back exactly once.
TEST_F(DrmApiTest, AReleaseCallbackMayTearDownItsOwnWindowOrRenderer)
{
    const struct Case {
        const char* name;
        ReentryAction action;
    } cases[] = {
        {"destroys its own window", kDestroyWindow},
        {"stops the renderer", kStop},
        {"deletes the renderer", kDelete},
        // The caller stops it at the same time: its stop waits for that worker, whose
        // callback waits for the caller's stop.
        {"stops the renderer while the caller stops it", kStopBesideTheCaller},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeRenderer();
        const unsigned id = window(KEL_PLANE_PRIMARY, 100, 10, 320, 100, 640, 200);
        // A second window keeps running beside it (it is stopped too when the renderer is).
        const unsigned other = window(KEL_PLANE_PRIMARY, 1100, 0, 320, 90, 640, 200);
        ASSERT_EQ(kelmf_renderer_start(m_handle), 0u);
        ReentryContext context;
        g_reentry = &context;
        context.action = c.action;
        context.id = id;
        context.handle = m_handle;
        context.caller = std::this_thread::get_id();
        auto release = [](void** planes, int* strides, void* user) {
            ReentryContext* ctx = g_reentry.load();
            // Only on a worker, and only once. The count comes last: once every frame is
            // counted the test goes on and the context goes.
            if (std::this_thread::get_id() == ctx->caller || ctx->fired.exchange(true)) {
                onRelease(planes, strides, user);
                return;
            }
            switch (ctx->action) {
            case kDestroyWindow:
                ctx->status = kelmf_renderer_window_destroy(ctx->handle, ctx->id);
                break;
            case kStop:
                ctx->status = kelmf_renderer_stop(ctx->handle);
                break;
            case kStopBesideTheCaller:
                ctx->entered = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                ctx->status = kelmf_renderer_stop(ctx->handle);
                break;
            case kDelete: {
                std::unique_lock<std::shared_mutex> lock(ctx->alive);
                ctx->status = kelmf_renderer_delete(ctx->handle);
                ctx->deleted = true;
                break;
            }
            }
            ctx->returned = true;
            onRelease(planes, strides, user);
        };
        Picture p(640, 200, 0, 31);
        void* planes[4] = {p.y.data(), p.uv.data(), nullptr, nullptr};
        int strides[4] = {p.stride, p.stride, 0, 0};
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool stoppedHere = false;
        while (!context.returned.load() && std::chrono::steady_clock::now() < until) {
            if (context.entered.load() && !stoppedHere) {
                EXPECT_EQ(kelmf_renderer_stop(m_handle), 0u);
                stoppedHere = true;
            }
            std::shared_lock<std::shared_mutex> lock(context.alive);
            if (context.deleted.load())
                break;
            for (unsigned target : {id, other}) {
                auto* token = new Token{&context.ledger, context.ledger.handedIn.fetch_add(1)};
                kelmf_renderer_window_set_frame(m_handle, target, planes, strides, release, token);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        // Promptly: no hang inside the callback.
        ASSERT_TRUE(testsupport::waitFor([&] { return context.returned.load(); }, std::chrono::seconds(10)));
        EXPECT_EQ(context.status.load(), 0u);
        if (c.action == kDelete) {
            m_handle = nullptr;
        } else {
            // The renderer still answers; the window is gone or the renderer stopped.
            unsigned long x = 0;
            EXPECT_EQ(kelmf_renderer_window_get_geometry(m_handle, id, &x, &x, &x, &x),
                      c.action == kDestroyWindow ? 5u : 0u);
            if (c.action != kDestroyWindow) {
                EXPECT_EQ(kelmf_renderer_start(m_handle), 0u);
            }
            EXPECT_EQ(kelmf_renderer_stop(m_handle), 0u);
            EXPECT_EQ(kelmf_renderer_delete(m_handle), 0u);
            m_handle = nullptr;
        }
        // The worker left behind gives back what it held once its callback has returned.
        EXPECT_TRUE(eventually([&] { return context.ledger.total() >= context.ledger.handedIn.load(); }));
        context.ledger.expectEachOnce();
        g_reentry = nullptr;
        m_device.reset();
    }
}

TEST_F(DrmApiTest, PlaneSetsRefusedForWantOfMasterAreToldOnce)
{
    vkms::Spec spec = twoOutputs();
    spec.master_rule = true;
    makeRenderer(spec);
    Ledger ledger;
    const unsigned id = window(KEL_PLANE_PRIMARY, 100, 0, 320, 100, 640, 200);
    ASSERT_EQ(kelmf_renderer_start(m_handle), 0u);
    Picture p(640, 200, 0, 13);
    const Scaled want = reference(p, 320, 100);
    m_device->seizeMaster(true);
    const uint64_t updates = m_device->plane(overlayPlane(0)).updates;
    testing::internal::CaptureStdout();
    {
        Feeder feeder(m_handle, id, {&p}, ledger);
        // Well past the settle count of the plane set: many refusals.
        EXPECT_TRUE(eventually([&] { return ledger.total() > 200; }));
        EXPECT_EQ(m_device->plane(overlayPlane(0)).updates, updates);
        m_device->seizeMaster(false);
        EXPECT_TRUE(eventually([&] { return showsAt(0, 100, 0, want); }));
        feeder.stop();
    }
    EXPECT_EQ(kelmf_renderer_stop(m_handle), 0u);
    const std::string out = testing::internal::GetCapturedStdout();
    int lines = 0;
    for (size_t at = out.find("[KMFR]E "); at != std::string::npos; at = out.find("[KMFR]E ", at + 1)) {
        const size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
        EXPECT_NE(line.find("not the device's master"), std::string::npos) << line;
        ++lines;
    }
    EXPECT_EQ(lines, 1) << out.substr(0, 2000);
    ledger.expectEachOnce();
}

TEST_F(DrmApiTest, AFailedModeChangeKeepsTheOldBuffers)
{
    makeRenderer();
    Ledger ledger;
    const unsigned id = window(KEL_PLANE_PRIMARY, 100, 0, 320, 100, 640, 200);
    ASSERT_EQ(kelmf_renderer_start(m_handle), 0u);
    Picture p(640, 200, 0, 7);
    const Scaled want = reference(p, 320, 100);
    Feeder feeder(m_handle, id, {&p}, ledger);
    ASSERT_TRUE(eventually([&] { return showsAt(0, 100, 0, want); }));
    m_device->failCreateDumb(1, ENOMEM);
    EXPECT_EQ(kelmf_renderer_display_set_mode(m_handle, 0, 800, 100, 60), 4u);
    unsigned long w = 0, h = 0;
    EXPECT_EQ(kelmf_renderer_display_get_mode(m_handle, 0, &w, &h, nullptr), 0u);
    EXPECT_EQ(w, 1000u);
    EXPECT_EQ(h, 120u);
    // Pictures keep coming on the restored buffers.
    const uint64_t updates = m_device->plane(overlayPlane(0)).updates;
    EXPECT_TRUE(eventually(
        [&] { return m_device->plane(overlayPlane(0)).updates > updates && showsAt(0, 100, 0, want); }));
    // A size no output can have is refused.
    EXPECT_EQ(kelmf_renderer_display_set_mode(m_handle, 0, 0, 100, 60), 5u);
    // A good change while frames flow.
    EXPECT_EQ(kelmf_renderer_display_set_mode(m_handle, 0, 800, 100, 60), 0u);
    EXPECT_TRUE(eventually([&] { return showsAt(0, 100, 0, want); }));
    feeder.stop();
    EXPECT_EQ(kelmf_renderer_stop(m_handle), 0u);
    ledger.expectEachOnce();
}

// Many windows, frames at a high rate, windows created, destroyed and moved while frames
// flow, start and stop in a loop.
TEST_F(DrmApiTest, Stress)
{
    makeRenderer();
    Ledger ledger;
    Picture big(640, 200, 32, 11), small(160, 48, 0, 12);
    std::atomic<bool> done{false};
    std::vector<std::thread> feeders;
    for (unsigned id = 1; id <= 6; ++id) {
        unsigned got = 0;
        ASSERT_EQ(kelmf_renderer_create_window(m_handle, &got, id % 2 ? KEL_PLANE_PRIMARY : KEL_PLANE_OVERLAY), 0u);
        kelmf_renderer_window_set_video_property(m_handle, got, id % 3 ? 640 : 160, id % 3 ? 200 : 48, NV12);
        kelmf_renderer_window_set_geometry(m_handle, got, (id * 230) % 1600, id * 5, 200 + id * 10, 60);
    }
    for (unsigned id = 1; id <= 6; ++id) {
        feeders.emplace_back([&, id] {
            Picture& p = id % 3 ? big : small;
            while (!done.load())
                submit(m_handle, id, p, ledger);
        });
    }
    std::thread churn([&] {
        for (int round = 0; !done.load(); ++round) {
            unsigned id = 0;
            if (kelmf_renderer_create_window(m_handle, &id, KEL_PLANE_PRIMARY) == 0) {
                kelmf_renderer_window_set_video_property(m_handle, id, 640, 200, NV12);
                kelmf_renderer_window_set_geometry(m_handle, id, (round * 97) % 1600, 0, 100 + round % 300, 50);
                for (int i = 0; i < 5; ++i)
                    submit(m_handle, id, big, ledger);
                kelmf_renderer_window_destroy(m_handle, id);
            }
            kelmf_renderer_window_set_geometry(m_handle, 1 + round % 6, (round * 131) % 1640, round % 40,
                                               50 + round % 500, 20 + round % 100);
        }
    });
    for (int cycle = 0; cycle < 15; ++cycle) {
        EXPECT_EQ(kelmf_renderer_start(m_handle), 0u);
        const int before = ledger.total();
        eventually([&] { return ledger.total() > before + 30; });
        EXPECT_EQ(kelmf_renderer_stop(m_handle), 0u);
    }
    done.store(true);
    churn.join();
    for (auto& t : feeders)
        t.join();
    EXPECT_EQ(kelmf_renderer_delete(m_handle), 0u);
    m_handle = nullptr;
    ledger.expectEachOnce();
}

}  // namespace
