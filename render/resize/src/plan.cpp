// Size queries and the Lanczos plan: positions, fractions and weights of
// both axes, computed once per pair of sizes (generic variant).
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "plan_layout.h"
#include "variants.h"

namespace klmf_resize {
namespace {

constexpr int64_t kSizeLimit = 2147483648LL;

int64_t a32(int64_t n) { return (n + 31) & ~int64_t{31}; }
int64_t even(int32_t v) { return v & ~1; }

double lanczos(double d, int a) {
    if (d == 0.0) return 1.0;
    // Whole distances are zeros of the kernel; sin(pi * k) in double is not.
    if (d == std::floor(d)) return 0.0;
    const double pd = M_PI * d;
    return a * std::sin(pd) * std::sin(pd / a) / (pd * pd);
}

template <int A, int Scale, int N>
std::array<float, N> makeTable() {
    std::array<float, N> t{};
    for (int m = 0; m < N - 1; ++m) t[m] = static_cast<float>(lanczos(static_cast<double>(m) / Scale, A));
    t[N - 1] = 0.0f;
    return t;
}

const std::array<float, 402> tblL2 = makeTable<2, 200, 402>();
const std::array<float, 302> tblL3 = makeTable<3, 100, 302>();

int64_t lanczosPlanSize(int64_t w, int64_t h) {
    return 4 * (a32(w) + a32(h)) + 4 * (((6 * w + 193) & ~int64_t{31}) + ((6 * h + 193) & ~int64_t{31})) + 64;
}

struct AxisCounts {
    uint32_t leading = 0;
    uint32_t trailing = 0;
};

AxisCounts ownBuildFilter_32f(uint32_t src, uint32_t dst, int a, int32_t* index, float* fraction) {
    const uint32_t g = std::gcd(src, dst);
    const double ratio = static_cast<double>(src / g) / static_cast<double>(dst / g);
    AxisCounts c;
    for (uint32_t i = 0; i < dst; ++i) {
        const double x = (i + 0.5) * ratio - 0.5;
        const int32_t k = static_cast<int32_t>(std::floor(x));
        index[i] = k;
        fraction[i] = static_cast<float>(x - k);
        if (x < a - 1) ++c.leading;
        if (x >= static_cast<double>(src) - a) ++c.trailing;
    }
    return c;
}

// Reciprocal estimate refined once: r' = 2r - (s r) r.
float refinedReciprocal(float s) {
    const float r = _mm_cvtss_f32(_mm_rcp_ss(_mm_set_ss(s)));
    return (r + r) - (s * r) * r;
}

template <int A>
void lanczosWeights(const float* fractions, uint32_t n, float* weights) {
    constexpr int kTaps = 2 * A;
    constexpr float kScale = A == 2 ? 200.0f : 100.0f;
    const float* table = A == 2 ? tblL2.data() : tblL3.data();
    for (uint32_t i = 0; i < n; ++i) {
        const float t = fractions[i];
        float w[kTaps];
        float sum = 0.0f;
        for (int j = 0; j < kTaps; ++j) {
            const float d = static_cast<float>(j - (A - 1)) - t;
            w[j] = 0.0f;
            if (d > -A && d < A) {
                const float u = std::fabs(d) * kScale;
                const int m = static_cast<int>(u);
                w[j] = table[m] + (table[m + 1] - table[m]) * (u - static_cast<float>(m));
            }
            sum += w[j];
        }
        const float r = refinedReciprocal(sum);
        float* out = weights + static_cast<size_t>(kTaps) * i;
        for (int j = 0; j < 4; ++j) out[j] = w[j] * r;
        for (int j = 4; j < kTaps; ++j) out[j] = w[j] / sum;
    }
}

void ownLanczosKernel2(const float* fractions, uint32_t n, float* weights) { lanczosWeights<2>(fractions, n, weights); }
void ownLanczosKernel3(const float* fractions, uint32_t n, float* weights) { lanczosWeights<3>(fractions, n, weights); }

}  // namespace

ippResult mx_ippiResizeYUV420GetSize(ippiPlaneSize srcSize, ippiPlaneSize dstSize, ippiFilterKind interpolation,
                                     uint32_t antialiasing, int32_t* pPlanSize, int32_t* pInitBufSize) {
    if (!pPlanSize || !pInitBufSize) return ippStsNullPtrErr;
    const int32_t lens[4] = {srcSize.width, srcSize.height, dstSize.width, dstSize.height};
    for (int32_t v : lens)
        if (v == 0) return ippStsNoOperation;
    for (int32_t v : lens)
        if (v < 2) return ippStsSizeErr;
    switch (interpolation) {
        case 0:
        case 1:
        case 2:
        case 6:
        case 8:
        case 16:
            break;
        default:
            return ippStsInterpolationErr;
    }
    if (antialiasing != 0) return ippStsNotSupportedModeErr;
    if (interpolation != 8 && interpolation != 16) return ippStsNotSupportedModeErr;

    const int64_t w = even(dstSize.width), h = even(dstSize.height);
    int64_t planSize = 0, initSize = 0;
    if (interpolation == 16) {
        if (srcSize.width < 8 || srcSize.height < 8) return ippStsSizeErr;
        planSize = lanczosPlanSize(w, h);
        initSize = 4 * (a32(w) + a32(h)) + 64;
    } else {
        if (srcSize.width < dstSize.width || srcSize.height < dstSize.height) return ippStsSizeErr;
        auto reduced = [](int64_t s, int64_t d) {
            const int64_t g = std::gcd(s, d);
            const int64_t sr = s / g, dr = d / g;
            const int64_t q = sr / dr, r = sr % dr;
            const int64_t c = r == 0 ? 0 : (r == 1 ? 1 : 2);
            return dr * (q + c);
        };
        const int64_t nW = reduced(even(srcSize.width), w);
        const int64_t nH = reduced(even(srcSize.height), h);
        planSize = 4 * (a32(w) + a32(h)) + 4 * (a32(nW) + nW + nH + a32(nH)) + 64;
        initSize = 64;
    }
    if (planSize >= kSizeLimit || initSize >= kSizeLimit) return ippStsSizeErr;
    *pPlanSize = static_cast<int32_t>(planSize);
    *pInitBufSize = static_cast<int32_t>(initSize);
    for (int32_t v : lens)
        if (v & 1) return ippStsSizeWarning;
    return ippStsNoErr;
}

ippResult mx_ippiResizeYUV420GetBufferSize(const ippiLanczosPlan* pPlan, ippiPlaneSize dstSize, int32_t* pBufSize) {
    if (!pPlan || !pBufSize) return ippStsNullPtrErr;
    if (dstSize.width == 0 || dstSize.height == 0) return ippStsNoOperation;
    const PlanHeader* p = planHeader(pPlan);
    if (p->check != kPlanCheckWord) return ippStsPlanErr;
    if (dstSize.width < 2 || dstSize.height < 2) return ippStsSizeErr;
    const int64_t w = std::min<int64_t>(p->horizontal.dstLen, even(dstSize.width));
    const int64_t h = std::min<int64_t>(p->vertical.dstLen, even(dstSize.height));
    const int64_t base = 4 * (a32(w) + a32(h));
    int64_t size;
    if (p->lobes == 2)
        size = base + ((16 * w + 508) & ~int64_t{127});
    else if (p->lobes == 3)
        size = base + 4 * ((6 * w + 191) & ~int64_t{31});
    else
        return ippStsNotSupportedModeErr;
    if (size + 64 >= kSizeLimit) return ippStsSizeErr;
    *pBufSize = static_cast<int32_t>(size + 64);
    if ((dstSize.width & 1) || (dstSize.height & 1) || static_cast<uint32_t>(dstSize.width) > p->horizontal.dstLen ||
        static_cast<uint32_t>(dstSize.height) > p->vertical.dstLen)
        return ippStsSizeWarning;
    return ippStsNoErr;
}

namespace {

ippResult lanczosInit(ippiPlaneSize srcSize, ippiPlaneSize dstSize, uint32_t numLobes, ippiLanczosPlan* pPlan,
                      uint8_t* pInitBuf) {
    if (!pPlan || !pInitBuf) return ippStsNullPtrErr;
    const int32_t lens[4] = {srcSize.width, srcSize.height, dstSize.width, dstSize.height};
    for (int32_t v : lens)
        if (v == 0) return ippStsNoOperation;
    for (int32_t v : lens)
        if (v < 2) return ippStsSizeErr;
    if (numLobes != 2 && numLobes != 3) return ippStsNotSupportedModeErr;
    // Every check runs before the tables are written.
    const int32_t minSrc = numLobes == 3 ? 12 : 8;
    if (srcSize.width < minSrc || srcSize.height < minSrc) return ippStsSizeErr;
    const uint32_t hs = static_cast<uint32_t>(even(srcSize.height)), hd = static_cast<uint32_t>(even(dstSize.height));
    const uint32_t ws = static_cast<uint32_t>(even(srcSize.width)), wd = static_cast<uint32_t>(even(dstSize.width));
    // The caller's block can only be as large as the size query allows.
    if (lanczosPlanSize(wd, hd) >= kSizeLimit) return ippStsSizeErr;

    PlanHeader* p = planHeader(pPlan);
    std::memset(p, 0, sizeof *p);
    p->check = kPlanCheckWord;
    p->interpolation = 16;
    p->lobes = numLobes;
    const uint32_t gv = std::gcd(hs, hd), gh = std::gcd(ws, wd);
    p->vertical = AxisRecord{hs, hd, hs / gv, hd / gv, nullptr, nullptr, 0, 0};
    p->horizontal = AxisRecord{ws, wd, ws / gh, wd / gh, nullptr, nullptr, 0, 0};

    const int a = static_cast<int>(numLobes);
    uint8_t* cursor = reinterpret_cast<uint8_t*>(p) + sizeof *p;
    p->vertical.index = reinterpret_cast<int32_t*>(cursor);
    p->horizontal.index = p->vertical.index + hd;
    // The initialisation buffer needs no alignment: an unaligned one is filled by copy.
    float* fractions = reinterpret_cast<float*>(pInitBuf);
    std::vector<float> scratch;
    const bool initAligned = reinterpret_cast<uintptr_t>(pInitBuf) % alignof(float) == 0;
    if (!initAligned) {
        scratch.resize(static_cast<size_t>(hd) + wd);
        fractions = scratch.data();
    }
    const AxisCounts vc = ownBuildFilter_32f(hs, hd, a, p->vertical.index, fractions);
    const AxisCounts hc = ownBuildFilter_32f(ws, wd, a, p->horizontal.index, fractions + hd);
    p->vertical.leading = vc.leading;
    p->vertical.trailing = vc.trailing;
    p->horizontal.leading = hc.leading;
    p->horizontal.trailing = hc.trailing;

    const size_t taps = 2 * numLobes;
    uintptr_t wv = alignUp(reinterpret_cast<uintptr_t>(p->horizontal.index + wd), 32);
    p->vertical.weights = reinterpret_cast<float*>(wv);
    uintptr_t wh = alignUp(reinterpret_cast<uintptr_t>(p->vertical.weights + taps * hd), 32);
    p->horizontal.weights = reinterpret_cast<float*>(wh);

    if (a == 2) {
        ownLanczosKernel2(fractions + hd, wd, p->horizontal.weights);
        ownLanczosKernel2(fractions, hd, p->vertical.weights);
    } else {
        ownLanczosKernel3(fractions + hd, wd, p->horizontal.weights);
        ownLanczosKernel3(fractions, hd, p->vertical.weights);
    }
    if (!initAligned) std::memcpy(pInitBuf, scratch.data(), scratch.size() * sizeof(float));
    for (int32_t v : lens)
        if (v & 1) return ippStsSizeWarning;
    return ippStsNoErr;
}

}  // namespace

ippResult mx_ippiResizeYUV420LanczosInit(ippiPlaneSize srcSize, ippiPlaneSize dstSize, uint32_t numLobes,
                                         ippiLanczosPlan* pPlan, uint8_t* pInitBuf) {
    const ippResult st = lanczosInit(srcSize, dstSize, numLobes, pPlan, pInitBuf);
    // Callers reuse plan blocks: a block that held a plan for other sizes
    // must not stay usable after a failed init, or the next resize would
    // read the new source with the old plan's positions.
    if (st < 0 && pPlan) planHeader(pPlan)->check = 0;
    return st;
}

}  // namespace klmf_resize
