// Size queries and plan building: status tables, the size formulas and the
// positions of one axis.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "../src/plan_layout.h"
#include "klmf_ipp.h"
#include "resize_fixture.h"

namespace {

struct SizeCase {
    const char* name;
    ippiPlaneSize src, dst;
    uint32_t interp, aa;
    bool nullOut;
    ippResult want;
    int32_t planSize = -1, initSize = -1;
};

// 4 * (A32(W) + A32(H)) + 4 * (((6W + 193) & ~31) + ((6H + 193) & ~31)) + 64
const SizeCase kSizeCases[] = {
    {"null out", {1920, 1080}, {1280, 720}, 16, 0, true, -8},
    {"null out beats zero", {0, 1080}, {1280, 720}, 99, 0, true, -8},
    {"zero dst width, unknown interpolation", {1920, 1080}, {0, 720}, 99, 0, false, 1},
    {"zero src height", {1920, 0}, {1280, 720}, 16, 0, false, 1},
    {"dst width 1", {1920, 1080}, {1, 720}, 16, 0, false, -6},
    {"negative src", {-4, 1080}, {1280, 720}, 99, 0, false, -6},
    {"unknown interpolation", {1920, 1080}, {1280, 720}, 3, 0, false, -22},
    {"antialiasing", {1920, 1080}, {1280, 720}, 16, 1, false, -9999},
    {"antialiasing beats unsupported kind", {1920, 1080}, {1280, 720}, 6, 1, false, -9999},
    {"nearest", {1920, 1080}, {1280, 720}, 1, 0, false, -9999},
    {"kind 0", {1920, 1080}, {1280, 720}, 0, 0, false, -9999},
    {"kind 2", {1920, 1080}, {1280, 720}, 2, 0, false, -9999},
    {"kind 6", {1920, 1080}, {1280, 720}, 6, 0, false, -9999},
    {"lanczos src 7x100", {7, 100}, {50, 50}, 16, 0, false, -6},
    // Ws 6 W 6 -> nW 1; Hs 100 H 50 -> 2:1 -> nH 2; 7 is odd: 48
    {"super src 7x100 down", {7, 100}, {6, 50}, 8, 0, false, 48, 4 * (32 + 64) + 4 * (32 + 1 + 2 + 32) + 64, 64},
    {"super enlarging", {7, 100}, {50, 50}, 8, 0, false, -6},
    {"1080p to 720p", {1920, 1080}, {1280, 720}, 16, 0, false, 0, 57664, 8128},
    {"odd destination", {1920, 1080}, {1281, 720}, 16, 0, false, 48, 57664, 8128},
    {"odd source", {1919, 1080}, {1280, 720}, 16, 0, false, 48, 57664, 8128},
    {"plan too large", {1920, 1080}, {90000000, 2}, 16, 0, false, -6},
    {"super 3:2",
     {1920, 1080},
     {1280, 720},
     8,
     0,
     false,
     0,
     // gcd 640/360: sW 3 dW 2 -> q 1 r 1 c 1 -> nW 4; nH 4
     4 * (1280 + 736) + 4 * (32 + 4 + 4 + 32) + 64,
     64},
};

TEST(ResizePlan, GetSizeTable) {
    for (const auto& c : kSizeCases) {
        int32_t plan = -1, init = -1;
        const ippResult st = ippiResizeYUV420GetSize(c.src, c.dst, c.interp, c.aa, c.nullOut ? nullptr : &plan,
                                                     c.nullOut ? nullptr : &init);
        EXPECT_EQ(st, c.want) << c.name;
        EXPECT_EQ(plan, c.planSize) << c.name;
        EXPECT_EQ(init, c.initSize) << c.name;
    }
}

std::vector<uint8_t> block(size_t n, uint8_t fill = 0) { return std::vector<uint8_t>(n + 64, fill); }

struct InitCase {
    const char* name;
    ippiPlaneSize src, dst;
    uint32_t lobes;
    bool nullPlan, nullInit;
    ippResult want;
};

const InitCase kInitCases[] = {
    {"null plan", {0, 0}, {0, 0}, 9, true, false, -8},
    {"null init buffer", {0, 0}, {0, 0}, 9, false, true, -8},
    {"zero size", {100, 100}, {0, 10}, 9, false, false, 1},
    {"size 1", {100, 100}, {1, 10}, 9, false, false, -6},
    {"lobes 4", {100, 100}, {50, 10}, 4, false, false, -9999},
    {"lobes 3, 10x10 source", {10, 10}, {20, 20}, 3, false, false, -6},
    {"lobes 3, 11 rows", {20, 11}, {20, 20}, 3, false, false, -6},
    {"lobes 2, 10x10 source", {10, 10}, {20, 20}, 2, false, false, 0},
    {"lobes 2, 7 columns", {7, 10}, {20, 20}, 2, false, false, -6},
    {"lobes 3, 12x12", {12, 12}, {20, 20}, 3, false, false, 0},
    {"odd destination width", {1920, 1080}, {1281, 720}, 2, false, false, 48},
    {"odd source height", {1920, 1081}, {1280, 720}, 3, false, false, 48},
};

TEST(ResizePlan, LanczosInitTable) {
    for (const auto& c : kInitCases) {
        int32_t planSize = 0, initSize = 0;
        if (ippiResizeYUV420GetSize(c.src, c.dst, 16, 0, &planSize, &initSize) < 0 || planSize <= 0) planSize = 4096;
        auto plan = block(static_cast<size_t>(planSize));
        auto init = block(static_cast<size_t>(initSize) + 64);
        const ippResult st = ippiResizeYUV420LanczosInit(
            c.src, c.dst, c.lobes, c.nullPlan ? nullptr : reinterpret_cast<ippiLanczosPlan*>(plan.data()),
            c.nullInit ? nullptr : init.data());
        EXPECT_EQ(st, c.want) << c.name;
        if (st < 0 || st == 1) {
            // Nothing written: the plan keeps failing the check-word test.
            for (uint8_t b : plan) ASSERT_EQ(b, 0) << c.name;
            int32_t size = 0;
            EXPECT_EQ(ippiResizeYUV420GetBufferSize(reinterpret_cast<ippiLanczosPlan*>(plan.data()), {64, 64}, &size),
                      -17)
                << c.name;
        }
    }
}

TEST(ResizePlan, FailedInitPlanIsRejectedByTheResize) {
    auto plan = block(65536);
    std::vector<uint8_t> init(65536), src(10 * 10 * 2), dst(40 * 40 * 2), work(65536);
    ASSERT_EQ(ippiResizeYUV420LanczosInit({10, 10}, {40, 40}, 3, reinterpret_cast<ippiLanczosPlan*>(plan.data()),
                                          init.data()),
              -6);
    EXPECT_EQ(
        ippiResizeYUV420Lanczos_8u_P2R(src.data(), 10, src.data(), 10, dst.data(), 40, dst.data(), 40, {0, 0}, {40, 40},
                                       1, nullptr, reinterpret_cast<ippiLanczosPlan*>(plan.data()), work.data()),
        -17);
}

// A block that held a valid plan and is then given to a failing init: the
// resize must refuse it instead of reading the new source with the old sizes.
TEST(ResizePlan, FailedInitOnAReusedBlockIsRefused) {
    struct Reinit {
        const char* name;
        ippiPlaneSize src;
        uint32_t lobes;
        bool nullInit;
        ippResult want;
    } cases[] = {
        {"3 lobes, 10x10 source", {10, 10}, 3, false, -6},
        {"2 lobes, 7 columns", {7, 10}, 2, false, -6},
        {"source width 1", {1, 10}, 2, false, -6},
        {"lobes 4", {10, 10}, 4, false, -9999},
        {"null init buffer", {10, 10}, 2, true, -8},
    };
    constexpr uint8_t kMarker = 0xee;
    for (const auto& c : cases) {
        int32_t planSize = 0, initSize = 0, bufSize = 0;
        ASSERT_EQ(ippiResizeYUV420GetSize({64, 48}, {40, 40}, 16, 0, &planSize, &initSize), 0);
        auto plan = block(static_cast<size_t>(planSize));
        auto init = block(static_cast<size_t>(initSize));
        auto* P = reinterpret_cast<ippiLanczosPlan*>(plan.data());
        ASSERT_EQ(ippiResizeYUV420LanczosInit({64, 48}, {40, 40}, 3, P, init.data()), 0);
        ASSERT_EQ(ippiResizeYUV420GetBufferSize(P, {40, 40}, &bufSize), 0);
        std::vector<uint8_t> src(64 * 48, 100), dstY(40 * 40, kMarker), dstUV(40 * 20, kMarker),
            work(static_cast<size_t>(bufSize));
        ASSERT_EQ(ippiResizeYUV420Lanczos_8u_P2R(src.data(), 64, src.data(), 64, dstY.data(), 40, dstUV.data(), 40,
                                                 {0, 0}, {40, 40}, 1, nullptr, P, work.data()),
                  0)
            << "the block holds a valid plan first";
        std::fill(dstY.begin(), dstY.end(), kMarker);
        std::fill(dstUV.begin(), dstUV.end(), kMarker);

        ASSERT_EQ(ippiResizeYUV420LanczosInit(c.src, {40, 40}, c.lobes, P, c.nullInit ? nullptr : init.data()), c.want)
            << c.name;
        // The caller's new, smaller source: 10x10 luma, 5x5 pairs.
        std::vector<uint8_t> small(10 * 10, 50);
        EXPECT_LT(ippiResizeYUV420Lanczos_8u_P2R(small.data(), 10, small.data(), 10, dstY.data(), 40, dstUV.data(), 40,
                                                 {0, 0}, {40, 40}, 1, nullptr, P, work.data()),
                  0)
            << c.name;
        EXPECT_EQ(ippiResizeYUV420GetBufferSize(P, {40, 40}, &bufSize), -17) << c.name;
        for (uint8_t b : dstY) ASSERT_EQ(b, kMarker) << c.name << ": luma written";
        for (uint8_t b : dstUV) ASSERT_EQ(b, kMarker) << c.name << ": chroma written";
    }
}

struct BufCase {
    const char* name;
    ippiPlaneSize dst;
    bool nullPlan, nullOut, badPlan;
    ippResult want;
    int32_t size = -1;
};

TEST(ResizePlan, GetBufferSizeTable) {
    // Plans of 1280x720 destination, 2 and 3 lobes.
    for (uint32_t lobes : {2u, 3u}) {
        int32_t planSize = 0, initSize = 0;
        ASSERT_EQ(ippiResizeYUV420GetSize({1920, 1080}, {1280, 720}, 16, 0, &planSize, &initSize), 0);
        auto plan = block(static_cast<size_t>(planSize));
        auto init = block(static_cast<size_t>(initSize));
        auto* P = reinterpret_cast<ippiLanczosPlan*>(plan.data());
        ASSERT_EQ(ippiResizeYUV420LanczosInit({1920, 1080}, {1280, 720}, lobes, P, init.data()), 0);
        auto ring = [&](int64_t w) {
            return lobes == 2 ? ((16 * w + 508) & ~int64_t{127}) : 4 * ((6 * w + 191) & ~int64_t{31});
        };
        auto expect = [&](int64_t w, int64_t h) {
            return static_cast<int32_t>(4 * (((w + 31) & ~31) + ((h + 31) & ~31)) + ring(w) + 64);
        };
        auto bad = block(256);
        const BufCase cases[] = {
            {"null plan", {0, 0}, true, false, false, -8},
            {"null out", {0, 0}, false, true, false, -8},
            {"zero width", {0, 720}, false, false, true, 1},
            {"bad check word", {1, 720}, false, false, true, -17},
            {"width 1", {1, 720}, false, false, false, -6},
            {"full", {1280, 720}, false, false, false, 0, expect(1280, 720)},
            {"smaller", {640, 100}, false, false, false, 0, expect(640, 100)},
            {"odd", {641, 100}, false, false, false, 48, expect(640, 100)},
            {"larger than plan", {1920, 1080}, false, false, false, 48, expect(1280, 720)},
        };
        for (const auto& c : cases) {
            int32_t size = -1;
            const ippiLanczosPlan* p =
                c.nullPlan ? nullptr : (c.badPlan ? reinterpret_cast<ippiLanczosPlan*>(bad.data()) : P);
            EXPECT_EQ(ippiResizeYUV420GetBufferSize(p, c.dst, c.nullOut ? nullptr : &size), c.want)
                << c.name << " lobes " << lobes;
            EXPECT_EQ(size, c.size) << c.name << " lobes " << lobes;
        }
    }
}

const klmf_resize::PlanHeader& header(const std::vector<uint8_t>& plan) {
    return *klmf_resize::planHeader(reinterpret_cast<const ippiLanczosPlan*>(plan.data()));
}

TEST(ResizePlan, DamagedLobesCountIsRefused) {
    int32_t planSize = 0, initSize = 0, bufSize = 0;
    ASSERT_EQ(ippiResizeYUV420GetSize({64, 48}, {96, 72}, 16, 0, &planSize, &initSize), 0);
    auto plan = block(static_cast<size_t>(planSize));
    auto init = block(static_cast<size_t>(initSize));
    auto* P = reinterpret_cast<ippiLanczosPlan*>(plan.data());
    ASSERT_EQ(ippiResizeYUV420LanczosInit({64, 48}, {96, 72}, 2, P, init.data()), 0);
    ASSERT_EQ(ippiResizeYUV420GetBufferSize(P, {96, 72}, &bufSize), 0);
    klmf_resize::planHeader(P)->lobes = 5;
    int32_t size = -1;
    EXPECT_EQ(ippiResizeYUV420GetBufferSize(P, {96, 72}, &size), -9999);
    EXPECT_EQ(size, -1);
    std::vector<uint8_t> src(64 * 48), dst(96 * 72, 0xee), work(static_cast<size_t>(bufSize));
    EXPECT_EQ(ippiResizeYUV420Lanczos_8u_P2R(src.data(), 64, src.data(), 64, dst.data(), 96, dst.data(), 96, {0, 0},
                                             {96, 72}, 1, nullptr, P, work.data()),
              -9999);
    for (uint8_t b : dst) ASSERT_EQ(b, 0xee);
}

TEST(ResizePlan, HalvingGivesHalfFractionsAndEvenIndices) {
    int32_t planSize = 0, initSize = 0;
    ASSERT_EQ(ippiResizeYUV420GetSize({256, 128}, {128, 64}, 16, 0, &planSize, &initSize), 0);
    auto plan = block(static_cast<size_t>(planSize));
    auto init = block(static_cast<size_t>(initSize));
    ASSERT_EQ(ippiResizeYUV420LanczosInit({256, 128}, {128, 64}, 2, reinterpret_cast<ippiLanczosPlan*>(plan.data()),
                                          init.data()),
              0);
    const auto& h = header(plan);
    EXPECT_EQ(h.check, 0x4b61738au);
    EXPECT_EQ(h.interpolation, 16u);
    EXPECT_EQ(h.lobes, 2u);
    EXPECT_EQ(h.horizontal.srcReduced, 2u);
    EXPECT_EQ(h.horizontal.dstReduced, 1u);
    const float* fractions = reinterpret_cast<const float*>(init.data());
    for (int i = 0; i < 64 + 128; ++i) EXPECT_EQ(fractions[i], 0.5f) << i;
    for (int i = 0; i < 128; ++i) EXPECT_EQ(h.horizontal.index[i], 2 * i);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(h.vertical.index[i], 2 * i);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(h.vertical.weights) % 32, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(h.horizontal.weights) % 32, 0u);
    // x = 2i + 0.5 < 1 only for i = 0; x >= 256 - 2 from i = 127.
    EXPECT_EQ(h.horizontal.leading, 1u);
    EXPECT_EQ(h.horizontal.trailing, 1u);
}

TEST(ResizePlan, PositionsWeightsAndCountsFollowTheDefinition) {
    struct Axis {
        uint32_t src, dst, lobes;
    } axes[] = {{8, 30, 2}, {12, 40, 3}, {90, 64, 2}, {150, 50, 3}, {1920, 3840, 2}, {3840, 1920, 3}, {1280, 1281, 2}};
    for (const auto& ax : axes) {
        int32_t planSize = 0, initSize = 0;
        const ippiPlaneSize src{static_cast<int32_t>(ax.src), 16}, dst{static_cast<int32_t>(ax.dst), 16};
        ASSERT_GE(ippiResizeYUV420GetSize(src, dst, 16, 0, &planSize, &initSize), 0);
        auto plan = block(static_cast<size_t>(planSize));
        auto init = block(static_cast<size_t>(initSize));
        ASSERT_GE(ippiResizeYUV420LanczosInit(src, dst, ax.lobes, reinterpret_cast<ippiLanczosPlan*>(plan.data()),
                                              init.data()),
                  0);
        const auto& h = header(plan).horizontal;
        const uint32_t S = ax.src & ~1u, D = ax.dst & ~1u;
        const int a = static_cast<int>(ax.lobes);
        EXPECT_EQ(h.dstLen, D);
        uint32_t leading = 0, trailing = 0;
        for (uint32_t i = 0; i < D; ++i) {
            const double x = (i + 0.5) * S / D - 0.5;
            ASSERT_EQ(h.index[i], static_cast<int32_t>(std::floor(x))) << ax.src << "->" << ax.dst << " at " << i;
            leading += x < a - 1;
            trailing += x >= static_cast<double>(S) - a;
            double sum = 0;
            for (int j = 0; j < 2 * a; ++j) sum += h.weights[2 * a * i + j];
            EXPECT_NEAR(sum, 1.0, 1e-5);
            // Against the kernel itself, normalised.
            const double t = x - std::floor(x);
            double ref[6], rs = 0;
            for (int j = 0; j < 2 * a; ++j) {
                const double d = j - (a - 1) - t;
                ref[j] = d == 0 ? 1
                                : (std::fabs(d) >= a
                                       ? 0
                                       : a * std::sin(M_PI * d) * std::sin(M_PI * d / a) / (M_PI * d * M_PI * d));
                rs += ref[j];
            }
            for (int j = 0; j < 2 * a; ++j) EXPECT_NEAR(h.weights[2 * a * i + j], ref[j] / rs, 2e-4);
        }
        EXPECT_EQ(h.leading, leading);
        EXPECT_EQ(h.trailing, trailing);
        if (D > S) {
            EXPECT_EQ(h.index[0], -1);  // an enlargement starts before the source
            EXPECT_GE(h.leading, 1u);
        }
        EXPECT_LE(h.index[D - 1], static_cast<int32_t>(S) - 1);
        EXPECT_GE(h.index[0], -1);
    }
}

// The plan's weights bit for bit against the single-precision model: table
// interpolation, the refined reciprocal for the first four taps and, with 3
// lobes, a true division for the last two.
TEST(ResizePlan, WeightsEqualTheSinglePrecisionModel) {
    struct Axis {
        uint32_t src, dst, lobes;
    } axes[] = {{8, 30, 2},     {12, 40, 3},     {90, 64, 2},     {150, 50, 3},    {1920, 3840, 2},
                {3840, 1920, 2}, {1920, 3840, 3}, {3840, 1920, 3}, {1281, 721, 3}, {720, 1080, 3}};
    for (const auto& ax : axes) {
        int32_t planSize = 0, initSize = 0;
        // Both axes: the vertical one with the lengths swapped.
        const ippiPlaneSize src{static_cast<int32_t>(ax.src), static_cast<int32_t>(ax.dst)},
            dst{static_cast<int32_t>(ax.dst), static_cast<int32_t>(ax.src)};
        ASSERT_GE(ippiResizeYUV420GetSize(src, dst, 16, 0, &planSize, &initSize), 0);
        auto plan = block(static_cast<size_t>(planSize));
        auto init = block(static_cast<size_t>(initSize));
        ASSERT_GE(ippiResizeYUV420LanczosInit(src, dst, ax.lobes, reinterpret_cast<ippiLanczosPlan*>(plan.data()),
                                              init.data()),
                  0);
        const int a = static_cast<int>(ax.lobes);
        const int S = static_cast<int>(ax.src & ~1u), D = static_cast<int>(ax.dst & ~1u);
        const resize_test::model::Axis h = resize_test::model::axis(S, D, a), v = resize_test::model::axis(D, S, a);
        long differing = 0;
        for (size_t i = 0; i < h.weights.size(); ++i) {
            const bool same = h.weights[i] == header(plan).horizontal.weights[i];
            if (!same && differing++ < 3)
                ADD_FAILURE() << ax.src << "->" << ax.dst << " lobes " << a << ": horizontal weight " << i % (2 * a)
                              << " of position " << i / (2 * a);
        }
        for (size_t i = 0; i < v.weights.size(); ++i) {
            const bool same = v.weights[i] == header(plan).vertical.weights[i];
            if (!same && differing++ < 3)
                ADD_FAILURE() << ax.dst << "->" << ax.src << " lobes " << a << ": vertical weight " << i % (2 * a)
                              << " of position " << i / (2 * a);
        }
        EXPECT_EQ(differing, 0);
        for (int i = 0; i < D; ++i) ASSERT_EQ(header(plan).horizontal.index[i], h.index[static_cast<size_t>(i)]);
    }
}

}  // namespace

namespace {

// Every status of the library next to one call that returns it (20 and the
// cache statuses depend on the processor: see the emulated-model test).
TEST(ResizeStatus, EveryCodeFromOneCall) {
    int32_t a = 0, b = 0;
    int32_t planSize = 0, initSize = 0, bufSize = 0;
    ASSERT_EQ(ippiResizeYUV420GetSize({64, 48}, {96, 72}, 16, 0, &planSize, &initSize), 0);
    std::vector<uint8_t> plan(static_cast<size_t>(planSize) + 64), init(static_cast<size_t>(initSize));
    auto* P = reinterpret_cast<ippiLanczosPlan*>(plan.data());
    ASSERT_EQ(ippiResizeYUV420LanczosInit({64, 48}, {96, 72}, 2, P, init.data()), 0);
    ASSERT_EQ(ippiResizeYUV420GetBufferSize(P, {96, 72}, &bufSize), 0);
    std::vector<uint8_t> src(64 * 48), dst(96 * 72), work(static_cast<size_t>(bufSize)), zero(256);
    auto resize = [&](ippiPlaneOffset off, ippiPlaneSize size, ippiEdgeMode border, const ippiLanczosPlan* p) {
        return ippiResizeYUV420Lanczos_8u_P2R(src.data(), 64, src.data(), 64, dst.data(), 96, dst.data(), 96, off, size,
                                              border, nullptr, p, work.data());
    };
    const struct {
        ippResult code;
        const char* call;
        ippResult got;
    } rows[] = {
        {ippStsNoErr, "resize", resize({0, 0}, {96, 72}, 1, P)},
        {ippStsNoOperation, "size query with a zero width", ippiResizeYUV420GetSize({0, 8}, {8, 8}, 16, 0, &a, &b)},
        {ippStsUnknownCpu, "ippInitCpu(12)", ippInitCpu(12)},
        {ippStsNoCpuInfo, "ippInitCpu(1)", ippInitCpu(1)},
        {ippStsSizeWarning, "resize of 97x72", resize({0, 0}, {97, 72}, 1, P)},
        {ippStsSizeErr, "resize of 1x72", resize({0, 0}, {1, 72}, 1, P)},
        {ippStsNullPtrErr, "ippsSet_8u to null", ippsSet_8u(0, nullptr, 1)},
        {ippStsOffsetErr, "resize at x 96", resize({96, 0}, {96, 72}, 1, P)},
        {ippStsPlanErr, "resize with a zeroed plan", resize({0, 0}, {96, 72}, 1, reinterpret_cast<ippiLanczosPlan*>(zero.data()))},
        {ippStsInterpolationErr, "size query for kind 3", ippiResizeYUV420GetSize({8, 8}, {8, 8}, 3, 0, &a, &b)},
        {ippStsBorderErr, "resize with border 8", resize({0, 0}, {96, 72}, 8, P)},
        {ippStsOddOffsetErr, "resize at x 1", resize({1, 0}, {96, 72}, 1, P)},
        {ippStsNotSupportedModeErr, "resize with border 2", resize({0, 0}, {96, 72}, 2, P)},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.code) << r.call;
    EXPECT_EQ(ippStsNotReferenceVendor, 20);
    EXPECT_EQ(ippStsNoCacheSize, 37);
}

}  // namespace
