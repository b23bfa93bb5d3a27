// The resize call against an independent double-precision Lanczos, its
// argument checks, the destination area and the source reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "resize_fixture.h"

using namespace resize_test;

namespace {

constexpr uint8_t kMarker = 0xee;

struct Output {
    Plane y, uv;
};

Output makeOutput(int w, int h) {
    constexpr int kPad = 3;
    return {makePlane(w, h, 1, kPad, 0, true, kMarker), makePlane(w / 2, h / 2, 2, kPad, 0, true, kMarker)};
}

// Source pointers for a destination offset: the source pixel under it.
const uint8_t* srcAt(const Plane& p, int col, int row) {
    return p.origin() + static_cast<ptrdiff_t>(row) * p.step + col * p.ch;
}

ippResult run(ippiResizeYUV420Lanczos_8u_P2R_fn fn, const Frame& in, Output& out, const Plan& plan, ippiPlaneOffset off,
              ippiPlaneSize size, ippiEdgeMode border) {
    const int Sw = in.y.w & ~1, Sh = in.y.h & ~1;
    const int Dw = out.y.w, Dh = out.y.h;
    const double rx = static_cast<double>(Sw) / Dw, ry = static_cast<double>(Sh) / Dh;
    const int lx = static_cast<int>(std::floor(rx * off.x)) & ~1, ly = static_cast<int>(std::floor(ry * off.y)) & ~1;
    const int cx = static_cast<int>(std::floor(rx * (off.x / 2))), cy = static_cast<int>(std::floor(ry * (off.y / 2)));
    std::vector<uint8_t> work(static_cast<size_t>(plan.bufSize));
    uint8_t* dy = out.y.origin() + static_cast<ptrdiff_t>(off.y) * out.y.step + off.x;
    uint8_t* duv = out.uv.origin() + static_cast<ptrdiff_t>(off.y / 2) * out.uv.step + off.x;
    return fn(srcAt(in.y, lx, ly), in.y.step, srcAt(in.uv, cx, cy), in.uv.step, dy, out.y.step, duv, out.uv.step, off,
              size, border, nullptr, plan.get(), work.data());
}

// Largest difference to the reference over the area; also checks that the
// marker outside the area survived. *differing counts the samples that are
// not equal to the reference, *total those compared.
int compareToReference(const Frame& in, const Output& out, int a, bool clamp, int x0, int y0, int w, int h,
                       long* differing = nullptr, long* total = nullptr) {
    const int Sw = in.y.w & ~1, Sh = in.y.h & ~1, Dw = out.y.w, Dh = out.y.h;
    int worst = 0;
    long diff = 0, count = 0;
    auto note = [&](int got, int want) {
        worst = std::max(worst, std::abs(got - want));
        diff += got != want;
        ++count;
    };
    for (int y = -out.y.pad; y < Dh + out.y.pad; ++y)
        for (int x = -out.y.pad; x < Dw + out.y.pad; ++x) {
            const bool inside = x >= x0 && x < x0 + w && y >= y0 && y < y0 + h;
            const uint8_t got = out.y.origin()[static_cast<ptrdiff_t>(y) * out.y.step + x];
            if (!inside) {
                EXPECT_EQ(got, kMarker) << "luma written outside the area at " << x << "," << y;
                if (got != kMarker) return 999;
                continue;
            }
            note(got, referenceSample(in.y, x, y, 0, Sw, Sh, Dw, Dh, a, clamp));
        }
    for (int y = -out.uv.pad; y < Dh / 2 + out.uv.pad; ++y)
        for (int x = -out.uv.pad; x < Dw / 2 + out.uv.pad; ++x)
            for (int c = 0; c < 2; ++c) {
                const bool inside = x >= x0 / 2 && x < (x0 + w) / 2 && y >= y0 / 2 && y < (y0 + h) / 2;
                const uint8_t got = out.uv.origin()[static_cast<ptrdiff_t>(y) * out.uv.step + 2 * x + c];
                if (!inside) {
                    EXPECT_EQ(got, kMarker) << "chroma written outside the area at " << x << "," << y;
                    if (got != kMarker) return 999;
                    continue;
                }
                note(got, referenceSample(in.uv, x, y, c, Sw, Sh, Dw, Dh, a, clamp));
            }
    if (differing) *differing = diff;
    if (total) *total = count;
    return worst;
}

// Samples of the area (luma and chroma) that differ from the
// single-precision model of the plan's weights and the separable sums.
long differencesFromModel(const Frame& in, const Output& out, int a, bool clamp, int x0, int y0, int w, int h) {
    const model::PlaneModel m(in.y.w & ~1, in.y.h & ~1, out.y.w, out.y.h, a);
    long diff = 0;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            const int got = out.y.at(x, y, 0), want = m.sample(in.y, x, y, 0, clamp);
            if (got != want && diff++ < 3) ADD_FAILURE() << "luma " << x << "," << y << ": " << got << " != " << want;
        }
    for (int y = y0 / 2; y < (y0 + h) / 2; ++y)
        for (int x = x0 / 2; x < (x0 + w) / 2; ++x)
            for (int c = 0; c < 2; ++c) {
                const int got = out.uv.at(x, y, c), want = m.sample(in.uv, x, y, c, clamp);
                if (got != want && diff++ < 3)
                    ADD_FAILURE() << "chroma " << x << "," << y << "/" << c << ": " << got << " != " << want;
            }
    return diff;
}

struct Case {
    const char* name;
    int sw, sh, dw, dh;
    uint32_t lobes;
    ippiEdgeMode border;
    int ox = 0, oy = 0, aw = 0, ah = 0;  // area; 0 width means the whole destination
};

const Case kCases[] = {
    {"up2_l2", 64, 48, 128, 96, 2, 1},
    {"up2_l3", 64, 48, 128, 96, 3, 1},
    {"down2_l2", 128, 96, 64, 48, 2, 1},
    {"down2_l3", 128, 96, 64, 48, 3, 1},
    {"odd_ratio_down_l2", 90, 50, 64, 36, 2, 1},
    {"odd_ratio_up_l3", 50, 34, 86, 62, 3, 1},
    {"exact_third_up_l2", 50, 34, 150, 102, 2, 1},
    {"exact_third_down_l3", 150, 102, 50, 34, 3, 1},
    {"min_source_l2", 8, 8, 30, 20, 2, 1},
    {"min_source_l3", 12, 12, 40, 18, 3, 1},
    {"min_source_down_l2", 8, 8, 2, 4, 2, 1},
    {"odd_source_l2", 61, 37, 90, 40, 2, 1},
    {"hd_up_l2", 320, 180, 480, 270, 2, 1},
    {"area_offset_l2", 64, 48, 128, 96, 2, 1, 10, 6, 80, 50},
    {"area_offset_down_l3", 150, 102, 70, 48, 3, 1, 20, 14, 40, 30},
    {"area_clipped_l2", 64, 48, 100, 60, 2, 1, 50, 40, 200, 200},
    {"in_memory_up_l2", 64, 48, 128, 96, 2, 6},
    {"in_memory_up_l3", 64, 48, 128, 96, 3, 6},
    {"in_memory_down_l3", 128, 96, 50, 30, 3, 6},
    {"in_memory_min_l3", 12, 12, 40, 18, 3, 6},
    {"in_memory_area_l2", 64, 48, 128, 96, 2, 6, 10, 6, 80, 50},
    {"odd_sizes_l3", 61, 37, 91, 41, 3, 1},
    {"in_memory_odd_down_l2", 97, 71, 45, 33, 2, 6},
    {"area_offset_odd_request_l3", 150, 102, 70, 48, 3, 1, 20, 14, 43, 31},
};

class ReferenceTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReferenceTest, GenericAgreesWithDoubleLanczos) {
    const Case& c = GetParam();
    // Border 6 gets exactly `lobes` valid pixels around the source.
    const int pad = c.border == 6 ? static_cast<int>(c.lobes) : 0;
    const Frame in = makeFrame(c.sw, c.sh, pad, 7);
    Plan plan({c.sw, c.sh}, {c.dw, c.dh}, c.lobes);
    ASSERT_GE(plan.status, 0);
    Output out = makeOutput(c.dw & ~1, c.dh & ~1);
    const int aw = c.aw ? c.aw : c.dw, ah = c.ah ? c.ah : c.dh;
    const ippResult st =
        run(ippiResizeYUV420Lanczos_8u_P2R_arraddr[0], in, out, plan, {c.ox, c.oy}, {aw, ah}, c.border);
    const bool warn = (aw & 1) || (ah & 1) || aw > (c.dw & ~1) || ah > (c.dh & ~1);
    EXPECT_EQ(st, warn ? ippStsSizeWarning : ippStsNoErr);
    const int w = std::min(aw, (c.dw & ~1) - c.ox) & ~1, h = std::min(ah, (c.dh & ~1) - c.oy) & ~1;
    long differing = 0, total = 0;
    EXPECT_LE(
        compareToReference(in, out, static_cast<int>(c.lobes), c.border == 1, c.ox, c.oy, w, h, &differing, &total),
        1);
    // Single-precision weights and sums land on the other side of a level
    // only for sums within about 1e-3 of a half: a handful of samples, where
    // truncating instead of rounding would move half of them.
    EXPECT_LE(differing * 100, total) << differing << " of " << total << " samples differ by one";
}

TEST_P(ReferenceTest, EveryVariantMatchesTheSinglePrecisionModel) {
    const Case& c = GetParam();
    const int pad = c.border == 6 ? static_cast<int>(c.lobes) : 0;
    const Frame in = makeFrame(c.sw, c.sh, pad, 7);
    Plan plan({c.sw, c.sh}, {c.dw, c.dh}, c.lobes);
    ASSERT_GE(plan.status, 0);
    const int aw = c.aw ? c.aw : c.dw, ah = c.ah ? c.ah : c.dh;
    const int w = std::min(aw, (c.dw & ~1) - c.ox) & ~1, h = std::min(ah, (c.dh & ~1) - c.oy) & ~1;
    for (int variant : kBuiltVariants) {
        if (!processorHas(variant)) continue;
        Output out = makeOutput(c.dw & ~1, c.dh & ~1);
        ASSERT_GE(run(ippiResizeYUV420Lanczos_8u_P2R_arraddr[variant], in, out, plan, {c.ox, c.oy}, {aw, ah}, c.border),
                  0);
        EXPECT_EQ(differencesFromModel(in, out, static_cast<int>(c.lobes), c.border == 1, c.ox, c.oy, w, h), 0)
            << "variant " << variant;
    }
}

INSTANTIATE_TEST_SUITE_P(Resize, ReferenceTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ResizeExecution, ChecksInOrder) {
    Plan plan({64, 48}, {128, 96}, 2);
    ASSERT_EQ(plan.status, 0);
    Frame in = makeFrame(64, 48, 0, 1);
    Output out = makeOutput(128, 96);
    std::vector<uint8_t> work(static_cast<size_t>(plan.bufSize));
    std::vector<uint8_t> badPlan(4096, 0);
    const uint8_t* sy = in.y.origin();
    const uint8_t* suv = in.uv.origin();
    uint8_t* dy = out.y.origin();
    uint8_t* duv = out.uv.origin();
    auto call = [&](const uint8_t* a, const uint8_t* b, uint8_t* c, uint8_t* d, ippiPlaneOffset off, ippiPlaneSize sz,
                    ippiEdgeMode border, const ippiLanczosPlan* p, uint8_t* buf) {
        return ippiResizeYUV420Lanczos_8u_P2R(a, in.y.step, b, in.uv.step, c, out.y.step, d, out.uv.step, off, sz,
                                              border, nullptr, p, buf);
    };
    const ippiLanczosPlan* P = plan.get();
    const ippiLanczosPlan* bad = reinterpret_cast<const ippiLanczosPlan*>(badPlan.data());
    uint8_t* W = work.data();
    struct Row {
        const char* name;
        ippResult got, want;
    } rows[] = {
        {"zero width, all null", call(nullptr, nullptr, nullptr, nullptr, {1, 1}, {0, 100}, 99, nullptr, nullptr), 1},
        {"zero height", call(sy, suv, dy, duv, {0, 0}, {100, 0}, 1, P, W), 1},
        {"width 1, all null", call(nullptr, nullptr, nullptr, nullptr, {1, 1}, {1, 100}, 99, nullptr, nullptr), -6},
        {"height -4", call(sy, suv, dy, duv, {0, 0}, {100, -4}, 1, P, W), -6},
        {"null source luma", call(nullptr, suv, dy, duv, {0, 0}, {128, 96}, 1, P, W), -8},
        {"null source chroma", call(sy, nullptr, dy, duv, {0, 0}, {128, 96}, 1, P, W), -8},
        {"null destination luma", call(sy, suv, nullptr, duv, {0, 0}, {128, 96}, 1, P, W), -8},
        {"null destination chroma", call(sy, suv, dy, nullptr, {0, 0}, {128, 96}, 1, P, W), -8},
        {"null plan", call(sy, suv, dy, duv, {0, 0}, {128, 96}, 1, nullptr, W), -8},
        {"null buffer, bad offset", call(sy, suv, dy, duv, {-2, 0}, {128, 96}, 1, P, nullptr), -8},
        {"check word, bad offset", call(sy, suv, dy, duv, {-2, 1}, {128, 96}, 99, bad, W), -17},
        {"negative x, odd y", call(sy, suv, dy, duv, {-2, 1}, {128, 96}, 99, P, W), -11},
        {"x equal to plan width", call(sy, suv, dy, duv, {128, 0}, {128, 96}, 1, P, W), -11},
        {"y equal to plan height", call(sy, suv, dy, duv, {0, 96}, {128, 96}, 1, P, W), -11},
        {"odd x, bad border", call(sy, suv, dy, duv, {1, 0}, {128, 96}, 8, P, W), -227},
        {"odd y", call(sy, suv, dy, duv, {0, 3}, {128, 96}, 1, P, W), -227},
        {"border 8", call(sy, suv, dy, duv, {0, 0}, {128, 96}, 8, P, W), -225},
        {"border 0x100", call(sy, suv, dy, duv, {0, 0}, {128, 96}, 0x100, P, W), -225},
        {"border 0x11", call(sy, suv, dy, duv, {0, 0}, {128, 96}, 0x11, P, W), -9999},
        {"border 0", call(sy, suv, dy, duv, {0, 0}, {128, 96}, 0, P, W), -9999},
        {"border 2", call(sy, suv, dy, duv, {0, 0}, {128, 96}, 2, P, W), -9999},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.name;
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 128; ++x) ASSERT_EQ(out.y.at(x, y, 0), kMarker) << "a failed call wrote";
}

TEST(ResizeExecution, OversizedRequestIsClippedWithWarning) {
    // 1281x721 against a 1280x720 plan: 1280x720 luma, 640x360 chroma, 48.
    Plan plan({640, 360}, {1280, 720}, 2);
    ASSERT_EQ(plan.status, 0);
    const Frame in = makeFrame(640, 360, 0, 3);
    Output out = makeOutput(1280, 720);
    EXPECT_EQ(run(ippiResizeYUV420Lanczos_8u_P2R, in, out, plan, {0, 0}, {1281, 721}, 1), ippStsSizeWarning);
    EXPECT_LE(compareToReference(in, out, 2, true, 0, 0, 1280, 720), 1);
}

TEST(ResizeExecution, LargeOffsetClipsWithoutWarning) {
    Plan plan({64, 48}, {128, 96}, 2);
    const Frame in = makeFrame(64, 48, 0, 3);
    Output out = makeOutput(128, 96);
    EXPECT_EQ(run(ippiResizeYUV420Lanczos_8u_P2R, in, out, plan, {100, 80}, {128, 96}, 1), ippStsNoErr);
    EXPECT_LE(compareToReference(in, out, 2, true, 100, 80, 28, 16), 1);
}

TEST(ResizeExecution, ConstantFrameStaysConstantEverywhere) {
    for (uint32_t lobes : {2u, 3u})
        for (int value : {0, 17, 128, 255}) {
            Frame in{makePlane(50, 30, 1, 0, 0, true, static_cast<uint8_t>(value)),
                     makePlane(25, 15, 2, 0, 0, true, static_cast<uint8_t>(value))};
            if (lobes == 3)
                in = {makePlane(52, 30, 1, 0, 0, true, static_cast<uint8_t>(value)),
                      makePlane(26, 15, 2, 0, 0, true, static_cast<uint8_t>(value))};
            Plan plan({in.y.w, in.y.h}, {142, 70}, lobes);
            ASSERT_EQ(plan.status, 0);
            Output out = makeOutput(142, 70);
            ASSERT_EQ(run(ippiResizeYUV420Lanczos_8u_P2R, in, out, plan, {0, 0}, {142, 70}, 1), 0);
            for (int y = 0; y < 70; ++y)
                for (int x = 0; x < 142; ++x) ASSERT_EQ(out.y.at(x, y, 0), value) << x << "," << y;
            for (int y = 0; y < 35; ++y)
                for (int x = 0; x < 71; ++x)
                    for (int c = 0; c < 2; ++c) ASSERT_EQ(out.uv.at(x, y, c), value) << x << "," << y;
        }
}

TEST(ResizeExecution, BottomUpSourceGivesTheSamePixels) {
    const Frame in = makeFrame(90, 50, 0, 11);
    Frame flipped = in;
    for (int y = 0; y < 50; ++y) std::memcpy(&flipped.y.mem[y * 90], &in.y.mem[(49 - y) * 90], 90);
    for (int y = 0; y < 25; ++y) std::memcpy(&flipped.uv.mem[y * 90], &in.uv.mem[(24 - y) * 90], 90);
    Plan plan({90, 50}, {128, 72}, 3);
    Output a = makeOutput(128, 72), b = makeOutput(128, 72);
    std::vector<uint8_t> work(static_cast<size_t>(plan.bufSize));
    ASSERT_EQ(run(ippiResizeYUV420Lanczos_8u_P2R, in, a, plan, {0, 0}, {128, 72}, 1), 0);
    ASSERT_EQ(ippiResizeYUV420Lanczos_8u_P2R(&flipped.y.mem[49 * 90], -90, &flipped.uv.mem[24 * 90], -90, b.y.origin(),
                                             b.y.step, b.uv.origin(), b.uv.step, {0, 0}, {128, 72}, 1, nullptr,
                                             plan.get(), work.data()),
              0);
    EXPECT_EQ(a.y.mem, b.y.mem);
    EXPECT_EQ(a.uv.mem, b.uv.mem);
}

TEST(ResizeExecution, UnalignedWorkBufferIsAccepted) {
    Plan plan({64, 48}, {100, 60}, 3);
    const Frame in = makeFrame(64, 48, 0, 5);
    Output a = makeOutput(100, 60);
    std::vector<uint8_t> work(static_cast<size_t>(plan.bufSize) + 1);
    ASSERT_EQ(ippiResizeYUV420Lanczos_8u_P2R(in.y.origin(), in.y.step, in.uv.origin(), in.uv.step, a.y.origin(),
                                             a.y.step, a.uv.origin(), a.uv.step, {0, 0}, {100, 60}, 1, nullptr,
                                             plan.get(), work.data() + 1),
              0);
    EXPECT_LE(compareToReference(in, a, 3, true, 0, 0, 100, 60), 1);
}

// Source planes placed against an inaccessible page, before and after:
// a read outside the source faults.
struct GuardCase {
    int sw, sh, dw, dh;
    uint32_t lobes;
    ippiEdgeMode border;
};

class GuardTest : public ::testing::TestWithParam<GuardCase> {};

TEST_P(GuardTest, NothingReadOutsideTheSource) {
    const GuardCase c = GetParam();
    const int pad = c.border == 6 ? static_cast<int>(c.lobes) : 0;
    const Frame in = makeFrame(c.sw, c.sh, pad, 9);
    Plan plan({c.sw, c.sh}, {c.dw, c.dh}, c.lobes);
    ASSERT_EQ(plan.status, 0);
    for (int variant : kBuiltVariants)
        for (bool after : {false, true}) {
            if (!processorHas(variant)) continue;
            GuardedBuffer gy(in.y.mem.size(), after), guv(in.uv.mem.size(), after);
            std::memcpy(gy.data(), in.y.mem.data(), in.y.mem.size());
            std::memcpy(guv.data(), in.uv.mem.data(), in.uv.mem.size());
            const uint8_t* sy = gy.data() + static_cast<ptrdiff_t>(pad) * in.y.step + pad;
            const uint8_t* suv = guv.data() + static_cast<ptrdiff_t>(pad) * in.uv.step + 2 * pad;
            Output out = makeOutput(c.dw, c.dh);
            std::vector<uint8_t> work(static_cast<size_t>(plan.bufSize));
            ASSERT_EQ(ippiResizeYUV420Lanczos_8u_P2R_arraddr[variant](
                          sy, in.y.step, suv, in.uv.step, out.y.origin(), out.y.step, out.uv.origin(), out.uv.step,
                          {0, 0}, {c.dw, c.dh}, c.border, nullptr, plan.get(), work.data()),
                      0);
            EXPECT_LE(compareToReference(in, out, static_cast<int>(c.lobes), c.border == 1, 0, 0, c.dw, c.dh), 1);
        }
}

INSTANTIATE_TEST_SUITE_P(Resize, GuardTest,
                         ::testing::Values(GuardCase{64, 48, 128, 96, 2, 1}, GuardCase{64, 48, 128, 96, 3, 1},
                                           GuardCase{96, 64, 40, 30, 3, 1}, GuardCase{12, 12, 38, 26, 3, 1},
                                           GuardCase{64, 48, 128, 96, 2, 6}, GuardCase{64, 48, 128, 96, 3, 6},
                                           GuardCase{96, 64, 40, 30, 3, 6}, GuardCase{128, 96, 64, 48, 3, 1},
                                           GuardCase{128, 96, 64, 48, 2, 6}, GuardCase{1030, 20, 2060, 40, 3, 1},
                                           GuardCase{2060, 40, 1030, 20, 2, 1}),
                         [](const auto& info) {
                             const GuardCase& c = info.param;
                             return std::to_string(c.sw) + "x" + std::to_string(c.sh) + "_to_" + std::to_string(c.dw) +
                                    "x" + std::to_string(c.dh) + "_l" + std::to_string(c.lobes) + "_b" +
                                    std::to_string(c.border);
                         });

}  // namespace
