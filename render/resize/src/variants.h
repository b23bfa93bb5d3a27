// Variant entry points behind the dispatch tables (hidden; only the plain
// names and the tables are exported).
#pragma once

#include "klmf_ipp.h"

namespace klmf_resize {

#define KLMF_DECLARE_RESIZE_VARIANT(prefix)                                                                     \
    ippResult prefix##_ippiResizeYUV420Lanczos_8u_P2R(                                                          \
        const uint8_t* pSrcY, int32_t srcYStep, const uint8_t* pSrcUV, int32_t srcUVStep, uint8_t* pDstY,       \
        int32_t dstYStep, uint8_t* pDstUV, int32_t dstUVStep, ippiPlaneOffset dstOffset, ippiPlaneSize dstSize, \
        ippiEdgeMode border, const uint8_t* pBorderValue, const ippiLanczosPlan* pPlan, uint8_t* pBuffer);

KLMF_DECLARE_RESIZE_VARIANT(mx)
KLMF_DECLARE_RESIZE_VARIANT(y8)
KLMF_DECLARE_RESIZE_VARIANT(l9)

ippResult mx_ippiResizeYUV420GetSize(ippiPlaneSize srcSize, ippiPlaneSize dstSize, ippiFilterKind interpolation,
                                     uint32_t antialiasing, int32_t* pPlanSize, int32_t* pInitBufSize);
ippResult mx_ippiResizeYUV420GetBufferSize(const ippiLanczosPlan* pPlan, ippiPlaneSize dstSize, int32_t* pBufSize);
ippResult mx_ippiResizeYUV420LanczosInit(ippiPlaneSize srcSize, ippiPlaneSize dstSize, uint32_t numLobes,
                                         ippiLanczosPlan* pPlan, uint8_t* pInitBuf);

uint8_t* mx_ippsMalloc_8u(int32_t len);
void mx_ippsFree(void* ptr);
ippResult mx_ippsCopy_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len);
ippResult mx_ippsSet_8u(uint8_t val, uint8_t* pDst, int32_t len);
ippResult mx_ippsSet_32s(int32_t val, int32_t* pDst, int32_t len);

}  // namespace klmf_resize
