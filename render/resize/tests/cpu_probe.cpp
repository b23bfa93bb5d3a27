// Runs ippInit and one small resize through the dispatched name, then the
// generic variant, and prints what was chosen: run under qemu-x86_64 with
// processor models by cpu_model_test.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "klmf_ipp.h"

int main() {
    const ippResult status = ippInit();
    const int index = ippJumpIndexForMergedLibs;
    const unsigned long long mask = ippGetEnabledCpuFeatures();

    const int sw = 64, sh = 48, dw = 98, dh = 74;
    std::vector<uint8_t> sy(sw * sh), suv(sw * sh / 2);
    for (size_t i = 0; i < sy.size(); ++i) sy[i] = static_cast<uint8_t>(i * 131 + (i >> 6) * 17);
    for (size_t i = 0; i < suv.size(); ++i) suv[i] = static_cast<uint8_t>(i * 71 + 5);
    int32_t planSize = 0, initSize = 0, bufSize = 0;
    ippiResizeYUV420GetSize({sw, sh}, {dw, dh}, ippiFilterLanczos, 0, &planSize, &initSize);
    uint8_t* plan = ippsMalloc_8u(planSize);
    uint8_t* init = ippsMalloc_8u(initSize);
    auto* p = reinterpret_cast<ippiLanczosPlan*>(plan);
    ippiResizeYUV420LanczosInit({sw, sh}, {dw, dh}, 2, p, init);
    ippiResizeYUV420GetBufferSize(p, {dw, dh}, &bufSize);
    uint8_t* work = ippsMalloc_8u(bufSize);
    std::vector<uint8_t> dy[2], duv[2];
    for (int pass = 0; pass < 2; ++pass) {
        dy[pass].assign(dw * dh, 0);
        duv[pass].assign(dw * dh / 2, 0);
        const auto fn = pass == 0 ? ippiResizeYUV420Lanczos_8u_P2R : ippiResizeYUV420Lanczos_8u_P2R_arraddr[0];
        fn(sy.data(), sw, suv.data(), sw, dy[pass].data(), dw, duv[pass].data(), dw, {0, 0}, {dw, dh}, 1, nullptr, p,
           work);
    }
    ippsFree(work);
    ippsFree(init);
    ippsFree(plan);
    int worst = 0;
    for (size_t i = 0; i < dy[0].size(); ++i) worst = std::max(worst, std::abs(dy[0][i] - dy[1][i]));
    for (size_t i = 0; i < duv[0].size(); ++i) worst = std::max(worst, std::abs(duv[0][i] - duv[1][i]));
    int32_t cache = -1;
    const ippResult cacheStatus = ippGetMaxCacheSizeB(&cache);
    std::printf("index=%d status=%d mask=%#llx maxdiff=%d cache=%d/%d\n", index, status, mask, worst, cacheStatus,
                cache);
    return 0;
}
