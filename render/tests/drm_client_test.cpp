// The compositor in client mode: the X server's outputs, matched by the names of the KMS
// connectors, decide which displays compose and how large they are; a screen change
// rebuilds everything. The X side is a stand-in display object with outputs of the same
// names as the virtual device's connectors.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include <drm_fourcc.h>
#include <gtest/gtest.h>

#include "drm_compositor.h"
#include "klmf_ipp.h"
#include "drm_test_support.h"
#include "vkms.h"
#include "x11_display.h"

namespace {

using drmtest::eventually;
using drmtest::Ledger;
using drmtest::onRelease;
using drmtest::Token;

struct Rect {
    int x, y, width, height;
};

// The X server as the compositor sees it.
struct StandIn {
    std::mutex mutex;
    std::map<std::string, Rect> outputs;
    std::atomic<bool> screenChanged{false};
    kelmf_screen_config_cb callback = nullptr;
    void* user = nullptr;
    std::atomic<int> made{0};
    std::atomic<int> alive{0};
} g_x;

class StandInDisplay final : public kelmf_display_t {
public:
    void setNative(void*) override {}
    void* getNative() override { return nullptr; }
    void getGeometry(unsigned long* w, unsigned long* h) override { *w = *h = 0; }
    int GetOutputGeometry(std::string name, int& x, int& y, int& width, int& height) override
    {
        std::lock_guard<std::mutex> lock(g_x.mutex);
        auto it = g_x.outputs.find(name);
        if (it == g_x.outputs.end())
            return -1;
        x = it->second.x;
        y = it->second.y;
        width = it->second.width;
        height = it->second.height;
        return 0;
    }
    void getRefreshRateAndVsyncInterval(double& rate, double& interval) override
    {
        rate = 60;
        interval = 1.0 / 60;
    }
    void registerScreenConfigCallback(kelmf_screen_config_cb cb, void* user) override
    {
        std::lock_guard<std::mutex> lock(g_x.mutex);
        g_x.callback = cb;
        g_x.user = user;
    }
    void registerWindowConfigCallback(kelmf_window_config_cb, void*) override {}
    void registerWindowDeleteCallback(kelmf_window_delete_cb, void*) override {}
    int setupWindow(kelmf_window_t*) override { return 0; }
    int unsetupWindow(kelmf_window_t*) override { return 0; }
    int handleEvent() override
    {
        if (!g_x.screenChanged.exchange(false))
            return 0;
        kelmf_screen_config_cb cb;
        void* user;
        {
            std::lock_guard<std::mutex> lock(g_x.mutex);
            cb = g_x.callback;
            user = g_x.user;
        }
        if (cb)
            cb(1640, 120, user);
        return 1;
    }
    void close() override {}
};

const kelmf_drm_compositor_t::display_server_factory_t kStandIn{
    [] {
        g_x.made.fetch_add(1);
        g_x.alive.fetch_add(1);
        return static_cast<kelmf_display_t*>(new StandInDisplay);
    },
    [](kelmf_display_t* d) {
        g_x.alive.fetch_sub(1);
        delete static_cast<StandInDisplay*>(d);
    }};

class DrmClientTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_root = drmtest::makeDeviceRoot("drm-client-test");
        ASSERT_FALSE(m_root.empty());
        vkms::Spec spec;
        // Both outputs lit by the X server before us.
        spec.connectors = {
            {DRM_MODE_CONNECTOR_HDMIA, true, {{1000, 120, 60}}, 0, 0},
            {DRM_MODE_CONNECTOR_DisplayPort, true, {{640, 96, 60}}, 1, 0},
        };
        spec.vblank_interval_us = 1000;
        m_device = std::make_unique<vkms::Device>(drmtest::cardPath(m_root), spec);
        kelmf_drm_compositor_t::setDisplayServerFactory(&kStandIn);
        {
            std::lock_guard<std::mutex> lock(g_x.mutex);
            g_x.outputs = {{"HDMI-1", {0, 0, 1000, 120}}, {"DP-1", {1000, 0, 320, 96}}};
        }
    }
    void TearDown() override
    {
        kelmf_drm_compositor_t::setDisplayServerFactory(nullptr);
        m_device.reset();
        drmtest::removeDeviceRoot(m_root);
    }
    std::string m_root;
    std::unique_ptr<vkms::Device> m_device;
};

// The picture of a 640 x 200 source scaled to 200 x 60 by the resize library.
struct Expected {
    std::vector<uint8_t> srcY, srcUV, y, uv;
};

Expected expected()
{
    Expected e;
    e.srcY.resize(640 * 200);
    e.srcUV.resize(640 * 100);
    for (size_t i = 0; i < e.srcY.size(); ++i)
        e.srcY[i] = static_cast<uint8_t>((i % 640) / 3 + (i / 640) % 7);
    for (size_t i = 0; i < e.srcUV.size(); ++i)
        e.srcUV[i] = static_cast<uint8_t>(100 + (i % 640) % 50);
    e.y.resize(200 * 60);
    e.uv.resize(200 * 30);
    ippInit();
    int32_t planSize = 0, initSize = 0, workSize = 0;
    ippiResizeYUV420GetSize({640, 200}, {200, 60}, ippiFilterLanczos, 0, &planSize, &initSize);
    uint8_t* plan = ippsMalloc_8u(planSize);
    uint8_t* init = ippsMalloc_8u(std::max(initSize, 1));
    ippiResizeYUV420LanczosInit({640, 200}, {200, 60}, 2, reinterpret_cast<ippiLanczosPlan*>(plan), init);
    ippiResizeYUV420GetBufferSize(reinterpret_cast<ippiLanczosPlan*>(plan), {200, 60}, &workSize);
    uint8_t* work = ippsMalloc_8u(std::max(workSize, 1));
    const uint8_t border = 0;
    ippiResizeYUV420Lanczos_8u_P2R(e.srcY.data(), 640, e.srcUV.data(), 640, e.y.data(), 200, e.uv.data(), 200, {0, 0},
                                   {200, 60}, ippiEdgeReplicate, &border, reinterpret_cast<ippiLanczosPlan*>(plan),
                                   work);
    ippsFree(work);
    ippsFree(init);
    ippsFree(plan);
    return e;
}

TEST_F(DrmClientTest, XOutputsLayTheDisplaysOutAndAScreenChangeRebuilds)
{
    Ledger ledger;
    const Expected want = expected();
    {
        kelmf_drm_compositor_t compositor;
        ASSERT_EQ(compositor.init(false), 0u);
        unsigned id = 0;
        ASSERT_EQ(compositor.create_window(&id, KEL_PLANE_PRIMARY), 0u);
        ASSERT_EQ(compositor.window_set_video_property(id, 640, 200, NV12), 0u);
        // On the DisplayPort output at (100, 10), as the X server places it.
        ASSERT_EQ(compositor.window_set_geometry(id, 1100, 10, 200, 60), 0u);
        ASSERT_EQ(compositor.start(), 0u);
        EXPECT_EQ(g_x.made.load(), 1);
        // The X server's size wins over the mode.
        unsigned long w = 0, h = 0;
        EXPECT_EQ(compositor.display_get_mode(1, &w, &h, nullptr), 0u);
        EXPECT_EQ(w, 320u);
        EXPECT_EQ(h, 96u);

        std::atomic<bool> done{false};
        std::thread feeder([&] {
            void* planes[4] = {const_cast<uint8_t*>(want.srcY.data()), const_cast<uint8_t*>(want.srcUV.data()),
                               nullptr, nullptr};
            int strides[4] = {640, 640, 0, 0};
            while (!done.load()) {
                compositor.window_set_frame(id, planes, strides, onRelease,
                                            new Token{&ledger, ledger.handedIn.fetch_add(1)});
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        });
        const uint32_t overlay = m_device->planeId(3);
        auto shows = [&] {
            const vkms::PlaneState s = m_device->plane(overlay);
            if (!s.fb_id || s.crtc_x != 100 || s.crtc_y != 10 || s.crtc_w != 200 || s.crtc_h != 60)
                return false;
            auto fb = m_device->framebuffer(s.fb_id);
            if (!fb || m_device->plane(overlay).updates != s.updates)
                return false;
            for (int r = 0; r < 60; ++r)
                for (int c = 0; c < 200; ++c)
                    if (std::abs(fb->bytes[fb->offsets[0] + size_t(r) * fb->pitches[0] + c] - want.y[r * 200 + c]) > 1)
                        return false;
            for (int r = 0; r < 30; ++r)
                for (int c = 0; c < 200; ++c)
                    if (std::abs(fb->bytes[fb->offsets[1] + size_t(r) * fb->pitches[1] + c] - want.uv[r * 200 + c]) >
                        1)
                        return false;
            return true;
        };
        EXPECT_TRUE(eventually(shows));

        // The X server grows the output back to its mode size and says so.
        {
            std::lock_guard<std::mutex> lock(g_x.mutex);
            g_x.outputs["DP-1"] = {1000, 0, 640, 96};
        }
        g_x.screenChanged.store(true);
        EXPECT_TRUE(eventually([&] {
            unsigned long width = 0;
            compositor.display_get_mode(1, &width, nullptr, nullptr);
            return width == 640;
        }));
        const uint64_t updates = m_device->plane(overlay).updates;
        EXPECT_TRUE(eventually([&] { return m_device->plane(overlay).updates > updates && shows(); }));

        // A screen change while stopping does not hold the stop up.
        g_x.screenChanged.store(true);
        EXPECT_EQ(compositor.stop(), 0u);
        EXPECT_EQ(g_x.alive.load(), 0);
        done.store(true);
        feeder.join();
        // Unpaired stop: logged and clamped.
        EXPECT_EQ(compositor.stop(), 0u);
    }
    std::lock_guard<std::mutex> lock(ledger.mutex);
    EXPECT_EQ(static_cast<int>(ledger.released.size()), ledger.handedIn.load());
    for (const auto& [n, c] : ledger.released)
        EXPECT_EQ(c, 1) << n;
}

TEST_F(DrmClientTest, DestroyedWhileStartedStopsFully)
{
    g_x.made.store(0);
    std::atomic<int> released{0};
    // Outlive the compositor: frames in flight point at them.
    std::vector<uint8_t> y(64 * 32), uv(64 * 16);
    {
        kelmf_drm_compositor_t compositor;
        ASSERT_EQ(compositor.init(false), 0u);
        unsigned id = 0;
        ASSERT_EQ(compositor.create_window(&id, KEL_PLANE_PRIMARY), 0u);
        ASSERT_EQ(compositor.window_set_video_property(id, 64, 32, NV12), 0u);
        ASSERT_EQ(compositor.window_set_geometry(id, 0, 0, 32, 16), 0u);
        ASSERT_EQ(compositor.start(), 0u);
        void* planes[4] = {y.data(), uv.data(), nullptr, nullptr};
        int strides[4] = {64, 64, 0, 0};
        for (int i = 0; i < 20; ++i)
            compositor.window_set_frame(
                id, planes, strides, [](void**, int*, void* user) { static_cast<std::atomic<int>*>(user)->fetch_add(1); },
                &released);
        // A screen change on its way while the compositor goes.
        g_x.screenChanged.store(true);
    }
    EXPECT_EQ(released.load(), 20);
    EXPECT_EQ(g_x.alive.load(), 0);
    EXPECT_EQ(m_device->census().dumb_buffers, 0u);
}

// A screen change gives the windows' kept frames back on the event thread; a release
// callback there may stop the compositor (which then cannot join that very thread).
std::atomic<kelmf_drm_compositor_t*> g_stopFromRelease{nullptr};
std::atomic<bool> g_stoppedInRelease{false};

TEST_F(DrmClientTest, AReleaseOnTheEventThreadMayStopTheCompositor)
{
    Ledger ledger;
    std::vector<uint8_t> y(64 * 32, 16), uv(64 * 16, 128);
    g_x.screenChanged.store(false);  // none left over from an earlier test
    g_stoppedInRelease.store(false);
    {
        kelmf_drm_compositor_t compositor;
        ASSERT_EQ(compositor.init(false), 0u);
        unsigned id = 0;
        ASSERT_EQ(compositor.create_window(&id, KEL_PLANE_PRIMARY), 0u);
        ASSERT_EQ(compositor.window_set_video_property(id, 64, 32, NV12), 0u);
        ASSERT_EQ(compositor.window_set_geometry(id, 10, 10, 64, 32), 0u);
        ASSERT_EQ(compositor.start(), 0u);
        const std::thread::id self = std::this_thread::get_id();
        static std::thread::id s_test;
        s_test = self;
        auto release = [](void** planes, int* strides, void* user) {
            // Not on the test's thread: the frame the screen change gives back.
            if (std::this_thread::get_id() != s_test) {
                if (kelmf_drm_compositor_t* c = g_stopFromRelease.exchange(nullptr)) {
                    c->stop();
                    g_stoppedInRelease = true;
                }
            }
            onRelease(planes, strides, user);
        };
        void* planes[4] = {y.data(), uv.data(), nullptr, nullptr};
        int strides[4] = {64, 64, 0, 0};
        // One frame, kept by the window once shown.
        ASSERT_EQ(compositor.window_set_frame(id, planes, strides, release,
                                              new Token{&ledger, ledger.handedIn.fetch_add(1)}),
                  0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(ledger.total(), 0);
        g_stopFromRelease = &compositor;
        g_x.screenChanged.store(true);
        EXPECT_TRUE(eventually([] { return g_stoppedInRelease.load(); }));
        EXPECT_FALSE(compositor.isRunning());
    }
    ledger.expectEachOnce();
    EXPECT_EQ(g_x.alive.load(), 0);
}

TEST_F(DrmClientTest, MasterModeNeedsNoXServer)
{
    g_x.made.store(0);
    kelmf_drm_compositor_t compositor;
    ASSERT_EQ(compositor.init(true), 0u);
    ASSERT_EQ(compositor.start(), 0u);
    ASSERT_EQ(compositor.start(), 0u);
    EXPECT_EQ(compositor.stop(), 0u);
    EXPECT_EQ(compositor.stop(), 0u);
    EXPECT_EQ(g_x.made.load(), 0);
}

}  // namespace
