// The resize call shared by every variant: checks, area, border bands and
// the ring-buffered interior. Variants differ only in their row and column
// passes, which the hot loops run.
#pragma once

#include <cstdint>

#include "klmf_ipp.h"

namespace klmf_resize {

// The 4-tap passes (2 lobes) carry the names of the cubic passes of the same
// shape. Horizontal pass over one source row. src addresses column 0 of the row;
// cols[j] is the byte offset of position j's centre tap k (one channel: k,
// two channels: 2k); wx holds 2a weights per position. One channel writes
// out[j], two channels out[2j] and out[2j + 1].
using RowPass = void (*)(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out);
// Vertical pass: rows[0 .. 2a-1] in source-row order, wy their 2a weights;
// n floats become n bytes (rounded to nearest-even, clamped to 0..255).
using ColPass = void (*)(const float* const* rows, const float* wy, int n, uint8_t* dst);

// Two destination rows over the same source rows (enlargements): each row
// gets exactly the bytes of its own ColPass; the ring is read once.
using ColPass2 = void (*)(const float* const* rows, const float* wy0, const float* wy1, int n, uint8_t* dst0,
                          uint8_t* dst1);

// Prepared horizontal pass: `prepare` lays out the taps and weights of n
// positions once per call and strip (any form the variant likes, at most
// kPreparedBytesPerFloat bytes per output float) so that the pass over each
// source row only loads them. limit is the last source byte (relative to
// column 0) that a tap of the whole row reads: no load may reach past it.
// The prepared pass writes exactly the floats of the plain one.
constexpr int kPreparedBytesPerFloat = 56;
// Floats of a ring row per strip of the area: the ring rows and the prepared
// taps of one strip stay close to the core while every destination row of
// the strip is made, yet a strip is long enough that the per-row set-up of
// the passes is small beside their work (768 measured best: a 1080p/2160p
// row is five strips). The layout of a strip takes at most
// kPreparedBytesPerFloat * kStripFloats + 64 bytes.
constexpr int kStripFloats = 768;
using RowPrepare = void (*)(const int32_t* cols, const float* wx, int n, int32_t limit, void* prepared);
using RowPrepared = void (*)(const uint8_t* src, const void* prepared, const int32_t* cols, const float* wx, int n,
                             float* out);

struct RowPreparedPass {
    RowPrepare prepare;  // null: the plain pass is used
    RowPrepared run;
};

struct ResizeKernels {
    RowPass ownRow1Cubic8u;
    RowPass ownRow1Lanczos3_8u;
    RowPass ownRow2Lanczos2_8u;
    RowPass ownRow2Lanczos3_8u;
    ColPass ownColCubic8u;
    ColPass ownColLanczos3_8u;
    ColPass2 colPairLanczos2;  // may be null: two ColPass calls instead
    ColPass2 colPairLanczos3;
    RowPreparedPass row1Lanczos2Prepared;  // may be null
    RowPreparedPass row1Lanczos3Prepared;
    RowPreparedPass row2Lanczos2Prepared;
    RowPreparedPass row2Lanczos3Prepared;
};

extern const ResizeKernels kGenericKernels;

ippResult resizeYUV420(const ResizeKernels& kernels, const uint8_t* pSrcY, int32_t srcYStep, const uint8_t* pSrcUV,
                       int32_t srcUVStep, uint8_t* pDstY, int32_t dstYStep, uint8_t* pDstUV, int32_t dstUVStep,
                       ippiPlaneOffset dstOffset, ippiPlaneSize dstSize, ippiEdgeMode border,
                       const ippiLanczosPlan* pPlan, uint8_t* pBuffer);

}  // namespace klmf_resize
