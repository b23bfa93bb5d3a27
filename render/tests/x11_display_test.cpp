// The X11 display and window classes against a private Xvfb.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "log.h"
#include "testsupport/xserver.h"
#include "x11_display.h"

namespace {

class RenderX11DisplayTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server_ = testsupport::XServer::startXvfb(800, 600).release();
        ASSERT_NE(server_, nullptr);
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(server_, nullptr);
        peer_ = XOpenDisplay(server_->display().c_str());
        ASSERT_NE(peer_, nullptr);
        saved_ = g_kelmf_using_x11_drm;
    }
    void TearDown() override
    {
        g_kelmf_using_x11_drm = saved_;
        XCloseDisplay(peer_);
    }
    Window makeWindow(Window parent, int x, int y, int w, int h)
    {
        Window win = XCreateSimpleWindow(peer_, parent, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                                         0, 0);
        XMapWindow(peer_, win);
        XSync(peer_, False);
        return win;
    }
    // The value of a CARDINAL property as the peer reads it, or -1 when it is absent.
    long property(Window win, const char* name)
    {
        Atom atom = XInternAtom(peer_, name, False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        long value = -1;
        if (XGetWindowProperty(peer_, win, atom, 0, 1, False, AnyPropertyType, &type, &format, &count, &after,
                               &data) == Success &&
            data) {
            if (type == XA_CARDINAL && format == 32 && count == 1)
                value = *reinterpret_cast<long*>(data);
            XFree(data);
        }
        return value;
    }

    static testsupport::XServer* server_;
    Display* peer_ = nullptr;
    int32_t saved_ = -1;
};

testsupport::XServer* RenderX11DisplayTest::server_ = nullptr;

TEST_F(RenderX11DisplayTest, WindowPropertyByMode)
{
    const struct {
        int32_t mode;
        bool seethrough;
        bool osd;
    } cases[] = {{1, true, false}, {2, false, true}, {0, false, false}, {-1, false, false}, {3, false, false},
                 {0x10, false, false}};
    Display* own = XOpenDisplay(server_->display().c_str());
    kelmf_x11_display_t display(own, false);
    for (const auto& c : cases) {
        g_kelmf_using_x11_drm = c.mode;
        Window win = makeWindow(DefaultRootWindow(peer_), 0, 0, 64, 64);
        kelmf_x11_window_t window(win);
        ASSERT_EQ(display.setupWindow(&window), 0);
        XSync(own, False);
        EXPECT_EQ(property(win, "_NET_KVIX_VIDEO_SEETHROUGH") != -1, c.seethrough) << c.mode;
        EXPECT_EQ(property(win, "_NET_KVIX_VIDEO_OSD") != -1, c.osd) << c.mode;
        display.unsetupWindow(&window);
        XSync(own, False);
        EXPECT_EQ(property(win, "_NET_KVIX_VIDEO_SEETHROUGH"), -1) << c.mode;
        EXPECT_EQ(property(win, "_NET_KVIX_VIDEO_OSD"), -1) << c.mode;
        XDestroyWindow(peer_, win);
    }
    display.close();
}

TEST_F(RenderX11DisplayTest, AncestorsUpToTheRootReportStructure)
{
    Display* own = XOpenDisplay(server_->display().c_str());
    kelmf_x11_display_t display(own, false);
    Window root = DefaultRootWindow(peer_);
    Window frame = makeWindow(root, 10, 10, 200, 200);
    Window video = makeWindow(frame, 5, 5, 100, 100);
    kelmf_x11_window_t window(video);
    ASSERT_EQ(display.setupWindow(&window), 0);
    XSync(own, False);
    for (Window w : {video, frame, root}) {
        XWindowAttributes attrs;
        ASSERT_TRUE(XGetWindowAttributes(own, w, &attrs));
        EXPECT_TRUE(attrs.your_event_mask & StructureNotifyMask) << w;
    }
    display.close();
}

struct Calls {
    int screen = 0, window = 0, deleted = 0;
    int x = 0, y = 0, w = 0, h = 0;
};

TEST_F(RenderX11DisplayTest, EventsReachTheirCallbacks)
{
    Display* own = XOpenDisplay(server_->display().c_str());
    kelmf_x11_display_t display(own, true);
    Calls calls;
    display.registerScreenConfigCallback([](int, int, void* u) { ++static_cast<Calls*>(u)->screen; }, &calls);
    display.registerWindowConfigCallback(
        [](int x, int y, int w, int h, void* u) {
            auto* c = static_cast<Calls*>(u);
            ++c->window;
            c->x = x;
            c->y = y;
            c->w = w;
            c->h = h;
        },
        &calls);
    display.registerWindowDeleteCallback([](void* u) { ++static_cast<Calls*>(u)->deleted; }, &calls);
    EXPECT_EQ(display.handleEvent(), 0);  // empty queue: no block

    Window root = DefaultRootWindow(peer_);
    Window frame = makeWindow(root, 0, 0, 300, 300);
    // Created on the library's connection: a client message without a mask goes to the creator.
    Window video = XCreateSimpleWindow(own, frame, 20, 30, 100, 80, 0, 0, 0);
    XMapWindow(own, video);
    kelmf_x11_window_t window(video);
    display.setupWindow(&window);
    XSync(own, False);
    auto drain = [&] {
        XSync(own, False);
        while (display.handleEvent()) {
        }
    };
    drain();
    calls = Calls{};

    // A move of the outer frame arrives as a window configuration with the video's root position.
    XMoveWindow(peer_, frame, 40, 50);
    XResizeWindow(peer_, video, 120, 90);
    XSync(peer_, False);
    drain();
    EXPECT_GE(calls.window, 1);
    EXPECT_EQ(calls.screen, 0);
    EXPECT_EQ(calls.w, 120);
    EXPECT_EQ(calls.h, 90);
    long wx = 0, wy = 0;
    unsigned long ww = 0, wh = 0;
    window.getGeometry(&wx, &wy, &ww, &wh);
    EXPECT_EQ(wx, 60);
    EXPECT_EQ(wy, 80);
    EXPECT_EQ(ww, 120u);
    EXPECT_EQ(wh, 90u);

    // A configure event on the root calls only the screen callback.
    calls = Calls{};
    XEvent ev{};
    ev.xconfigure.type = ConfigureNotify;
    ev.xconfigure.event = root;
    ev.xconfigure.window = root;
    ev.xconfigure.width = 800;
    ev.xconfigure.height = 600;
    XSendEvent(peer_, root, False, StructureNotifyMask, &ev);
    XSync(peer_, False);
    drain();
    EXPECT_EQ(calls.screen, 1);
    EXPECT_EQ(calls.window, 0);

    // WM_DELETE_WINDOW calls the delete callback; another atom calls nothing.
    calls = Calls{};
    for (const char* atom : {"WM_TAKE_FOCUS", "WM_DELETE_WINDOW"}) {
        XEvent msg{};
        msg.xclient.type = ClientMessage;
        msg.xclient.window = video;
        msg.xclient.message_type = XInternAtom(peer_, "WM_PROTOCOLS", False);
        msg.xclient.format = 32;
        msg.xclient.data.l[0] = static_cast<long>(XInternAtom(peer_, atom, False));
        XSendEvent(peer_, video, False, NoEventMask, &msg);
    }
    XSync(peer_, False);
    drain();
    EXPECT_EQ(calls.deleted, 1);
    EXPECT_EQ(calls.window + calls.screen, 0);
    display.close();
}

int g_clientErrors = 0;
int countClientError(Display*, XErrorEvent*)
{
    ++g_clientErrors;
    return 0;
}

// Windows that do not exist, or stop existing: the library's requests fail without reaching
// the process's own error handler, a missing window is refused, and the destruction of the
// video window (not of another one) calls the delete callback.
TEST_F(RenderX11DisplayTest, MissingAndDestroyedWindows)
{
    g_clientErrors = 0;
    XErrorHandler before = XSetErrorHandler(countClientError);
    Display* own = XOpenDisplay(server_->display().c_str());
    kelmf_x11_display_t display(own, false);
    int deleted = 0;
    display.registerWindowDeleteCallback([](void* u) { ++*static_cast<int*>(u); }, &deleted);
    auto drain = [&] {
        XSync(own, False);
        while (display.handleEvent()) {
        }
    };

    kelmf_x11_window_t missing(static_cast<Window>(0x3fffff0));
    testing::internal::CaptureStdout();
    EXPECT_EQ(display.setupWindow(&missing), 5);
    std::fflush(stdout);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.rfind("[KMFR]E", 0), 0u) << log;

    for (int32_t mode : {0, 1, 2}) {
        g_kelmf_using_x11_drm = mode;
        for (bool seen : {true, false}) {
            SCOPED_TRACE(std::to_string(mode) + (seen ? " after the event" : " before the event"));
            deleted = 0;
            Window frame = makeWindow(DefaultRootWindow(peer_), 0, 0, 200, 200);
            Window video = makeWindow(frame, 10, 10, 100, 100);
            Window other = makeWindow(frame, 120, 10, 50, 50);
            kelmf_x11_window_t window(video);
            ASSERT_EQ(display.setupWindow(&window), 0);
            XSelectInput(own, other, StructureNotifyMask);
            drain();
            XDestroyWindow(peer_, other);
            XSync(peer_, False);
            drain();
            EXPECT_EQ(deleted, 0);
            // Destroying the frame destroys the video window with it.
            XDestroyWindow(peer_, frame);
            XSync(peer_, False);
            if (seen) {
                drain();
                EXPECT_EQ(deleted, 1);
            }
            display.unsetupWindow(&window);
            long x = 0, y = 0;
            unsigned long w = 0, h = 0;
            window.getGeometry(&x, &y, &w, &h);
            drain();
            EXPECT_EQ(deleted, 1);
        }
    }
    display.close();
    XSync(peer_, False);
    EXPECT_EQ(g_clientErrors, 0);
    EXPECT_EQ(XSetErrorHandler(before), countClientError);
}

TEST_F(RenderX11DisplayTest, GeometryAndRate)
{
    kelmf_x11_display_t display(XOpenDisplay(server_->display().c_str()), false);
    unsigned long w = 0, h = 0;
    display.getGeometry(&w, &h);
    EXPECT_EQ(w, 800u);
    EXPECT_EQ(h, 600u);
    display.getGeometry(nullptr, nullptr);
    double rate = 0, interval = 0;
    display.getRefreshRateAndVsyncInterval(rate, interval);
    EXPECT_TRUE(std::isfinite(rate));
    EXPECT_GT(rate, 0);
    EXPECT_DOUBLE_EQ(interval, 1.0 / rate);
    int x = 0, y = 0, ow = 0, oh = 0;
    EXPECT_EQ(display.GetOutputGeometry("no-such-output", x, y, ow, oh), -1);
    display.close();
}

} // namespace
