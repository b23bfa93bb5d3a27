// The receiver's per-frame work for one UYVY frame: scale and convert it into the next
// ring slot. Sources 1080p, 1080i (woven fields) and 2160p; screens 720p, 1080p, 2160p.
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#ifdef HAVE_LIBYUV
#include <libyuv/convert.h>
#include <libyuv/scale.h>
#endif

#include "player/conversion.h"
#include "player/frame_ring.h"
#include "player/player_state.h"

namespace {

std::vector<uint8_t> uyvyFrame(int width, int height)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(width) * 2 * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 2; ++x)
            bytes[static_cast<size_t>(y) * width * 2 + x] = static_cast<uint8_t>((x * 3 + y * 5) & 0xff);
    return bytes;
}

void resetRing()
{
    deleteFrameBuffers();
    freeScaler();
    cur_converter_index = 0;
    video_width = 0;
    video_height = 0;
}

// args: source width, frame height, screen width, screen height, fields (0/1)
void BM_ReceiverConversion(benchmark::State& state)
{
    const int width = static_cast<int>(state.range(0));
    const int frame_height = static_cast<int>(state.range(1));
    const bool fields = state.range(4) != 0;
    const int height = fields ? frame_height / 2 : frame_height;
    std::vector<uint8_t> data = uyvyFrame(width, height);
    UyvyPicture picture;
    picture.data = data.data();
    picture.width = width;
    picture.height = height;
    picture.line_stride = width * 2;
    picture.frame_format = fields ? kFrameField0 : kFrameProgressive;

    resetRing();
    isInitVideo = 1;
    if (!reinitOutput(picture, static_cast<int>(state.range(2)), static_cast<int>(state.range(3)), nullptr)) {
        state.SkipWithError("no output");
        return;
    }
    for (auto _ : state) {
        if (fields) {
            picture.frame_format = kFrameField0;
            convertIntoRing(picture);
            picture.frame_format = kFrameField1;
        }
        convertIntoRing(picture);
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(outvideo_width.load()) + "x" + std::to_string(outvideo_height.load()));
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    resetRing();
}

#ifdef HAVE_LIBYUV
// The peer: libyuv converts at the source size, then scales the three planes bilinearly.
void BM_LibyuvConversion(benchmark::State& state)
{
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    int out_h = 0;
    int out_w = 0;
    ResizeAndKeepAspectRatio(height, width, static_cast<int>(state.range(3)), static_cast<int>(state.range(2)), out_h,
                             out_w, 1);
    std::vector<uint8_t> data = uyvyFrame(width, height);
    const int cw = (width + 1) / 2;
    const int ch = (height + 1) / 2;
    std::vector<uint8_t> y(static_cast<size_t>(width) * height), u(static_cast<size_t>(cw) * ch), v(u.size());
    const int ocw = (out_w + 1) / 2;
    const int och = (out_h + 1) / 2;
    std::vector<uint8_t> oy(static_cast<size_t>(out_w) * out_h), ou(static_cast<size_t>(ocw) * och), ov(ou.size());
    for (auto _ : state) {
        libyuv::UYVYToI420(data.data(), width * 2, y.data(), width, u.data(), cw, v.data(), cw, width, height);
        if (out_w != width || out_h != height)
            libyuv::I420Scale(y.data(), width, u.data(), cw, v.data(), cw, width, height, oy.data(), out_w, ou.data(),
                              ocw, ov.data(), ocw, out_w, out_h, libyuv::kFilterBilinear);
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(out_w) + "x" + std::to_string(out_h));
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
#endif

void sizes(benchmark::internal::Benchmark* b, bool with_fields)
{
    b->ArgNames({"w", "h", "screen_w", "screen_h", "fields"});
    for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}})
        for (auto [sw, sh] : {std::pair{1280, 720}, std::pair{1920, 1080}, std::pair{3840, 2160}})
            b->Args({w, h, sw, sh, 0});
    if (with_fields)
        for (auto [sw, sh] : {std::pair{1280, 720}, std::pair{1920, 1080}, std::pair{3840, 2160}})
            b->Args({1920, 1080, sw, sh, 1});
    b->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_ReceiverConversion)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, true); });
#ifdef HAVE_LIBYUV
BENCHMARK(BM_LibyuvConversion)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, false); });
#endif

BENCHMARK_MAIN();
