// Test frames, plans, an independent double-precision Lanczos resize
// written from the kernel's definition, and a single-precision model of the
// plan's weights and of the separable sums that must match byte for byte.
#pragma once

#include <immintrin.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "klmf_ipp.h"

namespace resize_test {

// Variants built separately (generic, SSE4.1, AVX2) and whether this
// processor runs them, by the compiler's own check.
constexpr int kBuiltVariants[] = {0, 4, 6};
inline bool processorHas(int index) {
    __builtin_cpu_init();
    if (index == 6)
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi2");
    if (index == 4) return __builtin_cpu_supports("sse4.1");
    return true;
}

// One plane with `pad` pixels (or pairs) of valid memory on every side.
struct Plane {
    int w = 0, h = 0, ch = 1, pad = 0;
    int step = 0;
    std::vector<uint8_t> mem;
    uint8_t* origin() { return mem.data() + static_cast<size_t>(pad) * step + pad * ch; }
    const uint8_t* origin() const { return mem.data() + static_cast<size_t>(pad) * step + pad * ch; }
    uint8_t at(int x, int y, int c) const { return origin()[static_cast<ptrdiff_t>(y) * step + x * ch + c]; }
};

inline Plane makePlane(int w, int h, int ch, int pad, uint32_t seed, bool constant = false, uint8_t value = 0) {
    Plane p;
    p.w = w;
    p.h = h;
    p.ch = ch;
    p.pad = pad;
    p.step = (w + 2 * pad) * ch;
    p.mem.resize(static_cast<size_t>(p.step) * (h + 2 * pad));
    std::mt19937 rng(seed);
    for (auto& b : p.mem) b = constant ? value : static_cast<uint8_t>(rng() & 0xff);
    return p;
}

struct Frame {
    Plane y, uv;
};

inline Frame makeFrame(int w, int h, int pad, uint32_t seed) {
    return {makePlane(w, h, 1, pad, seed), makePlane(w / 2, h / 2, 2, pad, seed + 1)};
}

struct Plan {
    uint8_t* block = nullptr;
    ippResult status = 0;
    int32_t bufSize = 0;
    ippiLanczosPlan* get() const { return reinterpret_cast<ippiLanczosPlan*>(block); }
    Plan(ippiPlaneSize src, ippiPlaneSize dst, uint32_t lobes) {
        int32_t planSize = 0, initSize = 0;
        status = ippiResizeYUV420GetSize(src, dst, ippiFilterLanczos, 0, &planSize, &initSize);
        if (status < 0) return;
        block = ippsMalloc_8u(planSize);
        uint8_t* init = ippsMalloc_8u(initSize);
        status = ippiResizeYUV420LanczosInit(src, dst, lobes, get(), init);
        ippsFree(init);
        if (status < 0) return;
        ippResult st = ippiResizeYUV420GetBufferSize(get(), dst, &bufSize);
        if (st < 0) status = st;
    }
    ~Plan() { ippsFree(block); }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
};

inline double lanczosKernel(double d, int a) {
    if (d == 0.0) return 1.0;
    if (std::fabs(d) >= a) return 0.0;
    const double pd = M_PI * d;
    return a * std::sin(pd) * std::sin(pd / a) / (pd * pd);
}

// Taps of destination position i on an axis of even lengths S -> D.
struct Taps {
    int first;  // source index of tap 0
    double w[6];
};

inline Taps axisTaps(int i, int S, int D, int a) {
    const double x = (i + 0.5) * S / D - 0.5;
    const int k = static_cast<int>(std::floor(x));
    const double t = x - k;
    Taps taps{k - (a - 1), {}};
    double sum = 0;
    for (int j = 0; j < 2 * a; ++j) sum += taps.w[j] = lanczosKernel(j - (a - 1) - t, a);
    for (int j = 0; j < 2 * a; ++j) taps.w[j] /= sum;
    return taps;
}

// Reference value of destination sample (dx, dy, c) of one plane whose
// positions follow the luma axis S -> D. clamp: edge replicate, else the
// padding memory is read.
inline uint8_t referenceSample(const Plane& src, int dx, int dy, int c, int Sw, int Sh, int Dw, int Dh, int a,
                               bool clamp) {
    const Taps tx = axisTaps(dx, Sw, Dw, a), ty = axisTaps(dy, Sh, Dh, a);
    // The source is used at its even-rounded size; chroma at half of it.
    const int limW = src.ch == 1 ? Sw : Sw / 2, limH = src.ch == 1 ? Sh : Sh / 2;
    double sum = 0;
    for (int v = 0; v < 2 * a; ++v) {
        int sy = ty.first + v;
        if (clamp) sy = std::min(std::max(sy, 0), limH - 1);
        double row = 0;
        for (int t = 0; t < 2 * a; ++t) {
            int sx = tx.first + t;
            if (clamp) sx = std::min(std::max(sx, 0), limW - 1);
            row += tx.w[t] * src.at(sx, sy, c);
        }
        sum += ty.w[v] * row;
    }
    const double r = std::nearbyint(sum);
    return static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
}

// Single-precision model: kernel tables of `Scale` steps per unit distance
// (La(m / Scale) rounded to float, exact zeros at whole distances), weights
// interpolated from them, normalised with the refined reciprocal estimate.
namespace model {

inline std::vector<float> kernelTable(int a) {
    const int scale = a == 2 ? 200 : 100;
    std::vector<float> t(static_cast<size_t>(a * scale + 2), 0.0f);
    for (int m = 0; m <= a * scale; ++m)
        t[static_cast<size_t>(m)] =
            m % scale == 0 && m != 0 ? 0.0f : static_cast<float>(lanczosKernel(static_cast<double>(m) / scale, a));
    return t;
}

inline float refinedReciprocal(float s) {
    const float r = _mm_cvtss_f32(_mm_rcp_ss(_mm_set_ss(s)));
    return (r + r) - (s * r) * r;
}

struct Axis {
    std::vector<int32_t> index;
    std::vector<float> weights;  // 2a per position
};

// Positions in double, fraction to float, then the 2a weights.
inline Axis axis(int S, int D, int a) {
    static const std::vector<float> t2 = kernelTable(2), t3 = kernelTable(3);
    const std::vector<float>& T = a == 2 ? t2 : t3;
    const float scale = a == 2 ? 200.0f : 100.0f;
    int g = S, h = D;
    while (h) {
        const int r = g % h;
        g = h;
        h = r;
    }
    const double ratio = static_cast<double>(S / g) / static_cast<double>(D / g);
    Axis ax;
    for (int i = 0; i < D; ++i) {
        const double x = (i + 0.5) * ratio - 0.5;
        const int k = static_cast<int>(std::floor(x));
        const float f = static_cast<float>(x - k);
        ax.index.push_back(k);
        float w[6] = {}, sum = 0.0f;
        for (int j = 0; j < 2 * a; ++j) {
            const float d = static_cast<float>(j - (a - 1)) - f;
            if (d > static_cast<float>(-a) && d < static_cast<float>(a)) {
                const float u = std::fabs(d) * scale;
                const int m = static_cast<int>(u);
                w[j] = T[m] + (T[m + 1] - T[m]) * (u - static_cast<float>(m));
            }
            sum += w[j];
        }
        const float r = refinedReciprocal(sum);
        for (int j = 0; j < 2 * a; ++j) ax.weights.push_back(a == 3 && j >= 4 ? w[j] / sum : w[j] * r);
    }
    return ax;
}

// One plane resized by the model: per destination sample the horizontal sums
// of its 2a source rows, then their vertical sum, each in tap order in single
// precision; rounded to nearest with ties to even and clamped. clamp: edge
// replication, else the memory around the source is read.
class PlaneModel {
public:
    // Even-rounded luma lengths of the plan; a chroma plane uses half the source.
    PlaneModel(int Sw, int Sh, int Dw, int Dh, int a)
        : a_(a), sw_(Sw), sh_(Sh), x_(axis(Sw, Dw, a)), y_(axis(Sh, Dh, a)) {}
    uint8_t sample(const Plane& src, int dx, int dy, int c, bool clamp) const {
        const int taps = 2 * a_;
        const int limW = src.ch == 1 ? sw_ : sw_ / 2, limH = src.ch == 1 ? sh_ : sh_ / 2;
        const float* wx = &x_.weights[static_cast<size_t>(taps) * dx];
        const float* wy = &y_.weights[static_cast<size_t>(taps) * dy];
        float sum = 0.0f;
        for (int v = 0; v < taps; ++v) {
            int sy = y_.index[dy] - (a_ - 1) + v;
            if (clamp) sy = std::min(std::max(sy, 0), limH - 1);
            float row = 0.0f;
            for (int t = 0; t < taps; ++t) {
                int sx = x_.index[dx] - (a_ - 1) + t;
                if (clamp) sx = std::min(std::max(sx, 0), limW - 1);
                row += static_cast<float>(src.at(sx, sy, c)) * wx[t];
            }
            sum += row * wy[v];
        }
        const float r = std::nearbyint(sum);
        return static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
    }

private:
    int a_, sw_, sh_;
    Axis x_, y_;
};

}  // namespace model

// Memory that ends (or starts) exactly at a page followed (preceded) by an
// inaccessible page: any read past the data faults in every build.
class GuardedBuffer {
public:
    GuardedBuffer(size_t len, bool guardAfter) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t dataPages = (len + page - 1) / page;
        total_ = (dataPages + 2) * page;
        base_ =
            static_cast<uint8_t*>(mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base_, page, PROT_NONE);
        mprotect(base_ + (dataPages + 1) * page, page, PROT_NONE);
        data_ = guardAfter ? base_ + (dataPages + 1) * page - len : base_ + page;
    }
    ~GuardedBuffer() { munmap(base_, total_); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    uint8_t* data() { return data_; }

private:
    uint8_t* base_;
    uint8_t* data_;
    size_t total_;
};

}  // namespace resize_test
