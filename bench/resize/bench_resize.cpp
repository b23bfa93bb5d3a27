// One frame of 1920x1080 <-> 3840x2160 4:2:0, two lobes, one core: the resize
// library's variants beside libswscale's SWS_LANCZOS (NV12 to NV12) and zimg's
// Lanczos (planar, since zimg takes no interleaved chroma).
#include <benchmark/benchmark.h>
#include <zimg.h>

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <random>
#include <vector>

#include "klmf_ipp.h"

namespace {

struct Size {
    int w, h;
};
constexpr Size kHd{1920, 1080}, kUhd{3840, 2160};

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    std::mt19937 rng(seed);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

bool processorHas(int variant) {
    __builtin_cpu_init();
    if (variant == 6) return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (variant == 4) return __builtin_cpu_supports("sse4.1");
    return true;
}

void klmf(benchmark::State& state, int variant, Size src, Size dst) {
    if (!processorHas(variant)) {
        state.SkipWithError("processor lacks this variant");
        return;
    }
    const auto sy = noise(static_cast<size_t>(src.w) * src.h, 1),
               suv = noise(static_cast<size_t>(src.w) * src.h / 2, 2);
    std::vector<uint8_t> dy(static_cast<size_t>(dst.w) * dst.h), duv(static_cast<size_t>(dst.w) * dst.h / 2);
    int32_t planSize = 0, initSize = 0, bufSize = 0;
    ippiResizeYUV420GetSize({src.w, src.h}, {dst.w, dst.h}, ippiFilterLanczos, 0, &planSize, &initSize);
    uint8_t* plan = ippsMalloc_8u(planSize);
    uint8_t* init = ippsMalloc_8u(initSize);
    auto* p = reinterpret_cast<ippiLanczosPlan*>(plan);
    ippiResizeYUV420LanczosInit({src.w, src.h}, {dst.w, dst.h}, 2, p, init);
    ippsFree(init);
    ippiResizeYUV420GetBufferSize(p, {dst.w, dst.h}, &bufSize);
    uint8_t* work = ippsMalloc_8u(bufSize);
    const auto fn = ippiResizeYUV420Lanczos_8u_P2R_arraddr[variant];
    for (auto _ : state) {
        fn(sy.data(), src.w, suv.data(), src.w, dy.data(), dst.w, duv.data(), dst.w, {0, 0}, {dst.w, dst.h},
           ippiEdgeReplicate, nullptr, p, work);
        benchmark::DoNotOptimize(dy.data());
    }
    ippsFree(work);
    ippsFree(plan);
}

void swscale(benchmark::State& state, Size src, Size dst) {
    SwsContext* ctx = sws_alloc_context();
    av_opt_set_int(ctx, "srcw", src.w, 0);
    av_opt_set_int(ctx, "srch", src.h, 0);
    av_opt_set_int(ctx, "src_format", AV_PIX_FMT_NV12, 0);
    av_opt_set_int(ctx, "dstw", dst.w, 0);
    av_opt_set_int(ctx, "dsth", dst.h, 0);
    av_opt_set_int(ctx, "dst_format", AV_PIX_FMT_NV12, 0);
    av_opt_set_int(ctx, "sws_flags", SWS_LANCZOS, 0);
    av_opt_set_double(ctx, "param0", 2.0, 0);  // lobes
    av_opt_set_int(ctx, "threads", 1, 0);
    if (sws_init_context(ctx, nullptr, nullptr) < 0) {
        state.SkipWithError("sws_init_context failed");
        sws_freeContext(ctx);
        return;
    }
    const auto sy = noise(static_cast<size_t>(src.w) * src.h, 1),
               suv = noise(static_cast<size_t>(src.w) * src.h / 2, 2);
    std::vector<uint8_t> dy(static_cast<size_t>(dst.w) * dst.h), duv(static_cast<size_t>(dst.w) * dst.h / 2);
    const uint8_t* in[4] = {sy.data(), suv.data(), nullptr, nullptr};
    const int inStride[4] = {src.w, src.w, 0, 0};
    uint8_t* out[4] = {dy.data(), duv.data(), nullptr, nullptr};
    const int outStride[4] = {dst.w, dst.w, 0, 0};
    for (auto _ : state) {
        sws_scale(ctx, in, inStride, 0, src.h, out, outStride);
        benchmark::DoNotOptimize(dy.data());
    }
    sws_freeContext(ctx);
}

void zimgLanczos(benchmark::State& state, Size src, Size dst) {
    zimg_image_format sf, df;
    zimg_image_format_default(&sf, ZIMG_API_VERSION);
    zimg_image_format_default(&df, ZIMG_API_VERSION);
    for (zimg_image_format* f : {&sf, &df}) {
        f->pixel_type = ZIMG_PIXEL_BYTE;
        f->subsample_w = 1;
        f->subsample_h = 1;
        f->color_family = ZIMG_COLOR_YUV;
        f->matrix_coefficients = ZIMG_MATRIX_BT709;
        f->depth = 8;
    }
    sf.width = static_cast<unsigned>(src.w);
    sf.height = static_cast<unsigned>(src.h);
    df.width = static_cast<unsigned>(dst.w);
    df.height = static_cast<unsigned>(dst.h);
    zimg_graph_builder_params params;
    zimg_graph_builder_params_default(&params, ZIMG_API_VERSION);
    params.resample_filter = ZIMG_RESIZE_LANCZOS;
    params.resample_filter_uv = ZIMG_RESIZE_LANCZOS;
    params.filter_param_a = 2;  // lobes
    params.filter_param_a_uv = 2;
    zimg_filter_graph* graph = zimg_filter_graph_build(&sf, &df, &params);
    if (!graph) {
        state.SkipWithError("zimg_filter_graph_build failed");
        return;
    }
    size_t tmpSize = 0;
    zimg_filter_graph_get_tmp_size(graph, &tmpSize);
    std::vector<uint8_t> tmp(tmpSize + 64);
    void* tmpAligned = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(tmp.data()) + 63) & ~uintptr_t{63});
    const size_t sl = static_cast<size_t>(src.w) * src.h, dl = static_cast<size_t>(dst.w) * dst.h;
    // 64-byte aligned planes with strides that are multiples of 64.
    std::vector<uint8_t> in(sl * 3 / 2 + 256), out(dl * 3 / 2 + 256);
    auto align = [](uint8_t* p) {
        return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + 63) & ~uintptr_t{63});
    };
    std::mt19937 rng(3);
    for (auto& b : in) b = static_cast<uint8_t>(rng());
    uint8_t* ib = align(in.data());
    uint8_t* ob = align(out.data());
    zimg_image_buffer_const sb{};
    zimg_image_buffer db{};
    sb.version = db.version = ZIMG_API_VERSION;
    const uint8_t* sp[3] = {ib, ib + sl, ib + sl + sl / 4};
    uint8_t* dp[3] = {ob, ob + dl, ob + dl + dl / 4};
    for (int i = 0; i < 3; ++i) {
        sb.plane[i].data = sp[i];
        sb.plane[i].stride = i == 0 ? src.w : src.w / 2;
        sb.plane[i].mask = ZIMG_BUFFER_MAX;
        db.plane[i].data = dp[i];
        db.plane[i].stride = i == 0 ? dst.w : dst.w / 2;
        db.plane[i].mask = ZIMG_BUFFER_MAX;
    }
    for (auto _ : state) {
        if (zimg_filter_graph_process(graph, &sb, &db, tmpAligned, nullptr, nullptr, nullptr, nullptr)) {
            state.SkipWithError("zimg_filter_graph_process failed");
            break;
        }
        benchmark::DoNotOptimize(ob);
    }
    zimg_filter_graph_free(graph);
}

void registerAll() {
    struct Dir {
        const char* name;
        Size src, dst;
    } dirs[] = {{"1080p_to_2160p", kHd, kUhd}, {"2160p_to_1080p", kUhd, kHd}};
    for (const Dir& d : dirs) {
        for (auto [variant, name] : {std::pair{0, "klmf_generic"}, {4, "klmf_sse41"}, {6, "klmf_avx2"}})
            benchmark::RegisterBenchmark((std::string(name) + "/" + d.name).c_str(), [=](benchmark::State& s) {
                klmf(s, variant, d.src, d.dst);
            })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("swscale_lanczos_nv12/") + d.name).c_str(), [=](benchmark::State& s) {
            swscale(s, d.src, d.dst);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("zimg_lanczos_i420/") + d.name).c_str(), [=](benchmark::State& s) {
            zimgLanczos(s, d.src, d.dst);
        })->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
