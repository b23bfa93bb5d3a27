// The DRM+X11 backend through the exported API, with a private X server and the virtual
// KMS device: its compositor window follows the X11 window, the window gets its property,
// and a screen change rebuilds the displays.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include <drm_fourcc.h>

#include "drm_test_support.h"
#include "kelmf_renderer.h"
#include "testsupport/xserver.h"
#include "vkms.h"

namespace {

using drmtest::eventually;

std::atomic<int> g_released{0};
void countRelease(void**, int*, void*) { g_released.fetch_add(1); }

class DrmX11Test : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The see-through property; read once, at the library's first use.
        setenv("KELMF_USING_X11_DRM", "1", 1);
        root_ = new std::string(drmtest::makeDeviceRoot("drm-x11-test"));
        ASSERT_FALSE(root_->empty());
        vkms::Spec spec;
        spec.connectors = {{DRM_MODE_CONNECTOR_HDMIA, true, {{800, 64, 60}}, 0, 0}};
        spec.vblank_interval_us = 1000;
        // The process-wide compositor opens the device once and keeps it: one device for
        // the whole suite.
        device_ = new vkms::Device(drmtest::cardPath(*root_), spec);
        server_ = testsupport::XServer::startXvfb(800, 600).release();
        ASSERT_NE(server_, nullptr);
        display_ = new testsupport::ScopedDisplay(*server_);
    }
    static void TearDownTestSuite()
    {
        delete display_;
        delete server_;
        // The shared compositor lives on with the process and keeps the node open.
    }
    void SetUp() override
    {
        ASSERT_NE(server_, nullptr);
        peer_ = XOpenDisplay(server_->display().c_str());
        ASSERT_NE(peer_, nullptr);
    }
    void TearDown() override { XCloseDisplay(peer_); }

    Window makeWindow(int x, int y, int w, int h)
    {
        Window win = XCreateSimpleWindow(peer_, DefaultRootWindow(peer_), x, y, static_cast<unsigned>(w),
                                         static_cast<unsigned>(h), 0, 0, 0);
        XMapWindow(peer_, win);
        XSync(peer_, False);
        return win;
    }
    long property(Window win, const char* name)
    {
        Atom atom = XInternAtom(peer_, name, False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        long value = -1;
        XSync(peer_, False);
        if (XGetWindowProperty(peer_, win, atom, 0, 1, False, AnyPropertyType, &type, &format, &count, &after,
                               &data) == Success &&
            data) {
            if (type == XA_CARDINAL && format == 32 && count == 1)
                value = *reinterpret_cast<long*>(data);
            XFree(data);
        }
        return value;
    }
    static bool geometryIs(kelmf_renderer_handle_t* h, unsigned id, unsigned long x, unsigned long y,
                           unsigned long w, unsigned long hh)
    {
        unsigned long gx = 0, gy = 0, gw = 0, gh = 0;
        return kelmf_renderer_window_get_geometry(h, id, &gx, &gy, &gw, &gh) == 0 && gx == x && gy == y &&
               gw == w && gh == hh;
    }
    // Framebuffer ids alive on the device.
    static std::set<uint32_t> framebuffers()
    {
        std::set<uint32_t> ids;
        for (uint32_t id = 1; id < 4000; ++id)
            if (device_->framebuffer(id))
                ids.insert(id);
        return ids;
    }

    static std::string* root_;
    static vkms::Device* device_;
    static testsupport::XServer* server_;
    static testsupport::ScopedDisplay* display_;
    Display* peer_ = nullptr;
};

std::string* DrmX11Test::root_ = nullptr;
vkms::Device* DrmX11Test::device_ = nullptr;
testsupport::XServer* DrmX11Test::server_ = nullptr;
testsupport::ScopedDisplay* DrmX11Test::display_ = nullptr;

TEST_F(DrmX11Test, StartWithoutAWindowIs5)
{
    kelmf_renderer_handle_t* h = nullptr;
    ASSERT_EQ(kelmf_renderer_new2(&h, KELMF_DISPLAY_DRM_X11, KELMF_WINDOW_SYSTEM_DEFAULT), 0u);
    EXPECT_EQ(kelmf_renderer_start(h), 5u);
    EXPECT_EQ(kelmf_renderer_stop(h), 0u);
    EXPECT_EQ(kelmf_renderer_delete(h), 0u);
}

TEST_F(DrmX11Test, RenderersShareTheCompositorAndGiveTheirWindowsBack)
{
    kelmf_renderer_handle_t *a = nullptr, *b = nullptr;
    ASSERT_EQ(kelmf_renderer_new2(&a, KELMF_DISPLAY_DRM_X11, KELMF_WINDOW_SYSTEM_DEFAULT), 0u);
    ASSERT_EQ(kelmf_renderer_new2(&b, KELMF_DISPLAY_DRM_X11, KELMF_WINDOW_SYSTEM_DEFAULT), 0u);
    // Two windows, 1 and 2, seen from either renderer.
    EXPECT_EQ(kelmf_renderer_window_set_geometry(a, 1, 1, 2, 3, 4), 0u);
    EXPECT_TRUE(geometryIs(b, 1, 1, 2, 3, 4));
    EXPECT_TRUE(geometryIs(a, 2, 0, 0, 0, 0));
    EXPECT_EQ(kelmf_renderer_window_get_geometry(a, 3, nullptr, nullptr, nullptr, nullptr), 5u);
    // set_video_property records NV12 whatever it is given.
    EXPECT_EQ(kelmf_renderer_set_video_property(a, 1280, 720, I420), 0u);
    // Deleted without start or stop: their windows go back.
    EXPECT_EQ(kelmf_renderer_delete(a), 0u);
    EXPECT_EQ(kelmf_renderer_delete(b), 0u);
    kelmf_renderer_handle_t* c = nullptr;
    ASSERT_EQ(kelmf_renderer_new2(&c, KELMF_DISPLAY_DRM_X11, KELMF_WINDOW_SYSTEM_DEFAULT), 0u);
    EXPECT_EQ(kelmf_renderer_window_get_geometry(c, 1, nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(kelmf_renderer_window_get_geometry(c, 2, nullptr, nullptr, nullptr, nullptr), 5u);
    EXPECT_EQ(kelmf_renderer_delete(c), 0u);
}

TEST_F(DrmX11Test, FollowsTheX11WindowAndRebuildsAfterAScreenChange)
{
    Window win = makeWindow(50, 40, 320, 100);
    Display* own = XOpenDisplay(server_->display().c_str());
    ASSERT_NE(own, nullptr);
    kelmf_renderer_handle_t* h = nullptr;
    ASSERT_EQ(kelmf_renderer_new2(&h, KELMF_DISPLAY_DRM_X11, KELMF_WINDOW_SYSTEM_DEFAULT), 0u);
    const unsigned id = 1;
    ASSERT_EQ(kelmf_renderer_set_display_server(h, own), 0u);
    ASSERT_EQ(kelmf_renderer_set_display_target(h, reinterpret_cast<void*>(win)), 0u);
    EXPECT_TRUE(geometryIs(h, id, 50, 40, 320, 100));
    ASSERT_EQ(kelmf_renderer_set_video_property(h, 640, 200, NV12), 0u);
    ASSERT_EQ(kelmf_renderer_start(h), 0u);
    EXPECT_EQ(property(win, "_NET_KVIX_VIDEO_SEETHROUGH"), 1);

    // Frames flow from another thread while the window moves and the screen changes.
    std::vector<uint8_t> y(640 * 200, 16), uv(640 * 100, 128);
    std::atomic<bool> done{false};
    std::atomic<int> handed{0};
    g_released.store(0);
    std::thread feeder([&] {
        void* planes[4] = {y.data(), uv.data(), nullptr, nullptr};
        int strides[4] = {640, 640, 0, 0};
        while (!done.load()) {
            handed.fetch_add(1);
            kelmf_renderer_window_set_frame(h, id, planes, strides, countRelease, nullptr);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });

    XMoveResizeWindow(peer_, win, 120, 70, 300, 90);
    XSync(peer_, False);
    EXPECT_TRUE(eventually([&] { return geometryIs(h, id, 120, 70, 300, 90); }));

    // A smaller screen: the shared compositor rediscovers the device, whose buffers are
    // all new afterwards.
    const std::set<uint32_t> before = framebuffers();
    ASSERT_FALSE(before.empty());
    testsupport::realXrandr(server_->display(), "--fb 640x480");
    EXPECT_TRUE(eventually([&] {
        const std::set<uint32_t> now = framebuffers();
        for (uint32_t fb : now)
            if (before.count(fb))
                return false;
        return !now.empty();
    }));
    // The window is still followed after the rebuild.
    XMoveResizeWindow(peer_, win, 10, 20, 200, 60);
    XSync(peer_, False);
    EXPECT_TRUE(eventually([&] { return geometryIs(h, id, 10, 20, 200, 60); }));

    done.store(true);
    feeder.join();
    EXPECT_EQ(kelmf_renderer_stop(h), 0u);
    EXPECT_EQ(g_released.load(), handed.load());
    EXPECT_EQ(property(win, "_NET_KVIX_VIDEO_SEETHROUGH"), -1);
    EXPECT_EQ(kelmf_renderer_delete(h), 0u);
    testsupport::realXrandr(server_->display(), "--fb 800x600");
    XDestroyWindow(peer_, win);
    XSync(peer_, False);
    XCloseDisplay(own);
}

// A window partly off the left or top edge keeps its place as X11 reports it (the KMS layer
// crops it there), and follows a move back on screen.
TEST_F(DrmX11Test, AWindowOffTheLeftAndTopEdgesKeepsItsPlace)
{
    Window win = makeWindow(-40, -30, 200, 80);
    kelmf_renderer_handle_t* h = nullptr;
    ASSERT_EQ(kelmf_renderer_new2(&h, KELMF_DISPLAY_DRM_X11, KELMF_WINDOW_SYSTEM_DEFAULT), 0u);
    const unsigned id = 1;
    ASSERT_EQ(kelmf_renderer_set_display_target(h, reinterpret_cast<void*>(win)), 0u);
    ASSERT_EQ(kelmf_renderer_start(h), 0u);
    EXPECT_TRUE(eventually([&] { return geometryIs(h, id, static_cast<unsigned long>(-40L),
                                                    static_cast<unsigned long>(-30L), 200, 80); }));
    XMoveWindow(peer_, win, 25, -10);
    XSync(peer_, False);
    EXPECT_TRUE(eventually([&] { return geometryIs(h, id, 25, static_cast<unsigned long>(-10L), 200, 80); }));
    EXPECT_EQ(kelmf_renderer_stop(h), 0u);
    EXPECT_EQ(kelmf_renderer_delete(h), 0u);
    XDestroyWindow(peer_, win);
    XSync(peer_, False);
}

TEST_F(DrmX11Test, ACallersConnectionOutlivesStopAndDelete)
{
    Window win = makeWindow(30, 20, 160, 80);
    Display* own = XOpenDisplay(server_->display().c_str());
    ASSERT_NE(own, nullptr);
    const int fd = ConnectionNumber(own);
    kelmf_renderer_handle_t* h = nullptr;
    ASSERT_EQ(kelmf_renderer_new2(&h, KELMF_DISPLAY_DRM_X11, KELMF_WINDOW_SYSTEM_DEFAULT), 0u);
    ASSERT_EQ(kelmf_renderer_set_display_server(h, own), 0u);
    ASSERT_EQ(kelmf_renderer_set_display_target(h, reinterpret_cast<void*>(win)), 0u);
    ASSERT_EQ(kelmf_renderer_start(h), 0u);
    EXPECT_EQ(kelmf_renderer_stop(h), 0u);
    // The socket is still open (looked at before the connection is touched again).
    EXPECT_NE(fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(kelmf_renderer_delete(h), 0u);
    EXPECT_NE(fcntl(fd, F_GETFD), -1);
    // And it still talks to the server: the window's size comes back from it.
    Window rootWin = 0;
    int x = 0, y = 0;
    unsigned w = 0, hh = 0, border = 0, depth = 0;
    ASSERT_NE(XGetGeometry(own, win, &rootWin, &x, &y, &w, &hh, &border, &depth), 0);
    EXPECT_EQ(w, 160u);
    EXPECT_EQ(hh, 80u);
    XCloseDisplay(own);
    XDestroyWindow(peer_, win);
    XSync(peer_, False);
}

}  // namespace
