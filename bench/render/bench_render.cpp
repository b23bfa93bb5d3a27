// NV12 at 1080p and 2160p under llvmpipe:
//  - ProducerUpload: time of one accepted set_video_frame on the producer's thread while the
//    render thread draws into an X11 window (upload_ms), and the frames per second that thread
//    drew meanwhile (drawn_fps); a refused frame (no free texture) backs off 1 ms, uncounted;
//  - HostPipeline: upload, draw and glFinish in a host context, one frame per iteration
//    (items per second = frames per second drawn).
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "gl_support.h"
#include "log.h"
#include "opengl_renderer.h"
#include "testsupport/xserver.h"

using namespace rendertest;

namespace {

testsupport::XServer* server()
{
    static std::unique_ptr<testsupport::XServer> x = testsupport::XServer::startXvfb(3840, 2160);
    return x.get();
}

Display* connection()
{
    static Display* d = server() ? XOpenDisplay(server()->display().c_str()) : nullptr;
    return d;
}

// Counts the frames the render thread drew.
class CountingRenderer : public kelmf_renderer_opengl_t {
public:
    using kelmf_renderer_opengl_t::kelmf_renderer_opengl_t;
    uint32_t render_frame_from_queue(bool wait) override
    {
        uint32_t status = kelmf_renderer_opengl_t::render_frame_from_queue(wait);
        if (status == 0)
            drawn.fetch_add(1);
        return status;
    }
    std::atomic<int64_t> drawn{0};
};

void ProducerUpload(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    Display* conn = connection();
    if (!conn) {
        state.SkipWithError("no X server");
        return;
    }
    Window win = XCreateSimpleWindow(conn, DefaultRootWindow(conn), 0, 0, static_cast<unsigned>(w),
                                     static_cast<unsigned>(h), 0, 0, 0);
    XMapWindow(conn, win);
    XSync(conn, False);
    {
        CountingRenderer renderer(KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT);
        renderer.set_display_server(conn);
        renderer.set_display_target(reinterpret_cast<void*>(win));
        renderer.set_video_property(w, h, NV12);
        if (renderer.start() != 0) {
            state.SkipWithError("start failed");
            return;
        }
        Frame f = makeFrame(NV12, w, h, 1);
        // Warm up: the first draws compile the shaders.
        while (renderer.drawn < 3) {
            renderer.set_video_frame(f.data(), f.strideArray(), nullptr, nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        int64_t refused = 0, accepted = 0;
        double uploadSeconds = 0;
        const auto begin = std::chrono::steady_clock::now();
        const int64_t drawnBefore = renderer.drawn;
        for (auto _ : state) {
            const auto t0 = std::chrono::steady_clock::now();
            const uint32_t status = renderer.set_video_frame(f.data(), f.strideArray(), nullptr, nullptr);
            const auto t1 = std::chrono::steady_clock::now();
            if (status == 0) {
                ++accepted;
                uploadSeconds += std::chrono::duration<double>(t1 - t0).count();
            } else {
                ++refused;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        const int64_t drawn = renderer.drawn - drawnBefore;
        renderer.stop();
        state.counters["upload_ms"] = accepted ? uploadSeconds * 1000 / static_cast<double>(accepted) : 0;
        state.counters["drawn_fps"] = static_cast<double>(drawn) / elapsed;
        state.counters["refused"] = static_cast<double>(refused);
    }
    XDestroyWindow(conn, win);
    XSync(conn, False);
}

void HostPipeline(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    Display* conn = connection();
    if (!conn) {
        state.SkipWithError("no X server");
        return;
    }
    static HostContext host;
    static bool created = host.create(conn, 3840, 2160);
    if (!created) {
        state.SkipWithError("no host context");
        return;
    }
    host.makeCurrent();
    kelmf_renderer_opengl_t renderer(KELMF_DISPLAY_QT, KELMF_WINDOW_SYSTEM_QT);
    renderer.set_display_property(w, h, ARGB32);
    renderer.set_video_property(w, h, NV12);
    if (renderer.start() != 0) {
        state.SkipWithError("start failed");
        return;
    }
    Frame f = makeFrame(NV12, w, h, 1);
    for (auto _ : state) {
        renderer.set_video_frame(f.data(), f.strideArray(), nullptr, nullptr);
        renderer.render_frame_from_queue(false);
        glFinish();
    }
    renderer.stop();
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(ProducerUpload)->Args({1920, 1080})->Iterations(1500)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ProducerUpload)->Args({3840, 2160})->Iterations(600)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(HostPipeline)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    kelmf_renderer_global_init();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
