// Generic row and column passes: single-precision products added in tap
// order, built without contraction so every variant can match them.
#include <immintrin.h>

#include "resize_driver.h"
#include "variants.h"

namespace klmf_resize {
namespace {

template <int A>
void row1(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    for (int j = 0; j < n; ++j, wx += 2 * A) {
        const uint8_t* s = src + cols[j] - (A - 1);
        float sum = static_cast<float>(s[0]) * wx[0];
        #pragma GCC unroll 6
        for (int t = 1; t < 2 * A; ++t) sum += static_cast<float>(s[t]) * wx[t];
        out[j] = sum;
    }
}

template <int A>
void row2(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    for (int j = 0; j < n; ++j, wx += 2 * A) {
        const uint8_t* s = src + cols[j] - 2 * (A - 1);
        for (int c = 0; c < 2; ++c) {
            float sum = static_cast<float>(s[c]) * wx[0];
            #pragma GCC unroll 6
            for (int t = 1; t < 2 * A; ++t) sum += static_cast<float>(s[2 * t + c]) * wx[t];
            out[2 * j + c] = sum;
        }
    }
}

template <int A>
void col(const float* const* rows, const float* wy, int n, uint8_t* dst) {
    for (int j = 0; j < n; ++j) {
        float sum = rows[0][j] * wy[0];
        #pragma GCC unroll 6
        for (int v = 1; v < 2 * A; ++v) sum += rows[v][j] * wy[v];
        const int r = _mm_cvtss_si32(_mm_set_ss(sum));  // nearest, ties to even
        dst[j] = static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
    }
}

void ownRow1Cubic8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    row1<2>(src, cols, wx, n, out);
}
void ownRow1Lanczos3_8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    row1<3>(src, cols, wx, n, out);
}
void ownRow2Lanczos2_8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    row2<2>(src, cols, wx, n, out);
}
void ownRow2Lanczos3_8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    row2<3>(src, cols, wx, n, out);
}
void ownColCubic8u(const float* const* rows, const float* wy, int n, uint8_t* dst) { col<2>(rows, wy, n, dst); }
void ownColLanczos3_8u(const float* const* rows, const float* wy, int n, uint8_t* dst) { col<3>(rows, wy, n, dst); }

}  // namespace

const ResizeKernels kGenericKernels = {ownRow1Cubic8u, ownRow1Lanczos3_8u, ownRow2Lanczos2_8u, ownRow2Lanczos3_8u,
                                       ownColCubic8u,  ownColLanczos3_8u,  nullptr,            nullptr,
                                       {nullptr, nullptr}, {nullptr, nullptr}, {nullptr, nullptr}, {nullptr, nullptr}};

ippResult mx_ippiResizeYUV420Lanczos_8u_P2R(const uint8_t* pSrcY, int32_t srcYStep, const uint8_t* pSrcUV,
                                            int32_t srcUVStep, uint8_t* pDstY, int32_t dstYStep, uint8_t* pDstUV,
                                            int32_t dstUVStep, ippiPlaneOffset dstOffset, ippiPlaneSize dstSize,
                                            ippiEdgeMode border, const uint8_t*, const ippiLanczosPlan* pPlan,
                                            uint8_t* pBuffer) {
    return resizeYUV420(kGenericKernels, pSrcY, srcYStep, pSrcUV, srcUVStep, pDstY, dstYStep, pDstUV, dstUVStep,
                        dstOffset, dstSize, border, pPlan, pBuffer);
}

}  // namespace klmf_resize
