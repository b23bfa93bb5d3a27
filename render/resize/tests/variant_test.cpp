// Processor variants against the generic one, and the variant ippInit picks
// on this machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "resize_fixture.h"

using namespace resize_test;

namespace {

struct Variant {
    int index;
    const char* name;
};

const Variant kVariants[] = {{4, "y8_sse41"}, {6, "l9_avx2"}};

uint64_t features() {
    uint64_t m = 0;
    EXPECT_EQ(ippGetCpuFeatures(&m, nullptr), 0);
    return m;
}

struct Case {
    int sw, sh, dw, dh;
    uint32_t lobes;
    ippiEdgeMode border;
    int ox, oy, aw, ah;
};

const Case kCases[] = {
    {64, 48, 128, 96, 2, 1, 0, 0, 128, 96},
    {64, 48, 128, 96, 3, 1, 0, 0, 128, 96},
    {128, 96, 64, 48, 2, 1, 0, 0, 64, 48},
    {150, 102, 50, 34, 3, 1, 0, 0, 50, 34},
    {90, 50, 66, 38, 2, 1, 0, 0, 66, 38},
    {50, 34, 86, 62, 3, 1, 0, 0, 86, 62},
    {8, 8, 30, 20, 2, 1, 0, 0, 30, 20},
    {12, 12, 40, 18, 3, 1, 0, 0, 40, 18},
    {320, 180, 482, 270, 2, 1, 0, 0, 482, 270},
    {322, 182, 214, 122, 3, 1, 0, 0, 214, 122},
    {64, 48, 128, 96, 2, 1, 10, 6, 82, 50},
    {150, 102, 70, 48, 3, 1, 20, 14, 42, 30},
    {64, 48, 128, 96, 2, 6, 0, 0, 128, 96},
    {64, 48, 126, 94, 3, 6, 0, 0, 126, 94},
    {128, 96, 50, 30, 3, 6, 0, 0, 50, 30},
    {64, 48, 128, 96, 2, 6, 10, 6, 82, 50},
    // Strong reductions: taps of neighbouring positions no longer share one load.
    {320, 180, 62, 34, 3, 1, 0, 0, 62, 34},
    {320, 180, 62, 34, 2, 6, 0, 0, 62, 34},
    {1920, 1080, 3840, 2160, 2, 1, 0, 0, 3840, 2160},
    {3840, 2160, 1920, 1080, 2, 1, 0, 0, 1920, 1080},
    {1920, 1080, 3840, 2160, 3, 1, 0, 0, 3840, 2160},
    {3840, 2160, 1920, 1080, 3, 1, 0, 0, 1920, 1080},
    // Odd lengths everywhere, odd requests, offsets with both borders.
    {61, 37, 91, 41, 2, 1, 0, 0, 91, 41},
    {61, 37, 91, 41, 3, 6, 0, 0, 91, 41},
    {97, 71, 45, 33, 3, 1, 0, 0, 45, 33},
    {97, 71, 45, 33, 2, 6, 0, 0, 45, 33},
    {150, 102, 70, 48, 3, 6, 20, 14, 43, 31},
    {64, 48, 130, 98, 3, 1, 34, 22, 61, 200},
    {1920, 1080, 1280, 720, 3, 1, 640, 360, 640, 360},
    {1280, 720, 1920, 1080, 2, 6, 0, 0, 1920, 1080},
};

struct Result {
    std::vector<uint8_t> y, uv;
    ippResult status;
};

Result runVariant(int index, const Case& c, const Frame& in, const Plan& plan) {
    Plane oy = makePlane(c.dw, c.dh, 1, 0, 0, true, 0xee), ouv = makePlane(c.dw / 2, c.dh / 2, 2, 0, 0, true, 0xee);
    std::vector<uint8_t> work(static_cast<size_t>(plan.bufSize));
    const int pad = in.y.pad;
    (void)pad;
    const double rx = static_cast<double>(c.sw & ~1) / (c.dw & ~1), ry = static_cast<double>(c.sh & ~1) / (c.dh & ~1);
    const int lx = static_cast<int>(rx * c.ox) & ~1, ly = static_cast<int>(ry * c.oy) & ~1;
    const int cx = static_cast<int>(rx * (c.ox / 2)), cy = static_cast<int>(ry * (c.oy / 2));
    Result r;
    r.status = ippiResizeYUV420Lanczos_8u_P2R_arraddr[index](
        in.y.origin() + ly * in.y.step + lx, in.y.step, in.uv.origin() + cy * in.uv.step + 2 * cx, in.uv.step,
        oy.origin() + c.oy * oy.step + c.ox, oy.step, ouv.origin() + (c.oy / 2) * ouv.step + c.ox, ouv.step,
        {c.ox, c.oy}, {c.aw, c.ah}, c.border, nullptr, plan.get(), work.data());
    r.y = oy.mem;
    r.uv = ouv.mem;
    return r;
}

class VariantTest : public ::testing::TestWithParam<Variant> {};

TEST_P(VariantTest, EqualsGenericByteForByte) {
    // Every variant adds the same products in the same order without
    // contraction: its bytes are the generic variant's, padding included.
    const Variant v = GetParam();
    if (!processorHas(v.index)) GTEST_SKIP() << "processor lacks " << v.name;
    for (const Case& c : kCases) {
        const int pad = c.border == 6 ? static_cast<int>(c.lobes) : 0;
        const Frame in = makeFrame(c.sw, c.sh, pad, 21);
        Plan plan({c.sw, c.sh}, {c.dw, c.dh}, c.lobes);
        ASSERT_GE(plan.status, 0);
        const Result g = runVariant(0, c, in, plan), s = runVariant(v.index, c, in, plan);
        ASSERT_EQ(g.status, s.status);
        ASSERT_EQ(g.y.size(), s.y.size());
        ASSERT_EQ(g.uv.size(), s.uv.size());
        const std::string where = std::string(v.name) + " " + std::to_string(c.sw) + "x" + std::to_string(c.sh) +
                                  " -> " + std::to_string(c.dw) + "x" + std::to_string(c.dh) + " lobes " +
                                  std::to_string(c.lobes) + " border " + std::to_string(c.border);
        const auto yd = std::mismatch(g.y.begin(), g.y.end(), s.y.begin());
        EXPECT_TRUE(yd.first == g.y.end()) << where << ": luma byte " << (yd.first - g.y.begin());
        const auto ud = std::mismatch(g.uv.begin(), g.uv.end(), s.uv.begin());
        EXPECT_TRUE(ud.first == g.uv.end()) << where << ": chroma byte " << (ud.first - g.uv.begin());
    }
}

INSTANTIATE_TEST_SUITE_P(Resize, VariantTest, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ResizeVariantChoice, InitSelectsTheVariantOfThisProcessor) {
    EXPECT_EQ(ippJumpIndexForMergedLibs, 0) << "the generic variant runs before ippInit";
    const uint64_t m = features();
    EXPECT_EQ((m & 0x40) != 0, processorHas(4));
    EXPECT_EQ((m & 0x8000) != 0, processorHas(6));
    int want = 0;
    if ((m & 0x300) == 0x300)
        want = (m & 0x8000) ? 6 : 5;
    else if (m & 0x40)
        want = 4;
    else if ((m & 0x30) == 0x30)
        want = 3;
    else if (m & 0x10)
        want = 2;
    else if (m & 0x8)
        want = 1;
    const ippResult st = ippInit();
    EXPECT_EQ(st, ipp_is_reference_vendor() ? 0 : 20);
    EXPECT_EQ(ippJumpIndexForMergedLibs, want);
    if (want >= 4) {
        EXPECT_NE(ippiResizeYUV420Lanczos_8u_P2R_arraddr[ippJumpIndexForMergedLibs],
                  ippiResizeYUV420Lanczos_8u_P2R_arraddr[0])
            << "a SIMD variant is in force";
    }
    // The dispatched name now runs the chosen variant: same bytes as calling it directly.
    const Case c = kCases[8];
    const Frame in = makeFrame(c.sw, c.sh, 0, 5);
    Plan plan({c.sw, c.sh}, {c.dw, c.dh}, c.lobes);
    const Result direct = runVariant(ippJumpIndexForMergedLibs, c, in, plan);
    Plane oy = makePlane(c.dw, c.dh, 1, 0, 0, true, 0), ouv = makePlane(c.dw / 2, c.dh / 2, 2, 0, 0, true, 0);
    std::vector<uint8_t> work(static_cast<size_t>(plan.bufSize));
    ASSERT_EQ(ippiResizeYUV420Lanczos_8u_P2R(in.y.origin(), in.y.step, in.uv.origin(), in.uv.step, oy.origin(), oy.step,
                                             ouv.origin(), ouv.step, {0, 0}, {c.dw, c.dh}, 1, nullptr, plan.get(),
                                             work.data()),
              0);
    EXPECT_EQ(oy.mem, direct.y);
    EXPECT_EQ(ouv.mem, direct.uv);
    ippInitCpu(0);
    EXPECT_EQ(ippJumpIndexForMergedLibs, 0);
}

}  // namespace
