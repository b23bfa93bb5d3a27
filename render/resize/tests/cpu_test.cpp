// Feature mask, forced variants and the processor and floating-point helpers,
// checked against the compiler's own processor detection.
#include <cpuid.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "klmf_ipp.h"

namespace {

TEST(ResizeCpu, FeatureMaskMatchesTheCompilersDetection) {
    __builtin_cpu_init();
    uint64_t m = 0;
    ASSERT_EQ(ippGetCpuFeatures(&m, nullptr), 0);
    const struct {
        uint64_t bit;
        bool has;
        const char* name;
    } rows[] = {
        {0x1, static_cast<bool>(__builtin_cpu_supports("mmx")), "mmx"},
        {0x2, static_cast<bool>(__builtin_cpu_supports("sse")), "sse"},
        {0x4, static_cast<bool>(__builtin_cpu_supports("sse2")), "sse2"},
        {0x8, static_cast<bool>(__builtin_cpu_supports("sse3")), "sse3"},
        {0x10, static_cast<bool>(__builtin_cpu_supports("ssse3")), "ssse3"},
        {0x40, static_cast<bool>(__builtin_cpu_supports("sse4.1")), "sse4.1"},
        {0x80, static_cast<bool>(__builtin_cpu_supports("sse4.2")), "sse4.2"},
        {0x200, static_cast<bool>(__builtin_cpu_supports("avx")), "os-avx"},
        {0x8000,
         __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
             __builtin_cpu_supports("fma"),
         "avx2+bmi+bmi2+fma"},
    };
    for (const auto& r : rows) EXPECT_EQ((m & r.bit) != 0, r.has) << r.name;
    EXPECT_EQ(ipp_is_sse41_extension(), __builtin_cpu_supports("sse4.1") ? 1 : 0);
    EXPECT_EQ(ipp_is_sse42_extension(), __builtin_cpu_supports("sse4.2") ? 1 : 0);
    EXPECT_EQ(ipp_is_mni_extension(), __builtin_cpu_supports("ssse3") ? 1 : 0);
    EXPECT_EQ(ipp_is_avx_extension(), __builtin_cpu_supports("avx") ? 1 : 0);
    EXPECT_EQ(ipp_is_reference_vendor(), __builtin_cpu_is("intel") ? 1 : 0);
    EXPECT_EQ(ipp_has_cpuid(), 1);
    EXPECT_EQ(ipp_is_em64t_extension(), 1);
    EXPECT_GE(ipp_max_cpuid_input(), 1u);
    EXPECT_GE(ipp_get_cores_on_die(), 1u);
    const uint64_t t0 = ipp_get_pentium_counter();
    EXPECT_GT(ipp_get_pentium_counter(), t0);
}

TEST(ResizeCpu, GetCpuFeaturesRegisterWords) {
    EXPECT_EQ(ippGetCpuFeatures(nullptr, nullptr), -8);
    uint64_t m = 0;
    uint32_t regs[4] = {};
    ASSERT_EQ(ippGetCpuFeatures(&m, regs), 0);
    unsigned a, b, c, d;
    __cpuid(1, a, b, c, d);
    EXPECT_EQ(regs[0], a);
    EXPECT_EQ(regs[2], c);
    EXPECT_EQ(regs[3], d);
    // The marker word asks for the leaf and subleaf that the caller put in words 0 and 2.
    m = 0x616f666e69746567ULL;
    uint32_t vendor[4] = {0, 0, 0, 0};
    ASSERT_EQ(ippGetCpuFeatures(&m, vendor), 0);
    __cpuid(0, a, b, c, d);
    EXPECT_EQ(vendor[1], b);
    EXPECT_EQ(vendor[3], d);
    EXPECT_NE(m, 0x616f666e69746567ULL);
}

struct ForcedCase {
    uint32_t code;
    ippResult result;
    int index;      // -1: unchanged
    uint64_t mask;  // enabled mask afterwards (when the index changes)
};

TEST(ResizeCpu, InitCpuCodes) {
    const ForcedCase cases[] = {
        {0, 0, 0, 0x7},     {96, 0, 0, 0x7},    {32, 0, 1, 0xf},     {66, 0, 1, 0xf},   {33, 0, 2, 0x1f},
        {34, 0, 2, 0x1f},   {67, 0, 2, 0x1f},   {36, 0, 3, 0x3f},    {35, 0, 4, 0x5f},  {68, 0, 4, 0x5f},
        {37, 0, 4, 0xdf},   {69, 0, 4, 0xdf},   {38, 0, 4, 0xcdf},   {71, 0, 4, 0xcdf}, {70, 0, 5, 0xfdf},
        {73, 0, 5, 0x6fdf}, {74, 0, 6, 0xefff}, {75, 0, 6, 0x7efff}, {1, 36, -1, 0},    {11, 36, -1, 0},
        {64, 36, -1, 0},    {65, 36, -1, 0},    {12, 21, -1, 0},     {72, 21, -1, 0},   {200, 21, -1, 0},
    };
    for (const auto& c : cases) {
        ippInitCpu(38);
        const int before = ippJumpIndexForMergedLibs;
        const uint64_t maskBefore = ippGetEnabledCpuFeatures();
        EXPECT_EQ(ippInitCpu(c.code), c.result) << c.code;
        if (c.index < 0) {
            EXPECT_EQ(ippJumpIndexForMergedLibs, before) << c.code;
            EXPECT_EQ(ippGetEnabledCpuFeatures(), maskBefore) << c.code;
        } else {
            EXPECT_EQ(ippJumpIndexForMergedLibs, c.index) << c.code;
            EXPECT_EQ(ippGetEnabledCpuFeatures(), c.mask) << c.code;
            // The forced mask also stands in for the processor's own from now on.
            uint64_t m = 0;
            ASSERT_EQ(ippGetCpuFeatures(&m, nullptr), 0);
            EXPECT_EQ(m, c.mask) << c.code;
            EXPECT_EQ(ownGetFeature(c.mask), 1);
        }
    }
    // ippInit now chooses from the forced mask: SSE4.1 without AVX.
    ippInitCpu(38);
    ippInit();
    EXPECT_EQ(ippJumpIndexForMergedLibs, 4);
    EXPECT_EQ(ippGetEnabledCpuFeatures(), 0xcdfu);
    EXPECT_EQ(ippInitCpu(0xffffffffu), __builtin_cpu_is("intel") ? 0 : 20);
    EXPECT_EQ(ippIsCpuEnabled(12345), 1);
    EXPECT_EQ(ippEnableCpu(7), 0);
    EXPECT_EQ(ippSetCpuFeaturesMask(0x1234), 0);
    EXPECT_EQ(ippGetEnabledCpuFeatures(), 0x1234u);
    EXPECT_EQ(ownGetFeature(0x1034), 1);
    EXPECT_EQ(ownGetFeature(0x1), 0);
}

TEST(ResizeCpu, MaxCacheSize) {
    EXPECT_EQ(ippGetMaxCacheSizeB(nullptr), -8);
    int32_t size = -1;
    const ippResult st = ippGetMaxCacheSizeB(&size);
    if (!__builtin_cpu_is("intel")) {
        EXPECT_EQ(st, 36);
        EXPECT_EQ(size, 0);
    } else {
        EXPECT_EQ(st, 0);
        EXPECT_GE(size, 128 * 1024);
    }
    int32_t again = -1;
    EXPECT_EQ(ippGetMaxCacheSizeB(&again), st);
    EXPECT_EQ(again, size);
}

TEST(ResizeCpu, FloatingPointControl) {
    const uint32_t mxcsr = ps_get_ssx();
    EXPECT_EQ(mxcsr & 0xffc0, 0x1f80u);  // masked exceptions, round to nearest
    EXPECT_EQ(ipp_set_rc_ssx(0x6000), mxcsr);
    EXPECT_EQ(ps_get_ssx() & 0x6000, 0x6000u);
    EXPECT_EQ(ps_set_ssx(0, 0x6000) & 0x6000, 0x6000u);
    EXPECT_EQ(ps_get_ssx() & 0x6000, 0u);
    ipp_set_cw_ssx(mxcsr | 0x8000);
    EXPECT_EQ(ipp_clear_ssx(), mxcsr | 0x8000);
    EXPECT_EQ(ps_get_ssx(), 0x1f80u);
    ipp_set_cw_ssx(mxcsr);

    const uint32_t cw = ps_get_cw_fpu();
    EXPECT_EQ(cw & 0x1f3f, 0x033fu);  // all masked, 64-bit precision, nearest
    // Abstract word: all exceptions masked (0x1f and denormal 0x80000), nearest, 64-bit.
    EXPECT_EQ(ipp_control87(0, 0), 0x8001fu);
    EXPECT_EQ(ipp_control87(0x10000, 0x30000), 0x9001fu);
    EXPECT_EQ(ps_get_cw_fpu() & 0x300, 0x200u);
    EXPECT_EQ(ipp_control87(0x100, 0x300), 0x9011fu);  // round down
    EXPECT_EQ(ps_get_cw_fpu() & 0xc00, 0x400u);
    EXPECT_EQ(ps_set_cw_fpu(0x300, 0xf00) & 0xf00, 0x600u);
    EXPECT_EQ(ps_get_cw_fpu() & 0xf00, 0x300u);
    EXPECT_EQ(ipp_set_rcpc_fpu(0x300, 0xf00), ps_get_cw_fpu());  // already so: unchanged
    ipp_set_cw_fpu(cw);
    EXPECT_EQ(ps_get_cw_fpu(), cw);
    ps_clear_fpu();
    EXPECT_EQ(ps_get_sw_fpu() & 0x3f, 0u);
    EXPECT_EQ(ipp_status87(), 0u);
    EXPECT_EQ(ipp_clear87(), 0u);
    EXPECT_EQ(ipp_tst_daz_ssx(), 1);  // every x86-64 processor since the first has it

    const struct {
        double v;
        int nan, finite;
    } rows[] = {{0.0, 0, 1},
                {-1.5, 0, 1},
                {std::numeric_limits<double>::denorm_min(), 0, 1},
                {std::numeric_limits<double>::infinity(), 0, 0},
                {-std::numeric_limits<double>::infinity(), 0, 0},
                {std::numeric_limits<double>::quiet_NaN(), 1, 0}};
    for (const auto& r : rows) {
        EXPECT_EQ(ipp_isnan(r.v), r.nan) << r.v;
        EXPECT_EQ(ipp_finite(r.v), r.finite) << r.v;
    }
}

TEST(ResizeCpu, IdentRecord) {
    uint32_t rec[23];
    rec[8] = 0xdeadbeef;
    unsigned a, b, c, d;
    __cpuid(2, a, b, c, d);
    EXPECT_EQ(ipp_get_pentium_ident(rec), a);
    __cpuid(1, a, b, c, d);
    EXPECT_EQ(rec[0], (a >> 8) & 0xf);
    EXPECT_EQ(rec[1], a & 0xf);
    EXPECT_EQ(rec[4], d);
    EXPECT_EQ(rec[8], 0xdeadbeefu);
    EXPECT_EQ(rec[10], 1u);  // SSE2
    EXPECT_EQ(rec[13], 1u);  // 64-bit
    EXPECT_EQ(rec[16], __builtin_cpu_supports("sse4.1") ? 1u : 0u);
}

}  // namespace
