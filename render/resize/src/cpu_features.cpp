// Processor features from CPUID/XGETBV, the variant choice of ippInit and
// the small processor queries.
//
// Feature mask bits: 0 MMX, 1 SSE, 2 SSE2, 3 SSE3, 4 SSSE3, 5 MOVBE,
// 6 SSE4.1, 7 SSE4.2, 8 AVX, 9 OS-AVX (OSXSAVE and XCR0 bits 1, 2), 10 AES,
// 11 PCLMULQDQ, 12 leaf 0x20000001 EDX bit 1 (family 0xb only), 13 RDRAND,
// 14 F16C, 15 AVX2 with BMI1, BMI2 and FMA, 16 ADX, 17 RDSEED, 18 PREFETCHW,
// 31 family/model 0xb1.
#include <cpuid.h>
#include <x86intrin.h>

#include "klmf_ipp.h"

namespace {

// Process-wide words without locks: ippInit runs before worker threads.
uint64_t ownFeaturesMask = 0x7;
bool featureCacheValid = false;
uint64_t featureCache = 0;
ippResult cacheSizeStatus = 1;  // 1: not computed yet
int32_t cacheSizeValue = 0;

struct CacheDescriptor {
    uint32_t descriptor;
    uint32_t bytes;
};

constexpr uint32_t KiB = 1024, MiB = 1024 * 1024;

// Leaf-2 cache descriptors of 128 KiB to 24 MiB, largest first.
constexpr CacheDescriptor tableCache[] = {{0xec, 24 * MiB},  {0xeb, 18 * MiB},   {0x4d, 16 * MiB},  {0xea, 12 * MiB},
                                          {0x4c, 12 * MiB},  {0x47, 8 * MiB},    {0x4b, 8 * MiB},   {0xe4, 8 * MiB},
                                          {0x4a, 6 * MiB},   {0x4e, 6 * MiB},    {0xde, 6 * MiB},   {0x29, 4 * MiB},
                                          {0x46, 4 * MiB},   {0x49, 4 * MiB},    {0xd8, 4 * MiB},   {0xe3, 4 * MiB},
                                          {0x48, 3 * MiB},   {0xdd, 3 * MiB},    {0x25, 2 * MiB},   {0x45, 2 * MiB},
                                          {0x7d, 2 * MiB},   {0x85, 2 * MiB},    {0xd2, 2 * MiB},   {0xd7, 2 * MiB},
                                          {0xe2, 2 * MiB},   {0xdc, 1536 * KiB}, {0x23, 1 * MiB},   {0x24, 1 * MiB},
                                          {0x44, 1 * MiB},   {0x78, 1 * MiB},    {0x7c, 1 * MiB},   {0x84, 1 * MiB},
                                          {0x87, 1 * MiB},   {0xd1, 1 * MiB},    {0xd6, 1 * MiB},   {0x22, 512 * KiB},
                                          {0x3e, 512 * KiB}, {0x43, 512 * KiB},  {0x7b, 512 * KiB}, {0x7f, 512 * KiB},
                                          {0x80, 512 * KiB}, {0x83, 512 * KiB},  {0x86, 512 * KiB}, {0xd0, 512 * KiB},
                                          {0x3d, 384 * KiB}, {0x21, 256 * KiB},  {0x3c, 256 * KiB}, {0x42, 256 * KiB},
                                          {0x7a, 256 * KiB}, {0x82, 256 * KiB},  {0x3a, 192 * KiB}, {0x79, 128 * KiB},
                                          {0x39, 128 * KiB}, {0x3b, 128 * KiB},  {0x41, 128 * KiB}, {0, 0}};
static_assert(sizeof tableCache / sizeof tableCache[0] == 56, "55 descriptors and the end pair");

inline bool bit(uint32_t v, int n) { return (v >> n) & 1u; }

uint32_t cpuid(uint32_t leaf, int reg, uint32_t subleaf = 0) {
    uint32_t r[4];
    ownGetReg(r, leaf, subleaf);
    return r[reg];
}
enum { EAX, EBX, ECX, EDX };

uint64_t xgetbv0() {
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

bool osAvx(uint32_t ecx1) {
    if (!bit(ecx1, 27) || !bit(ecx1, 28)) return false;
    return (xgetbv0() & 0x6) == 0x6;
}

uint64_t computeFeatures() {
    const uint32_t maxStd = cpuid(0, EAX);
    const uint32_t maxExt = cpuid(0x80000000u, EAX);
    uint32_t r[4];
    ownGetReg(r, 1, 0);
    const uint32_t eax = r[EAX], ecx = r[ECX], edx = r[EDX];
    uint64_t m = 0;
    if (bit(edx, 23)) m |= 0x1;
    if (bit(edx, 25)) m |= 0x2;
    if (bit(edx, 26)) m |= 0x4;
    if (bit(ecx, 0)) m |= 0x8;
    if (bit(ecx, 9)) m |= 0x10;
    if (bit(ecx, 22)) m |= 0x20;
    if (bit(ecx, 19)) m |= 0x40;
    if (bit(ecx, 20)) m |= 0x80;
    if (bit(ecx, 28)) m |= 0x100;
    if (osAvx(ecx)) m |= 0x200;
    if (bit(ecx, 25)) m |= 0x400;
    if (bit(ecx, 1)) m |= 0x800;
    if ((eax & 0xf00) == 0xb00 && bit(cpuid(0x20000001u, EDX), 1)) m |= 0x1000;
    if (bit(ecx, 30)) m |= 0x2000;
    if (bit(ecx, 29)) m |= 0x4000;
    if (maxStd >= 7) {
        const uint32_t ebx7 = cpuid(7, EBX);
        if (bit(ebx7, 5) && bit(ebx7, 3) && bit(ebx7, 8) && bit(ecx, 12)) m |= 0x8000;
        if (bit(ebx7, 19)) m |= 0x10000;
        if (bit(ebx7, 18)) m |= 0x20000;
    }
    if (maxExt >= 0x80000001u && bit(cpuid(0x80000001u, ECX), 8)) m |= 0x40000;
    if ((eax & 0xff0) == 0xb10) m |= 0x80000000u;
    return m;
}

int32_t leaf4LargestCache() {
    int64_t best = 0;
    for (uint32_t sub = 0; sub < 32; ++sub) {
        uint32_t r[4];
        ownGetReg(r, 4, sub);
        const uint32_t type = r[EAX] & 0x1f;
        if (type == 0) break;
        if (type == 2) continue;
        const int64_t ways = ((r[EBX] >> 22) & 0x3ff) + 1;
        const int64_t parts = ((r[EBX] >> 12) & 0x3ff) + 1;
        const int64_t line = (r[EBX] & 0xfff) + 1;
        const int64_t sets = static_cast<int64_t>(r[ECX]) + 1;
        const int64_t size = ways * parts * line * sets;
        if (size > best) best = size;
    }
    return best > INT32_MAX ? INT32_MAX : static_cast<int32_t>(best);
}

void setVariant(int32_t index, uint64_t mask) {
    ippJumpIndexForMergedLibs = index;
    ippSetCpuFeaturesMask(mask);
}

}  // namespace

extern "C" {

KLMF_IPP_API void ownGetReg(uint32_t regs[4], uint32_t leaf, uint32_t subleaf) {
    uint32_t a, b, c, d;
    __cpuid_count(leaf, subleaf, a, b, c, d);
    regs[0] = a;
    regs[1] = b;
    regs[2] = c;
    regs[3] = d;
}

KLMF_IPP_API int ownGetMaskFeatures(uint64_t* pMask) {
    if (!featureCacheValid) {
        featureCache = computeFeatures();
        featureCacheValid = true;
    }
    if (pMask) *pMask = featureCache;
    return 1;
}

KLMF_IPP_API int ownGetFeature(uint64_t feature) { return (ownFeaturesMask & feature) == feature ? 1 : 0; }

KLMF_IPP_API int ownSetFeatureMask(uint64_t mask) {
    ownFeaturesMask = mask;
    return 1;
}

KLMF_IPP_API void ownMaskIsFeatures(void) {
    featureCache = ownFeaturesMask;
    featureCacheValid = true;
}

KLMF_IPP_API ippResult ippGetCpuFeatures(uint64_t* pFeaturesMask, uint32_t pRegs[4]) {
    uint64_t mask = 0;
    if (!ownGetMaskFeatures(&mask)) return ippStsNoCpuInfo;
    if (!pFeaturesMask) return ippStsNullPtrErr;
    const uint64_t onEntry = *pFeaturesMask;
    *pFeaturesMask = mask;
    if (pRegs) {
        if (onEntry == 0x616f666e69746567ULL)
            ownGetReg(pRegs, pRegs[0], pRegs[2]);
        else
            ownGetReg(pRegs, 1, 0);
    }
    return ippStsNoErr;
}

KLMF_IPP_API ippResult ippSetCpuFeaturesMask(uint64_t mask) {
    ownSetFeatureMask(mask);
    return ippStsNoErr;
}

KLMF_IPP_API uint64_t ippGetEnabledCpuFeatures(void) { return ownFeaturesMask; }

KLMF_IPP_API int ippIsCpuEnabled(uint32_t) { return 1; }

KLMF_IPP_API ippResult ippEnableCpu(uint32_t) { return ippStsNoErr; }

KLMF_IPP_API ippResult ippStaticInit(void) {
    uint64_t m = 0;
    const ippResult st = ippGetCpuFeatures(&m, nullptr);
    if (st != ippStsNoErr) {
        setVariant(0, 0x7);
    } else if ((m & 0x300) == 0x300 && ippIsCpuEnabled(70)) {
        if (m & 0x8000)
            setVariant(6, m & 0x7efff);
        else
            setVariant(5, m & 0x6fdf);
    } else if (m & 0x40) {
        setVariant(4, m & 0xcdf);
    } else if ((m & 0x30) == 0x30) {
        setVariant(3, m & 0x3f);
    } else if (m & 0x10) {
        setVariant(2, m & 0x1f);
    } else if (m & 0x8) {
        setVariant(1, m & 0xf);
    } else {
        setVariant(0, m & 0x7);
    }
    // The vendor only decides the warning, never the variant.
    if (!ipp_has_cpuid() || !ipp_is_reference_vendor()) return ippStsNotReferenceVendor;
    return st;
}

KLMF_IPP_API ippResult ippInit(void) { return ippStaticInit(); }

KLMF_IPP_API ippResult ownippStaticInitCpu(uint32_t c) {
    int32_t index = -1;
    uint64_t mask = 0;
    switch (c) {
        case 0:
        case 96:
            index = 0;
            mask = 0x7;
            break;
        case 32:
        case 66:
            index = 1;
            mask = 0xf;
            break;
        case 33:
        case 34:
        case 67:
            index = 2;
            mask = 0x1f;
            break;
        case 36:
            index = 3;
            mask = 0x3f;
            break;
        case 35:
        case 68:
            index = 4;
            mask = 0x5f;
            break;
        case 37:
        case 69:
            index = 4;
            mask = 0xdf;
            break;
        case 38:
        case 71:
            index = 4;
            mask = 0xcdf;
            break;
        case 70:
            index = 5;
            mask = 0xfdf;
            break;
        case 73:
            index = 5;
            mask = 0x6fdf;
            break;
        case 74:
            index = 6;
            mask = 0xefff;
            break;
        case 75:
            index = 6;
            mask = 0x7efff;
            break;
        case 0xffffffffu:
            return ippInit();
        default:
            if ((c >= 1 && c <= 11) || c == 64 || c == 65) {
                ownMaskIsFeatures();
                return ippStsNoCpuInfo;
            }
            return ippStsUnknownCpu;
    }
    setVariant(index, mask);
    ownMaskIsFeatures();
    return ippStsNoErr;
}

KLMF_IPP_API ippResult ippInitCpu(uint32_t cpuCode) { return ownippStaticInitCpu(cpuCode); }

KLMF_IPP_API int32_t ownGetCacheSize(void) {
    uint32_t r[4];
    ownGetReg(r, 2, 0);
    if ((r[EAX] & 0xff) != 1) return 0;
    uint8_t bytes[15];
    int n = 0;
    for (int reg = 0; reg < 4; ++reg) {
        if (bit(r[reg], 31)) continue;
        for (int b = reg == EAX ? 1 : 0; b < 4; ++b) bytes[n++] = static_cast<uint8_t>(r[reg] >> (8 * b));
    }
    for (const CacheDescriptor* d = tableCache; d->descriptor != 0; ++d)
        for (int i = 0; i < n; ++i)
            if (bytes[i] == d->descriptor) return static_cast<int32_t>(d->bytes);
    return 0;
}

KLMF_IPP_API ippResult ippGetMaxCacheSizeB(int32_t* pSize) {
    if (!pSize) return ippStsNullPtrErr;
    if (cacheSizeStatus == 1) {
        const uint32_t maxStd = cpuid(0, EAX);
        if (!ipp_has_cpuid() || maxStd < 2 || !ipp_is_reference_vendor()) {
            cacheSizeStatus = ippStsNoCpuInfo;
            cacheSizeValue = 0;
        } else {
            const int32_t size = maxStd >= 4 ? leaf4LargestCache() : ownGetCacheSize();
            cacheSizeStatus = size > 0 ? ippStsNoErr : ippStsNoCacheSize;
            cacheSizeValue = size > 0 ? size : 0;
        }
    }
    *pSize = cacheSizeValue;
    return cacheSizeStatus;
}

KLMF_IPP_API int ipp_has_cpuid(void) { return 1; }
KLMF_IPP_API uint32_t ipp_max_cpuid_input(void) { return cpuid(0, EAX); }
KLMF_IPP_API int ipp_has_rdtsc(void) { return bit(cpuid(1, EDX), 4); }
KLMF_IPP_API int ipp_is_mmx_extension(void) { return bit(cpuid(1, EDX), 23); }
KLMF_IPP_API int ipp_is_ssx_extension(void) { return bit(cpuid(1, EDX), 25); }
KLMF_IPP_API int ipp_is_wni_extension(void) { return bit(cpuid(1, EDX), 26); }
KLMF_IPP_API int ipp_is_htt_extension(void) {
    uint32_t r[4];
    ownGetReg(r, 1, 0);
    return bit(r[EDX], 28) && ((r[EBX] >> 16) & 0xff) > 1 ? 1 : 0;
}
KLMF_IPP_API int ipp_is_pni_extension(void) { return bit(cpuid(1, ECX), 0); }
KLMF_IPP_API int ipp_is_em64t_extension(void) {
    if (cpuid(0x80000000u, EAX) < 0x80000001u) return 0;
    return bit(cpuid(0x80000001u, EDX), 29);
}
KLMF_IPP_API int ipp_is_mni_extension(void) { return bit(cpuid(1, ECX), 9); }
KLMF_IPP_API int ipp_is_sse41_extension(void) { return bit(cpuid(1, ECX), 19); }
KLMF_IPP_API int ipp_is_sse42_extension(void) { return bit(cpuid(1, ECX), 20); }
KLMF_IPP_API int ipp_is_movbe(void) { return bit(cpuid(1, ECX), 22); }
KLMF_IPP_API int ipp_is_avx_extension(void) { return osAvx(cpuid(1, ECX)) ? 1 : 0; }
KLMF_IPP_API uint32_t ipp_get_cores_on_die(void) {
    if (cpuid(0, EAX) < 4) return 1;
    return (cpuid(4, EAX, 0) >> 26) + 1;
}
KLMF_IPP_API uint64_t ipp_get_pentium_counter(void) { return __rdtsc(); }
KLMF_IPP_API int ipp_is_reference_vendor(void) {
    uint32_t r[4];
    ownGetReg(r, 0, 0);
    return r[EBX] == 0x756e6547u && r[EDX] == 0x49656e69u && r[ECX] == 0x6c65746eu ? 1 : 0;
}

KLMF_IPP_API uint32_t ipp_get_pentium_ident(uint32_t rec[23]) {
    uint32_t l1[4], l2[4];
    ownGetReg(l1, 1, 0);
    ownGetReg(l2, 2, 0);
    const uint32_t eax = l1[EAX];
    rec[0] = (eax >> 8) & 0xf;
    rec[1] = eax & 0xf;
    rec[2] = (eax >> 4) & 0xf;
    rec[3] = (eax >> 12) & 0x3;
    rec[4] = l1[EDX];
    rec[5] = l2[EAX];
    rec[6] = l2[EDX];
    rec[7] = bit(l1[EDX], 23);
    // rec[8] is reserved and left as it is.
    rec[9] = bit(l1[EDX], 25);
    rec[10] = bit(l1[EDX], 26);
    rec[11] = static_cast<uint32_t>(ipp_is_htt_extension());
    rec[12] = bit(l1[ECX], 0);
    rec[13] = static_cast<uint32_t>(ipp_is_em64t_extension());
    rec[14] = bit(l1[ECX], 9);
    rec[15] = ipp_get_cores_on_die();
    rec[16] = bit(l1[ECX], 19);
    rec[17] = bit(l1[ECX], 20);
    rec[18] = (eax >> 20) & 0xff;
    rec[19] = (eax >> 16) & 0xf;
    rec[20] = bit(l1[ECX], 22);
    rec[21] = bit(l1[ECX], 28);
    rec[22] = bit(l1[ECX], 27);
    return l2[EAX];
}

}  // extern "C"
