// Per-frame worker time on the DRM path, on the virtual KMS device: one window's worker
// handling an NV12 frame (scale, compose, overlay plane set), timed on the calling thread.
//  - Upscale: a 1920x1080 source in a 3840x2160 window on a 3840x2160 display (scaled
//    into the window's own frame, then copied into the plane buffer);
//  - Downscale: a 3840x2160 source in a 1920x1080 window (scaled straight into the plane
//    buffer).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include <drm_fourcc.h>

#include "drm_compositor.h"
#include "klmf_ipp.h"
#include "vkms.h"

namespace {

void noRelease(void**, int*, void*) {}

void workerFrame(benchmark::State& state, int srcW, int srcH, int winW, int winH)
{
    char pattern[] = "/tmp/bench-drm-XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string root = pattern;
    std::filesystem::create_directories(root + "/dev/dri");
    setenv("TARNVIK_ROOT", root.c_str(), 1);
    vkms::Spec spec;
    spec.connectors = {{DRM_MODE_CONNECTOR_HDMIA, true, {{3840, 2160, 60}}, 0, 0}};
    spec.vblank_interval_us = 1000;
    {
        vkms::Device device(root + "/dev/dri/card0", spec);
        ippInit();
        kelmo_mf_drm_modeset_t* kms = nullptr;
        modeset_display_t* display = nullptr;
        if (modeset_open(&kms, false) != 0 || modeset_get_display(kms, 0, &display) != 0) {
            state.SkipWithError("no display");
        } else {
            CompositeThread composition(false, display);
            composition.start();
            kelmf_drm_window_t window;
            ConvertThread worker(&window);
            window.worker = &worker;
            composition.addProvider(&worker);
            worker.setCompositor(&composition);
            worker.setDestination(0, 0, winW, winH);
            worker.formatChange(srcW, srcH, NV12);
            worker.start();
            std::vector<uint8_t> y(size_t(srcW) * srcH), uv(size_t(srcW) * srcH / 2);
            for (size_t i = 0; i < y.size(); ++i)
                y[i] = static_cast<uint8_t>(i * 7 + i / srcW);
            for (size_t i = 0; i < uv.size(); ++i)
                uv[i] = static_cast<uint8_t>(128 + (i % 64));
            for (auto _ : state) {
                PreviewFrame frame;
                frame.planes[0] = y.data();
                frame.planes[1] = uv.data();
                frame.strides[0] = frame.strides[1] = srcW;
                frame.release = noRelease;
                worker.handleFrame(frame);
            }
            state.SetItemsProcessed(state.iterations());
            FrameList released;
            worker.stop(released);
            composition.removeProvider(&worker);
            composition.stop();
        }
        if (kms)
            modeset_close(kms);
    }
    unsetenv("TARNVIK_ROOT");
    std::filesystem::remove_all(root);
}

void BM_WorkerUpscale1080pTo2160p(benchmark::State& state) { workerFrame(state, 1920, 1080, 3840, 2160); }
void BM_WorkerDownscale2160pTo1080p(benchmark::State& state) { workerFrame(state, 3840, 2160, 1920, 1080); }

BENCHMARK(BM_WorkerUpscale1080pTo2160p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WorkerDownscale2160pTo1080p)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
