// Layout of the resize plan at its 64-byte aligned start, shared by the
// plan builder and the resize drivers.
#pragma once

#include <cstdint>

#include "klmf_ipp.h"

namespace klmf_resize {

constexpr uint32_t kPlanCheckWord = 0x4b61738a;

struct AxisRecord {
    uint32_t srcLen;      // even-rounded
    uint32_t dstLen;      // even-rounded
    uint32_t srcReduced;  // divided by gcd(srcLen, dstLen)
    uint32_t dstReduced;
    int32_t* index;  // source position k per destination position
    float* weights;  // 2 * lobes floats per destination position
    uint32_t leading;
    uint32_t trailing;
};

struct PlanHeader {
    uint32_t check;
    uint32_t interpolation;
    uint32_t lobes;
    AxisRecord vertical;
    AxisRecord horizontal;
};

inline uintptr_t alignUp(uintptr_t v, uintptr_t a) { return (v + a - 1) & ~(a - 1); }

inline const PlanHeader* planHeader(const ippiLanczosPlan* plan) {
    return reinterpret_cast<const PlanHeader*>(alignUp(reinterpret_cast<uintptr_t>(plan), 64));
}
inline PlanHeader* planHeader(ippiLanczosPlan* plan) {
    return reinterpret_cast<PlanHeader*>(alignUp(reinterpret_cast<uintptr_t>(plan), 64));
}

}  // namespace klmf_resize
