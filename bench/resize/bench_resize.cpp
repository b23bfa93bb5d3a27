// One frame of 1920x1080 <-> 3840x2160 4:2:0 with 2 and 3 lobes on one core:
// the resize library's variants beside zimg's Lanczos (planar, since zimg
// takes no interleaved chroma) and libswscale's SWS_LANCZOS (NV12 to NV12).
// Every contestant runs in turn within each round, so a load that comes and
// goes on the machine falls on all of them alike; each keeps its fastest
// frame over all rounds.
//
//   bench_resize [--rounds N] [--cpu N]
#include <sched.h>
#include <zimg.h>

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
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
    if (variant == 6)
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi2");
    if (variant == 4) return __builtin_cpu_supports("sse4.1");
    return true;
}

// One contestant prepared for one row: run() resizes one frame.
struct Contestant {
    virtual ~Contestant() = default;
    virtual bool ok() const = 0;
    virtual void run() = 0;
};

class Klmf : public Contestant {
public:
    Klmf(int variant, Size src, Size dst, uint32_t lobes)
        : src_(src), dst_(dst), fn_(ippiResizeYUV420Lanczos_8u_P2R_arraddr[variant]) {
        if (!processorHas(variant)) return;
        sy_ = noise(static_cast<size_t>(src.w) * src.h, 1);
        suv_ = noise(static_cast<size_t>(src.w) * src.h / 2, 2);
        dy_.resize(static_cast<size_t>(dst.w) * dst.h);
        duv_.resize(static_cast<size_t>(dst.w) * dst.h / 2);
        int32_t planSize = 0, initSize = 0, bufSize = 0;
        if (ippiResizeYUV420GetSize({src.w, src.h}, {dst.w, dst.h}, ippiFilterLanczos, 0, &planSize, &initSize) != 0)
            return;
        plan_ = ippsMalloc_8u(planSize);
        uint8_t* init = ippsMalloc_8u(initSize);
        const ippResult st = ippiResizeYUV420LanczosInit({src.w, src.h}, {dst.w, dst.h}, lobes, plan(), init);
        ippsFree(init);
        if (st != 0 || ippiResizeYUV420GetBufferSize(plan(), {dst.w, dst.h}, &bufSize) != 0) return;
        work_ = ippsMalloc_8u(bufSize);
        ok_ = resize() >= 0;  // a variant that refuses is not timed
    }
    ~Klmf() override {
        ippsFree(work_);
        ippsFree(plan_);
    }
    bool ok() const override { return ok_; }
    void run() override { resize(); }

private:
    ippResult resize() {
        return fn_(sy_.data(), src_.w, suv_.data(), src_.w, dy_.data(), dst_.w, duv_.data(), dst_.w, {0, 0},
                   {dst_.w, dst_.h}, ippiEdgeReplicate, nullptr, plan(), work_);
    }
    ippiLanczosPlan* plan() { return reinterpret_cast<ippiLanczosPlan*>(plan_); }
    Size src_, dst_;
    ippiResizeYUV420Lanczos_8u_P2R_fn fn_;
    std::vector<uint8_t> sy_, suv_, dy_, duv_;
    uint8_t* plan_ = nullptr;
    uint8_t* work_ = nullptr;
    bool ok_ = false;
};

class Swscale : public Contestant {
public:
    Swscale(Size src, Size dst, uint32_t lobes) : src_(src), dst_(dst) {
        ctx_ = sws_alloc_context();
        av_opt_set_int(ctx_, "srcw", src.w, 0);
        av_opt_set_int(ctx_, "srch", src.h, 0);
        av_opt_set_int(ctx_, "src_format", AV_PIX_FMT_NV12, 0);
        av_opt_set_int(ctx_, "dstw", dst.w, 0);
        av_opt_set_int(ctx_, "dsth", dst.h, 0);
        av_opt_set_int(ctx_, "dst_format", AV_PIX_FMT_NV12, 0);
        av_opt_set_int(ctx_, "sws_flags", SWS_LANCZOS, 0);
        av_opt_set_double(ctx_, "param0", lobes, 0);
        av_opt_set_int(ctx_, "threads", 1, 0);
        if (sws_init_context(ctx_, nullptr, nullptr) < 0) return;
        sy_ = noise(static_cast<size_t>(src.w) * src.h, 1);
        suv_ = noise(static_cast<size_t>(src.w) * src.h / 2, 2);
        dy_.resize(static_cast<size_t>(dst.w) * dst.h);
        duv_.resize(static_cast<size_t>(dst.w) * dst.h / 2);
        ok_ = true;
    }
    ~Swscale() override { sws_freeContext(ctx_); }
    bool ok() const override { return ok_; }
    void run() override {
        const uint8_t* in[4] = {sy_.data(), suv_.data(), nullptr, nullptr};
        const int inStride[4] = {src_.w, src_.w, 0, 0};
        uint8_t* out[4] = {dy_.data(), duv_.data(), nullptr, nullptr};
        const int outStride[4] = {dst_.w, dst_.w, 0, 0};
        sws_scale(ctx_, in, inStride, 0, src_.h, out, outStride);
    }

private:
    Size src_, dst_;
    SwsContext* ctx_ = nullptr;
    std::vector<uint8_t> sy_, suv_, dy_, duv_;
    bool ok_ = false;
};

class Zimg : public Contestant {
public:
    Zimg(Size src, Size dst, uint32_t lobes, zimg_cpu_type_e cpu) {
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
        params.filter_param_a = lobes;
        params.filter_param_a_uv = lobes;
        params.cpu_type = cpu;
        graph_ = zimg_filter_graph_build(&sf, &df, &params);
        if (!graph_) return;
        size_t tmpSize = 0;
        zimg_filter_graph_get_tmp_size(graph_, &tmpSize);
        tmp_.resize(tmpSize + 64);
        const size_t sl = static_cast<size_t>(src.w) * src.h, dl = static_cast<size_t>(dst.w) * dst.h;
        // 64-byte aligned planes with strides that are multiples of 64.
        in_ = noise(sl * 3 / 2 + 256, 3);
        out_.resize(dl * 3 / 2 + 256);
        uint8_t* ib = align(in_.data());
        uint8_t* ob = align(out_.data());
        sb_.version = db_.version = ZIMG_API_VERSION;
        const uint8_t* sp[3] = {ib, ib + sl, ib + sl + sl / 4};
        uint8_t* dp[3] = {ob, ob + dl, ob + dl + dl / 4};
        for (int i = 0; i < 3; ++i) {
            sb_.plane[i].data = sp[i];
            sb_.plane[i].stride = i == 0 ? src.w : src.w / 2;
            sb_.plane[i].mask = ZIMG_BUFFER_MAX;
            db_.plane[i].data = dp[i];
            db_.plane[i].stride = i == 0 ? dst.w : dst.w / 2;
            db_.plane[i].mask = ZIMG_BUFFER_MAX;
        }
        ok_ = true;
    }
    ~Zimg() override { zimg_filter_graph_free(graph_); }
    bool ok() const override { return ok_; }
    void run() override {
        if (zimg_filter_graph_process(graph_, &sb_, &db_, align(tmp_.data()), nullptr, nullptr, nullptr, nullptr)) {
            std::fprintf(stderr, "zimg_filter_graph_process failed\n");
            std::exit(1);
        }
    }

private:
    static uint8_t* align(uint8_t* p) {
        return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + 63) & ~uintptr_t{63});
    }
    zimg_filter_graph* graph_ = nullptr;
    std::vector<uint8_t> tmp_, in_, out_;
    zimg_image_buffer_const sb_{};
    zimg_image_buffer db_{};
    bool ok_ = false;
};

struct Row {
    const char* name;
    Size src, dst;
    uint32_t lobes;
};

constexpr Row kRows[] = {
    {"up, 2 lobes", kHd, kUhd, 2},
    {"down, 2 lobes", kUhd, kHd, 2},
    {"up, 3 lobes", kHd, kUhd, 3},
    {"down, 3 lobes", kUhd, kHd, 3},
};

// zimg as it runs by default (its best code for this processor short of
// 512-bit vectors), and held to SSE4.1 beside the SSE4.1 variant.
enum Column { kAvx2, kSse41, kGeneric, kZimg, kZimgSse41, kSwscale, kColumns };
const char* const kColumnNames[kColumns] = {"klmf AVX2", "klmf SSE4.1", "klmf generic",
                                            "zimg",      "zimg SSE4.1", "swscale"};

std::unique_ptr<Contestant> make(Column c, const Row& r) {
    switch (c) {
        case kAvx2:
            return std::make_unique<Klmf>(6, r.src, r.dst, r.lobes);
        case kSse41:
            return std::make_unique<Klmf>(4, r.src, r.dst, r.lobes);
        case kGeneric:
            return std::make_unique<Klmf>(0, r.src, r.dst, r.lobes);
        case kZimg:
            return std::make_unique<Zimg>(r.src, r.dst, r.lobes, ZIMG_CPU_AUTO);
        case kZimgSse41:
            return std::make_unique<Zimg>(r.src, r.dst, r.lobes, ZIMG_CPU_X86_SSE41);
        default:
            return std::make_unique<Swscale>(r.src, r.dst, r.lobes);
    }
}

double frameMs(Contestant& c) {
    const auto t0 = std::chrono::steady_clock::now();
    c.run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

bool pinToOneCore(int cpu) {
    if (cpu < 0) cpu = sched_getcpu();
    if (cpu < 0) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) return false;
    std::printf("pinned to cpu %d\n", cpu);
    return true;
}

std::string cell(double ms) {
    char b[32];
    if (ms == std::numeric_limits<double>::infinity())
        std::snprintf(b, sizeof b, "-");
    else
        std::snprintf(b, sizeof b, "%.2f ms", ms);
    return b;
}

std::string ratio(double a, double b) {
    char s[32];
    if (a == std::numeric_limits<double>::infinity() || b == std::numeric_limits<double>::infinity())
        std::snprintf(s, sizeof s, "-");
    else
        std::snprintf(s, sizeof s, "%.2f", a / b);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 20, cpu = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--cpu")) cpu = std::atoi(argv[i + 1]);
    }
    if (!pinToOneCore(cpu)) std::fprintf(stderr, "could not pin to one core\n");

    constexpr int kRowCount = sizeof kRows / sizeof kRows[0];
    std::vector<std::unique_ptr<Contestant>> contestants;
    for (const Row& r : kRows)
        for (int c = 0; c < kColumns; ++c) contestants.push_back(make(static_cast<Column>(c), r));
    std::vector<double> best(contestants.size(), std::numeric_limits<double>::infinity());
    for (auto& c : contestants)
        if (c->ok()) c->run();  // warm up: first touch of every buffer
    // The generic variant is slow and only a reference: fewer frames of it.
    for (int round = 0; round < rounds; ++round)
        for (size_t i = 0; i < contestants.size(); ++i) {
            if (!contestants[i]->ok()) continue;
            const bool generic = i % kColumns == kGeneric;
            if (generic && round % 4 != 0) continue;
            for (int f = 0; f < (generic ? 1 : 3); ++f) best[i] = std::min(best[i], frameMs(*contestants[i]));
        }

    std::printf("\n| 1080p <-> 2160p, one core |");
    for (const char* n : kColumnNames) std::printf(" %s |", n);
    std::printf(" AVX2 / zimg | SSE4.1 / zimg | SSE4.1 / zimg SSE4.1 | AVX2 / swscale |\n|---|");
    for (int c = 0; c < kColumns + 4; ++c) std::printf("---|");
    std::printf("\n");
    for (int r = 0; r < kRowCount; ++r) {
        const double* t = &best[static_cast<size_t>(r) * kColumns];
        std::printf("| %s |", kRows[r].name);
        for (int c = 0; c < kColumns; ++c) std::printf(" %s |", cell(t[c]).c_str());
        std::printf(" %s | %s | %s | %s |\n", ratio(t[kAvx2], t[kZimg]).c_str(), ratio(t[kSse41], t[kZimg]).c_str(),
                    ratio(t[kSse41], t[kZimgSse41]).c_str(), ratio(t[kAvx2], t[kSwscale]).c_str());
    }
    std::printf("\nfastest frame of %d rounds each; zimg resizes planar 4:2:0, the others NV12\n", rounds);
    return 0;
}
