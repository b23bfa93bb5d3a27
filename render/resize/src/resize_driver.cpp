// Checks, area clipping and the two plane drivers of the resize call.
#include "resize_driver.h"

#include <xmmintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "plan_layout.h"

namespace klmf_resize {
namespace {

struct Plane {
    const uint8_t* origin;  // source pixel (0, 0)
    ptrdiff_t srcStep;
    int32_t srcW, srcH;  // plane source size
    uint8_t* dst;        // first pixel of the area
    ptrdiff_t dstStep;
    int32_t x, y, w, h;  // area in plane pixels
    int32_t dstW, dstH;  // plane destination size of the plan
    int ch;
};

inline int clampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Horizontal pass of one source row for the columns whose taps leave the
// source: taps clamped to it, each channel reading only its own samples.
template <int Ch, int A>
void calcBorder(const PlanHeader& p, const Plane& pl, const uint8_t* srow, int col0, int cols, float* out) {
    constexpr int taps = 2 * A;
    for (int col = col0; col < col0 + cols; ++col) {
        const int kx = p.horizontal.index[col];
        const float* wx = p.horizontal.weights + static_cast<size_t>(taps) * col;
        for (int c = 0; c < Ch; ++c) {
            float sum = 0.0f;
            for (int t = 0; t < taps; ++t) {
                const int sx = clampInt(kx - (A - 1) + t, 0, pl.srcW - 1);
                sum += static_cast<float>(srow[sx * Ch + c]) * wx[t];
            }
            out[(col - col0) * Ch + c] = sum;
        }
    }
}

using BorderPass = void (*)(const PlanHeader& p, const Plane& pl, const uint8_t* srow, int col0, int cols, float* out);

void ownCalcBorderR1Lanczos2_8u(const PlanHeader& p, const Plane& pl, const uint8_t* srow, int col0, int cols,
                                float* out) {
    calcBorder<1, 2>(p, pl, srow, col0, cols, out);
}
void ownCalcBorderR1Lanczos3_8u(const PlanHeader& p, const Plane& pl, const uint8_t* srow, int col0, int cols,
                                float* out) {
    calcBorder<1, 3>(p, pl, srow, col0, cols, out);
}
void ownCalcBorderR2Lanczos2_8u(const PlanHeader& p, const Plane& pl, const uint8_t* srow, int col0, int cols,
                                float* out) {
    calcBorder<2, 2>(p, pl, srow, col0, cols, out);
}
void ownCalcBorderR2Lanczos3_8u(const PlanHeader& p, const Plane& pl, const uint8_t* srow, int col0, int cols,
                                float* out) {
    calcBorder<2, 3>(p, pl, srow, col0, cols, out);
}

// Rows ahead of the one being filtered whose piece of the strip is fetched.
constexpr int kPrefetchRows = 4;

// The area, separably, strip by strip of columns: the horizontal pass of each
// needed source row into a ring of 2a float rows, then a vertical pass per
// destination row. With edge replication, rows above and below the source
// are the edge row (filtered once, then copied) and the left and right bands
// of columns (whose taps leave the source) are filtered with clamped taps,
// outside the variant's loops; the sums are those of the per-pixel
// definition, term by term, so strips change no byte.
template <int Ch, int A>
void resizeArea(const ResizeKernels& k, const PlanHeader& p, const Plane& pl, const int32_t* colOffsets, float* ring,
                bool replicate, int left, int right) {
    constexpr int a = A, taps = 2 * A;
    const RowPass rowPass = Ch == 1 ? (A == 2 ? k.ownRow1Cubic8u : k.ownRow1Lanczos3_8u)
                                    : (A == 2 ? k.ownRow2Lanczos2_8u : k.ownRow2Lanczos3_8u);
    const RowPreparedPass prepared = Ch == 1 ? (A == 2 ? k.row1Lanczos2Prepared : k.row1Lanczos3Prepared)
                                             : (A == 2 ? k.row2Lanczos2Prepared : k.row2Lanczos3Prepared);
    const ColPass colPass = A == 2 ? k.ownColCubic8u : k.ownColLanczos3_8u;
    const ColPass2 colPair = A == 2 ? k.colPairLanczos2 : k.colPairLanczos3;
    const BorderPass border = Ch == 1 ? (A == 2 ? ownCalcBorderR1Lanczos2_8u : ownCalcBorderR1Lanczos3_8u)
                                      : (A == 2 ? ownCalcBorderR2Lanczos2_8u : ownCalcBorderR2Lanczos3_8u);
    const int mid = pl.w - left - right;
    // Last source byte a tap of the interior columns reads.
    const int32_t limit = mid > 0 ? colOffsets[left + mid - 1] + Ch * A + (Ch - 1) : 0;
    alignas(32) unsigned char layout[kPreparedBytesPerFloat * kStripFloats + 64];
    constexpr int kStripCols = kStripFloats / Ch;

    for (int s0 = 0; s0 < pl.w; s0 += kStripCols) {
        const int s1 = s0 + kStripCols < pl.w ? s0 + kStripCols : pl.w;
        const int l1 = s1 < left ? s1 : left;                  // left band: [s0, l1)
        const int m0 = s0 > left ? s0 : left;                  // interior: [m0, m1)
        const int m1 = s1 < left + mid ? s1 : left + mid;
        const int r0 = s0 > left + mid ? s0 : left + mid;      // right band: [r0, s1)
        const int n = (s1 - s0) * Ch;
        const size_t stride = ((static_cast<size_t>(n) * sizeof(float) + 31) & ~size_t{31}) / sizeof(float);
        float* slot[6];
        int held[6];  // source row (after clamping) in each slot
        for (int v = 0; v < taps; ++v) {
            slot[v] = ring + stride * v;
            held[v] = INT32_MIN;
        }
        const float* wxMid = p.horizontal.weights + static_cast<size_t>(taps) * (pl.x + m0);
        const bool usePrepared = prepared.prepare && m1 > m0;
        const int32_t firstByte = m1 > m0 ? colOffsets[m0] - Ch * (A - 1) : 0;
        const int32_t lastByte = m1 > m0 ? colOffsets[m1 - 1] + Ch * A + (Ch - 1) : 0;
        if (usePrepared) prepared.prepare(colOffsets + m0, wxMid, m1 - m0, limit, layout);
        auto filter = [&](int sourceRow, int v) {
            float* out = slot[v];
            if (replicate) sourceRow = clampInt(sourceRow, 0, pl.srcH - 1);
            for (int u = 0; u < taps; ++u)
                if (held[u] == sourceRow) {
                    std::memcpy(out, slot[u], static_cast<size_t>(n) * sizeof(float));
                    held[v] = sourceRow;
                    return;
                }
            held[v] = sourceRow;
            const uint8_t* srow = pl.origin + sourceRow * pl.srcStep;
            // The strip reads a short piece of each source row, which the
            // hardware's streams do not follow from row to row: fetch the
            // piece of a row a few rows ahead.
            if (m1 > m0) {
                const int ahead = clampInt(sourceRow + kPrefetchRows, 0, pl.srcH - 1);
                const uint8_t* next = pl.origin + ahead * pl.srcStep;
                for (int32_t o = firstByte; o <= lastByte; o += 64)
                    _mm_prefetch(reinterpret_cast<const char*>(next + o), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(next + lastByte), _MM_HINT_T0);
            }
            if (l1 > s0) border(p, pl, srow, pl.x + s0, l1 - s0, out);
            if (usePrepared)
                prepared.run(srow, layout, colOffsets + m0, wxMid, m1 - m0, out + (m0 - s0) * Ch);
            else if (m1 > m0)
                rowPass(srow, colOffsets + m0, wxMid, m1 - m0, out + (m0 - s0) * Ch);
            if (s1 > r0) border(p, pl, srow, pl.x + r0, s1 - r0, out + (r0 - s0) * Ch);
        };

        // slot[v] holds source row prev - (a - 1) + v; start one row early so
        // that the first destination row loads exactly one row.
        int prev = p.vertical.index[pl.y] - 1;
        for (int v = 1; v < taps; ++v) filter(prev - (a - 1) + v, v);
        for (int r = pl.y; r < pl.y + pl.h; ++r) {
            const int ky = p.vertical.index[r];
            const int delta = ky - prev;
            if (delta >= taps) {
                for (int v = 0; v < taps; ++v) held[v] = INT32_MIN;
                for (int v = 0; v < taps; ++v) filter(ky - (a - 1) + v, v);
            } else if (delta > 0) {
                for (int d = 0; d < delta; ++d) {
                    float* oldest = slot[0];
                    for (int v = 0; v + 1 < taps; ++v) {
                        slot[v] = slot[v + 1];
                        held[v] = held[v + 1];
                    }
                    slot[taps - 1] = oldest;
                    held[taps - 1] = INT32_MIN;
                }
                for (int v = taps - delta; v < taps; ++v) filter(ky - (a - 1) + v, v);
            }
            prev = ky;
            const float* wy = p.vertical.weights + static_cast<size_t>(taps) * r;
            uint8_t* out = pl.dst + (r - pl.y) * pl.dstStep + s0 * Ch;
            if (colPair && r + 1 < pl.y + pl.h && p.vertical.index[r + 1] == ky) {
                colPair(slot, wy, wy + taps, n, out, out + pl.dstStep);
                ++r;
            } else {
                colPass(slot, wy, n, out);
            }
        }
    }
}

using AreaPass = void (*)(const ResizeKernels& k, const PlanHeader& p, const Plane& pl, const int32_t* colOffsets,
                         float* ring, bool replicate, int left, int right);

void ownResize1Lanczos2_8u(const ResizeKernels& k, const PlanHeader& p, const Plane& pl, const int32_t* colOffsets,
                           float* ring, bool replicate, int left, int right) {
    resizeArea<1, 2>(k, p, pl, colOffsets, ring, replicate, left, right);
}
void ownResize1Lanczos3_8u(const ResizeKernels& k, const PlanHeader& p, const Plane& pl, const int32_t* colOffsets,
                           float* ring, bool replicate, int left, int right) {
    resizeArea<1, 3>(k, p, pl, colOffsets, ring, replicate, left, right);
}
void ownResize2Lanczos2_8u(const ResizeKernels& k, const PlanHeader& p, const Plane& pl, const int32_t* colOffsets,
                           float* ring, bool replicate, int left, int right) {
    resizeArea<2, 2>(k, p, pl, colOffsets, ring, replicate, left, right);
}
void ownResize2Lanczos3_8u(const ResizeKernels& k, const PlanHeader& p, const Plane& pl, const int32_t* colOffsets,
                           float* ring, bool replicate, int left, int right) {
    resizeArea<2, 3>(k, p, pl, colOffsets, ring, replicate, left, right);
}

// One plane: offsets into the work buffer, then the border bands and the
// interior. The luma and chroma drivers differ only in their channels.
void planeDriver(const ResizeKernels& k, const PlanHeader& p, const Plane& pl, ippiEdgeMode border, uint8_t* buffer) {
    const int a = static_cast<int>(p.lobes);
    const AreaPass area = pl.ch == 1 ? (a == 2 ? ownResize1Lanczos2_8u : ownResize1Lanczos3_8u)
                                     : (a == 2 ? ownResize2Lanczos2_8u : ownResize2Lanczos3_8u);
    // Offsets first (4-byte aligned: the caller's buffer has any alignment).
    int32_t* colOffsets = reinterpret_cast<int32_t*>(alignUp(reinterpret_cast<uintptr_t>(buffer), 4));
    int32_t* rowOffsets = colOffsets + pl.w;
    for (int j = 0; j < pl.w; ++j) colOffsets[j] = p.horizontal.index[pl.x + j] * pl.ch;
    for (int i = 0; i < pl.h; ++i) rowOffsets[i] = static_cast<int32_t>(p.vertical.index[pl.y + i] * pl.srcStep);
    float* ring = reinterpret_cast<float*>(alignUp(reinterpret_cast<uintptr_t>(rowOffsets + pl.h), 32));

    if (border == ippiEdgeInMemory) {
        area(k, p, pl, colOffsets, ring, false, 0, 0);
        return;
    }
    int left = clampInt(static_cast<int>(p.horizontal.leading) - pl.x, 0, pl.w);
    int right = clampInt(static_cast<int>(p.horizontal.trailing) - (pl.dstW - pl.x - pl.w), 0, pl.w);
    // The chroma plane reuses the luma counts, which were decided in double
    // precision on the full-size axis; widen a band where the index table says
    // a tap of the variant's loop would still leave the half-size source.
    const int32_t* ih = p.horizontal.index;
    while (left + right < pl.w && ih[pl.x + left] - (a - 1) < 0) ++left;
    while (left + right < pl.w && ih[pl.x + pl.w - 1 - right] + a > pl.srcW - 1) ++right;
    if (left + right > pl.w) right = pl.w - left;
    area(k, p, pl, colOffsets, ring, true, left, right);
}

void ownResizeYUV420Lanczos_8u_P2R0(const ResizeKernels& k, const PlanHeader& p, const Plane& luma,
                                    ippiEdgeMode border, uint8_t* buffer) {
    planeDriver(k, p, luma, border, buffer);
}

void ownResizeYUV420Lanczos_8u_P2R1(const ResizeKernels& k, const PlanHeader& p, const Plane& chroma,
                                    ippiEdgeMode border, uint8_t* buffer) {
    planeDriver(k, p, chroma, border, buffer);
}

}  // namespace

ippResult resizeYUV420(const ResizeKernels& kernels, const uint8_t* pSrcY, int32_t srcYStep, const uint8_t* pSrcUV,
                       int32_t srcUVStep, uint8_t* pDstY, int32_t dstYStep, uint8_t* pDstUV, int32_t dstUVStep,
                       ippiPlaneOffset dstOffset, ippiPlaneSize dstSize, ippiEdgeMode border,
                       const ippiLanczosPlan* pPlan, uint8_t* pBuffer) {
    if (dstSize.width == 0 || dstSize.height == 0) return ippStsNoOperation;
    if (dstSize.width < 2 || dstSize.height < 2) return ippStsSizeErr;
    if (!pSrcY || !pSrcUV || !pDstY || !pDstUV || !pPlan || !pBuffer) return ippStsNullPtrErr;
    const PlanHeader& p = *planHeader(pPlan);
    if (p.check != kPlanCheckWord) return ippStsPlanErr;
    const int64_t planW = p.horizontal.dstLen, planH = p.vertical.dstLen;
    if (dstOffset.x < 0 || dstOffset.y < 0 || dstOffset.x >= planW || dstOffset.y >= planH) return ippStsOffsetErr;
    if ((dstOffset.x & 1) || (dstOffset.y & 1)) return ippStsOddOffsetErr;
    if (border & 0xffffff08u) return ippStsBorderErr;
    if (border != ippiEdgeReplicate && border != ippiEdgeInMemory) return ippStsNotSupportedModeErr;
    // A damaged plan must not size the ring beyond its six rows.
    if (p.lobes != 2 && p.lobes != 3) return ippStsNotSupportedModeErr;

    const int32_t x = dstOffset.x, y = dstOffset.y;
    int64_t w = dstSize.width, h = dstSize.height;
    if (x + w > planW) w = planW - x;
    if (y + h > planH) h = planH - y;
    w &= ~int64_t{1};
    h &= ~int64_t{1};

    const double rx = static_cast<double>(p.horizontal.srcReduced) / p.horizontal.dstReduced;
    const double ry = static_cast<double>(p.vertical.srcReduced) / p.vertical.dstReduced;
    const int64_t lx = static_cast<int64_t>(std::floor(rx * x)) & ~int64_t{1};
    const int64_t ly = static_cast<int64_t>(std::floor(ry * y)) & ~int64_t{1};
    const int64_t cx = static_cast<int64_t>(std::floor(rx * (x / 2)));
    const int64_t cy = static_cast<int64_t>(std::floor(ry * (y / 2)));

    const Plane luma{pSrcY - (ly * srcYStep + lx),
                     srcYStep,
                     static_cast<int32_t>(p.horizontal.srcLen),
                     static_cast<int32_t>(p.vertical.srcLen),
                     pDstY,
                     dstYStep,
                     x,
                     y,
                     static_cast<int32_t>(w),
                     static_cast<int32_t>(h),
                     static_cast<int32_t>(planW),
                     static_cast<int32_t>(planH),
                     1};
    const Plane chroma{pSrcUV - (cy * srcUVStep + 2 * cx),
                       srcUVStep,
                       static_cast<int32_t>(p.horizontal.srcLen / 2),
                       static_cast<int32_t>(p.vertical.srcLen / 2),
                       pDstUV,
                       dstUVStep,
                       x / 2,
                       y / 2,
                       static_cast<int32_t>(w / 2),
                       static_cast<int32_t>(h / 2),
                       static_cast<int32_t>(planW / 2),
                       static_cast<int32_t>(planH / 2),
                       2};
    ownResizeYUV420Lanczos_8u_P2R0(kernels, p, luma, border, pBuffer);
    ownResizeYUV420Lanczos_8u_P2R1(kernels, p, chroma, border, pBuffer);

    if ((dstSize.width & 1) || (dstSize.height & 1) || dstSize.width > planW || dstSize.height > planH)
        return ippStsSizeWarning;
    return ippStsNoErr;
}

}  // namespace klmf_resize
