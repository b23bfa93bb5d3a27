#include "resize_driver.h"
#include "variants.h"

namespace klmf_resize {

ippResult y8_ippiResizeYUV420Lanczos_8u_P2R(const uint8_t* pSrcY, int32_t srcYStep, const uint8_t* pSrcUV,
                                            int32_t srcUVStep, uint8_t* pDstY, int32_t dstYStep, uint8_t* pDstUV,
                                            int32_t dstUVStep, ippiPlaneOffset dstOffset, ippiPlaneSize dstSize,
                                            ippiEdgeMode border, const uint8_t*, const ippiLanczosPlan* pPlan,
                                            uint8_t* pBuffer) {
    return resizeYUV420(kGenericKernels, pSrcY, srcYStep, pSrcUV, srcUVStep, pDstY, dstYStep, pDstUV, dstUVStep,
                        dstOffset, dstSize, border, pPlan, pBuffer);
}

}  // namespace klmf_resize
