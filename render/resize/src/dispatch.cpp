// Dispatch entries: each exported name forwards its arguments untouched to
// the variant that ippJumpIndexForMergedLibs selects. Variants that are not
// built separately point at the nearest lower one.
#include "klmf_ipp.h"
#include "variants.h"

using namespace klmf_resize;

extern "C" {

KLMF_IPP_API int32_t ippJumpIndexForMergedLibs = 0;

const ippiResizeYUV420GetSize_fn ippiResizeYUV420GetSize_arraddr[7] = {
    mx_ippiResizeYUV420GetSize, mx_ippiResizeYUV420GetSize, mx_ippiResizeYUV420GetSize, mx_ippiResizeYUV420GetSize,
    mx_ippiResizeYUV420GetSize, mx_ippiResizeYUV420GetSize, mx_ippiResizeYUV420GetSize};
const ippiResizeYUV420GetBufferSize_fn ippiResizeYUV420GetBufferSize_arraddr[7] = {
    mx_ippiResizeYUV420GetBufferSize, mx_ippiResizeYUV420GetBufferSize, mx_ippiResizeYUV420GetBufferSize,
    mx_ippiResizeYUV420GetBufferSize, mx_ippiResizeYUV420GetBufferSize, mx_ippiResizeYUV420GetBufferSize,
    mx_ippiResizeYUV420GetBufferSize};
const ippiResizeYUV420LanczosInit_fn ippiResizeYUV420LanczosInit_arraddr[7] = {
    mx_ippiResizeYUV420LanczosInit, mx_ippiResizeYUV420LanczosInit, mx_ippiResizeYUV420LanczosInit,
    mx_ippiResizeYUV420LanczosInit, mx_ippiResizeYUV420LanczosInit, mx_ippiResizeYUV420LanczosInit,
    mx_ippiResizeYUV420LanczosInit};
const ippiResizeYUV420Lanczos_8u_P2R_fn ippiResizeYUV420Lanczos_8u_P2R_arraddr[7] = {
    mx_ippiResizeYUV420Lanczos_8u_P2R, mx_ippiResizeYUV420Lanczos_8u_P2R, mx_ippiResizeYUV420Lanczos_8u_P2R,
    mx_ippiResizeYUV420Lanczos_8u_P2R, y8_ippiResizeYUV420Lanczos_8u_P2R, y8_ippiResizeYUV420Lanczos_8u_P2R,
    l9_ippiResizeYUV420Lanczos_8u_P2R};

const ippsMalloc_8u_fn ippsMalloc_8u_arraddr[7] = {mx_ippsMalloc_8u, mx_ippsMalloc_8u, mx_ippsMalloc_8u,
                                                   mx_ippsMalloc_8u, mx_ippsMalloc_8u, mx_ippsMalloc_8u,
                                                   mx_ippsMalloc_8u};
const ippsFree_fn ippsFree_arraddr[7] = {mx_ippsFree, mx_ippsFree, mx_ippsFree, mx_ippsFree,
                                         mx_ippsFree, mx_ippsFree, mx_ippsFree};
const ippsCopy_8u_fn ippsCopy_8u_arraddr[7] = {mx_ippsCopy_8u, mx_ippsCopy_8u, mx_ippsCopy_8u, mx_ippsCopy_8u,
                                               mx_ippsCopy_8u, mx_ippsCopy_8u, mx_ippsCopy_8u};
const ippsSet_8u_fn ippsSet_8u_arraddr[7] = {mx_ippsSet_8u, mx_ippsSet_8u, mx_ippsSet_8u, mx_ippsSet_8u,
                                             mx_ippsSet_8u, mx_ippsSet_8u, mx_ippsSet_8u};
const ippsSet_32s_fn ippsSet_32s_arraddr[7] = {mx_ippsSet_32s, mx_ippsSet_32s, mx_ippsSet_32s, mx_ippsSet_32s,
                                               mx_ippsSet_32s, mx_ippsSet_32s, mx_ippsSet_32s};

}  // extern "C"

namespace {
// The index is an exported, writable word: a stray value must not jump
// outside the seven-entry tables.
inline int variant() {
    const uint32_t i = static_cast<uint32_t>(ippJumpIndexForMergedLibs);
    return i < 7u ? static_cast<int>(i) : 0;
}
}  // namespace

extern "C" {

KLMF_IPP_API ippResult ippiResizeYUV420GetSize(ippiPlaneSize srcSize, ippiPlaneSize dstSize,
                                               ippiFilterKind interpolation, uint32_t antialiasing, int32_t* pPlanSize,
                                               int32_t* pInitBufSize) {
    return ippiResizeYUV420GetSize_arraddr[variant()](srcSize, dstSize, interpolation, antialiasing, pPlanSize,
                                                      pInitBufSize);
}

KLMF_IPP_API ippResult ippiResizeYUV420GetBufferSize(const ippiLanczosPlan* pPlan, ippiPlaneSize dstSize,
                                                     int32_t* pBufSize) {
    return ippiResizeYUV420GetBufferSize_arraddr[variant()](pPlan, dstSize, pBufSize);
}

KLMF_IPP_API ippResult ippiResizeYUV420LanczosInit(ippiPlaneSize srcSize, ippiPlaneSize dstSize, uint32_t numLobes,
                                                   ippiLanczosPlan* pPlan, uint8_t* pInitBuf) {
    return ippiResizeYUV420LanczosInit_arraddr[variant()](srcSize, dstSize, numLobes, pPlan, pInitBuf);
}

KLMF_IPP_API ippResult ippiResizeYUV420Lanczos_8u_P2R(const uint8_t* pSrcY, int32_t srcYStep, const uint8_t* pSrcUV,
                                                      int32_t srcUVStep, uint8_t* pDstY, int32_t dstYStep,
                                                      uint8_t* pDstUV, int32_t dstUVStep, ippiPlaneOffset dstOffset,
                                                      ippiPlaneSize dstSize, ippiEdgeMode border,
                                                      const uint8_t* pBorderValue, const ippiLanczosPlan* pPlan,
                                                      uint8_t* pBuffer) {
    return ippiResizeYUV420Lanczos_8u_P2R_arraddr[variant()](pSrcY, srcYStep, pSrcUV, srcUVStep, pDstY, dstYStep,
                                                             pDstUV, dstUVStep, dstOffset, dstSize, border,
                                                             pBorderValue, pPlan, pBuffer);
}

KLMF_IPP_API uint8_t* ippsMalloc_8u(int32_t len) { return ippsMalloc_8u_arraddr[variant()](len); }
KLMF_IPP_API void ippsFree(void* ptr) { ippsFree_arraddr[variant()](ptr); }
KLMF_IPP_API ippResult ippsCopy_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len) {
    return ippsCopy_8u_arraddr[variant()](pSrc, pDst, len);
}
KLMF_IPP_API ippResult ippsSet_8u(uint8_t val, uint8_t* pDst, int32_t len) {
    return ippsSet_8u_arraddr[variant()](val, pDst, len);
}
KLMF_IPP_API ippResult ippsSet_32s(int32_t val, int32_t* pDst, int32_t len) {
    return ippsSet_32s_arraddr[variant()](val, pDst, len);
}

}  // extern "C"
