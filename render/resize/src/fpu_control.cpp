// x87 control/status word and MXCSR helpers.
#include <cstring>

#include "klmf_ipp.h"

namespace {

uint32_t readCw() {
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}
void writeCw(uint32_t v) {
    const uint16_t cw = static_cast<uint16_t>(v);
    __asm__ volatile("fldcw %0" : : "m"(cw));
}
uint32_t readSw() {
    uint16_t sw;
    __asm__ volatile("fnstsw %0" : "=m"(sw));
    return sw;
}
uint32_t readMxcsr() {
    uint32_t v;
    __asm__ volatile("stmxcsr %0" : "=m"(v));
    return v;
}
void writeMxcsr(uint32_t v) { __asm__ volatile("ldmxcsr %0" : : "m"(v)); }

// x87 exception bits to the abstract flags of ipp_control87/ipp_status87.
uint32_t exceptionsToAbstract(uint32_t w) {
    uint32_t a = 0;
    if (w & 0x1) a |= 0x10;
    if (w & 0x4) a |= 0x8;
    if (w & 0x8) a |= 0x4;
    if (w & 0x10) a |= 0x2;
    if (w & 0x20) a |= 0x1;
    if (w & 0x2) a |= 0x80000;
    return a;
}

uint32_t cwToAbstract(uint32_t cw) {
    uint32_t a = exceptionsToAbstract(cw);
    a |= (cw & 0xc00) >> 2;
    switch (cw & 0x300) {
        case 0x000:
            a |= 0x20000;
            break;
        case 0x200:
            a |= 0x10000;
            break;
        default:
            break;
    }
    if (cw & 0x1000) a |= 0x40000;
    return a;
}

uint32_t abstractToCw(uint32_t a) {
    uint32_t cw = 0;
    if (a & 0x10) cw |= 0x1;
    if (a & 0x8) cw |= 0x4;
    if (a & 0x4) cw |= 0x8;
    if (a & 0x2) cw |= 0x10;
    if (a & 0x1) cw |= 0x20;
    if (a & 0x80000) cw |= 0x2;
    cw |= (a & 0x300) << 2;
    const uint32_t pc = a & 0x30000;
    cw |= pc == 0 ? 0x300 : (pc == 0x10000 ? 0x200 : 0);
    if (a & 0x40000) cw |= 0x1000;
    return cw;
}

}  // namespace

extern "C" {

KLMF_IPP_API uint32_t ps_get_cw_fpu(void) { return readCw(); }

KLMF_IPP_API uint32_t ps_set_cw_fpu(uint32_t value, uint32_t mask) {
    const uint32_t prev = readCw();
    writeCw((prev & ~mask) | (value & mask));
    return prev;
}

KLMF_IPP_API uint32_t ps_get_sw_fpu(void) { return readSw(); }

KLMF_IPP_API uint32_t ps_clear_fpu(void) {
    const uint32_t sw = readSw();
    __asm__ volatile("fnclex");
    return sw;
}

KLMF_IPP_API uint32_t ps_get_ssx(void) { return readMxcsr(); }

KLMF_IPP_API uint32_t ps_set_ssx(uint32_t value, uint32_t mask) {
    const uint32_t prev = readMxcsr();
    writeMxcsr((prev & ~mask) | (value & mask));
    return prev;
}

KLMF_IPP_API uint32_t ipp_clear_ssx(void) {
    const uint32_t prev = readMxcsr();
    writeMxcsr(0x1f80);
    return prev;
}

KLMF_IPP_API uint32_t ipp_set_rc_ssx(uint32_t roundingBits) {
    const uint32_t prev = readMxcsr();
    if ((prev & 0x6000) != roundingBits) writeMxcsr((prev & ~0x6000u) | roundingBits);
    return prev;
}

KLMF_IPP_API void ipp_set_cw_ssx(uint32_t value) { writeMxcsr(value); }

KLMF_IPP_API int ipp_tst_daz_ssx(void) {
    alignas(16) uint8_t area[512];
    std::memset(area, 0, sizeof area);
    __asm__ volatile("fxsave %0" : "=m"(area));
    uint32_t mxcsrMask;
    std::memcpy(&mxcsrMask, area + 28, 4);
    return mxcsrMask != 0 && (mxcsrMask & 0x40) ? 1 : 0;
}

KLMF_IPP_API uint32_t ipp_set_rcpc_fpu(uint32_t value, uint32_t mask) {
    const uint32_t prev = readCw();
    if ((prev & mask) != value) writeCw((prev & ~mask) | value);
    return prev;
}

KLMF_IPP_API void ipp_set_cw_fpu(uint32_t value) { writeCw(value); }

KLMF_IPP_API int ipp_isnan(double x) {
    uint64_t b;
    std::memcpy(&b, &x, 8);
    return ((b >> 52) & 0x7ff) == 0x7ff && (b & 0xfffffffffffffULL) != 0 ? 1 : 0;
}

KLMF_IPP_API int ipp_finite(double x) {
    uint64_t b;
    std::memcpy(&b, &x, 8);
    return ((b >> 52) & 0x7ff) == 0x7ff ? 0 : 1;
}

KLMF_IPP_API uint32_t ipp_control87(uint32_t newValue, uint32_t mask) {
    const uint32_t a = cwToAbstract(readCw());
    const uint32_t r = (newValue & mask) | (a & ~mask);
    writeCw(abstractToCw(r));
    return r;
}

KLMF_IPP_API uint32_t ipp_status87(void) { return exceptionsToAbstract(readSw()); }

KLMF_IPP_API uint32_t ipp_clear87(void) {
    const uint32_t flags = exceptionsToAbstract(readSw());
    __asm__ volatile("fnclex");
    return flags;
}

}  // extern "C"
