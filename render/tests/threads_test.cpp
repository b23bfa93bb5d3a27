// A producer thread against the drawing side, for ThreadSanitizer: every frame is released
// exactly once, whatever the result, and nothing blocks.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "gl_support.h"
#include "log.h"
#include "opengl_renderer.h"
#include "testsupport/process.h"
#include "testsupport/xserver.h"

using namespace rendertest;

namespace {

class RenderThreadsTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        kelmf_renderer_global_init();
        setenv("LP_NUM_THREADS", "2", 0);
        server_ = testsupport::XServer::startXvfb(640, 480).release();
    }
    static void TearDownTestSuite()
    {
        // Closed only now: EGL state stays with each connection until the process ends.
        for (Display* d : connections_)
            XCloseDisplay(d);
        connections_.clear();
        delete server_;
        server_ = nullptr;
    }
    void runHostThreads(Display* x);
    static Display* connection()
    {
        Display* d = XOpenDisplay(server_->display().c_str());
        if (d)
            connections_.push_back(d);
        return d;
    }
    static testsupport::XServer* server_;
    static std::vector<Display*> connections_;
};

testsupport::XServer* RenderThreadsTest::server_ = nullptr;
std::vector<Display*> RenderThreadsTest::connections_;

TEST_F(RenderThreadsTest, ProducerAgainstRenderThread)
{
    ASSERT_NE(server_, nullptr);
    testsupport::ScopedDisplay use(*server_);
    Display* conn = connection();
    ASSERT_NE(conn, nullptr);
    Window win = XCreateSimpleWindow(conn, DefaultRootWindow(conn), 0, 0, 64, 48, 0, 0, 0);
    XMapWindow(conn, win);
    XSync(conn, False);

    kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT);
    renderer.set_display_server(conn);
    renderer.set_display_target(reinterpret_cast<void*>(win));
    renderer.set_video_property(64, 48, NV12);
    ASSERT_EQ(renderer.start(), 0u);

    std::vector<Frame> frames;
    for (int i = 0; i < 4; ++i)
        frames.push_back(makeFrame(NV12, 64, 48, i, 8));
    const int kFrames = 300;
    std::vector<ReleaseCounter> released(kFrames);
    std::atomic<int> accepted{0}, refused{0}, other{0};
    int badMappings = 0;          // producer only, read after the join
    std::vector<int> mappedFrames;  // frames sent through the mapped path (no callback)
    std::thread producer([&] {
        for (int i = 0; i < kFrames; ++i) {
            Frame& f = frames[static_cast<size_t>(i) % frames.size()];
            uint32_t status;
            if (i % 10 == 9) {
                // The mapped path now and then, from the same producer: NV12 maps two planes,
                // and a refused map leaves all four null.
                int sentinel = 0;
                void* planes[4] = {&sentinel, &sentinel, &sentinel, &sentinel};
                status = renderer.map_next_video_frame(planes);
                const bool mapped = status == 0;
                for (int p = 0; p < 4; ++p)
                    if ((mapped && p < 2) ? (planes[p] == nullptr || planes[p] == &sentinel) : planes[p] != nullptr)
                        ++badMappings;
                if (mapped)
                    status = renderer.unmap_video_frame();
                mappedFrames.push_back(i);
            } else {
                status = renderer.set_video_frame(f.data(), f.strideArray(), ReleaseCounter::release,
                                                  &released[static_cast<size_t>(i)]);
            }
            if (status == 0)
                ++accepted;
            else if (status == 3)
                ++refused;
            else
                ++other;
        }
    });
    producer.join();
    EXPECT_EQ(renderer.stop(), 0u);
    EXPECT_EQ(other, 0);
    EXPECT_GT(accepted, 0);
    EXPECT_EQ(badMappings, 0);
    EXPECT_EQ(mappedFrames.size(), static_cast<size_t>(kFrames / 10));
    for (int i = 0; i < kFrames; ++i) {
        const bool viaMap = std::find(mappedFrames.begin(), mappedFrames.end(), i) != mappedFrames.end();
        // Frames handed in with a callback are released once; nothing calls back for the others.
        EXPECT_EQ(released[static_cast<size_t>(i)].calls, viaMap ? 0 : 1) << i;
    }
    XDestroyWindow(conn, win);
}

TEST_F(RenderThreadsTest, ProducerAgainstHostDrawingThread)
{
    ASSERT_NE(server_, nullptr);
    Display* x = connection();
    ASSERT_NE(x, nullptr);
    runHostThreads(x);
}

void RenderThreadsTest::runHostThreads(Display* x)
{
    HostContext drawing;
    ASSERT_TRUE(drawing.create(x, 64, 48));
    HostContext::release(drawing.display());
    HostContext uploading;
    ASSERT_TRUE(uploading.create(x, 16, 16, &drawing));
    HostContext::release(uploading.display());

    auto renderer = std::make_unique<kelmf_renderer_opengl_t>(KELMF_DISPLAY_QT, KELMF_WINDOW_SYSTEM_QT);
    const int kFrames = 200;
    std::vector<ReleaseCounter> released(kFrames);
    std::atomic<bool> started{false}, done{false};
    std::atomic<int> drawn{0}, other{0};

    std::thread drawer([&] {
        drawing.makeCurrent();
        renderer->set_display_property(64, 48, ARGB32);
        renderer->set_video_property(64, 48, NV12);
        if (renderer->start() != 0) {
            ++other;
            started = true;
            return;
        }
        started = true;
        while (!done)
            if (renderer->render_frame_from_queue(false) == 0)
                ++drawn;
        while (renderer->render_frame_from_queue(false) == 0)
            ++drawn;
        renderer->stop();
        HostContext::release(drawing.display());
    });
    while (!started)
        std::this_thread::yield();
    EXPECT_EQ(other, 0);

    std::thread producer([&] {
        uploading.makeCurrent();
        Frame big = makeFrame(NV12, 64, 48, 1, 4);
        Frame small = makeFrame(I420, 32, 32, 2);
        for (int i = 0; i < kFrames; ++i) {
            // The property changes now and then while frames are in flight.
            if (i % 50 == 25)
                renderer->set_video_property(32, 32, I420);
            if (i % 50 == 0)
                renderer->set_video_property(64, 48, NV12);
            const bool isSmall = (i % 50) >= 25;
            Frame& f = isSmall ? small : big;
            uint32_t status = renderer->set_video_frame(f.data(), f.strideArray(), ReleaseCounter::release,
                                                        &released[static_cast<size_t>(i)]);
            if (status != 0 && status != 3)
                ++other;
        }
        glFinish();
        HostContext::release(uploading.display());
    });
    producer.join();
    done = true;
    drawer.join();
    EXPECT_EQ(other, 0);
    EXPECT_GT(drawn, 0);
    for (int i = 0; i < kFrames; ++i)
        EXPECT_EQ(released[static_cast<size_t>(i)].calls, 1) << i;
    renderer.reset();
}

} // namespace
