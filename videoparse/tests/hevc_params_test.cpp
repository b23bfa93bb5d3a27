// H.265 VPS and SPS parsing on hand-made units: values, and the limits beyond
// which a unit fails.
#include <gtest/gtest.h>

#include "feed.h"
#include "hevc_util.h"
#include "trace_headers.h"

using namespace vptest;

namespace {

Bytes IdrSegment() { return Nal(uint8_t(19 << 1), {0x01, 0x80, 0x55, 0x66, 0x77}, false); }

struct Outcome {
    int64_t vps, sps;
    VideoInfo info;
};

Outcome ParseUnits(const Bytes& vps, const Bytes& sps) {
    Handle h(0, 0, VideoCodecH265);
    std::vector<int64_t> results;
    const auto aus = Feed(h, {vps, sps, HevcNal(34, {0xC0}), IdrSegment()}, true, &results);
    Outcome o{results[0], results[1], {}};
    EXPECT_EQ(aus.size(), 1u);
    if (!aus.empty())
        o.info = aus[0].info;
    return o;
}

template <typename S, typename F> S With(F f) {
    S s;
    f(s);
    return s;
}

struct SpsCase {
    const char* name;
    HevcSpsSpec sps;
    bool ok;
    int width, height;
    bool legal = true; // within every limit of the standard (trace_headers reads it)
};

ShortTermSet Predicted(int32_t deltaRps, std::vector<int> use = {}) {
    ShortTermSet st;
    st.inter = true;
    st.deltaRps = deltaRps;
    st.use = std::move(use);
    return st;
}

ShortTermSet Explicit(uint32_t negative, uint32_t positive, uint32_t deltaMinus1 = 0) {
    ShortTermSet st;
    st.negative = negative;
    st.positive = positive;
    st.deltaMinus1 = deltaMinus1;
    return st;
}

std::vector<SpsCase> SpsCases() {
    using S = HevcSpsSpec;
    return {
        {"1088 with a 4:2:0 window of 4 at the bottom", {}, true, 1920, 1080},
        {"4:2:2 window", With<S>([](S& s) { s.chroma = 2, s.conf[0] = 4, s.conf[3] = 8; }), true, 1912, 1080},
        {"4:4:4 window", With<S>([](S& s) { s.chroma = 3, s.conf[3] = 8; }), true, 1920, 1080},
        {"seven sub-layers", With<S>([](S& s) { s.maxSubLayersMinus1 = 6; }), true, 1920, 1080},
        {"scaling lists", With<S>([](S& s) { s.scaling = true; }), true, 1920, 1080},
        {"64 short-term sets, some predicted", With<S>([](S& s) {
             s.shortTerm.assign(64, ShortTermSet{});
             s.shortTerm[5].inter = true;
             s.shortTerm[6].inter = true;
         }), true, 1920, 1080},
        // {-1} moved by +1 keeps only +1 (its 0 is dropped), so the next set
        // reads two flags, not three.
        {"predicted sets drop a zero POC difference",
         With<S>([](S& s) { s.shortTerm = {Explicit(1, 0), Predicted(1), Predicted(-1)}; }), true, 1920,
         1080},
        // {-1, -2, +1} moved by +1 with -2's entry dropped keeps {+1, +2};
        // moved by -2 that gives {-1, -2} (0 dropped), with one entry unused.
        {"predicted sets with dropped and unused entries", With<S>([](S& s) {
             s.shortTerm = {Explicit(2, 1), Predicted(1, {1, -1, 1, 1}), Predicted(-2, {0, 1, 1}),
                            Predicted(3), Explicit(1, 1)};
         }), true, 1920, 1080},
        // More pictures than the largest DPB holds, yet read.
        {"16 + 16 pictures in a set", With<S>([](S& s) { s.shortTerm[0].negative = 16, s.shortTerm[0].positive = 16; }),
         true, 1920, 1080, false},
        // 64 sets of 15 pictures 32768 apart and scaling lists of the longest
        // codes: the VUI lies past 6000 bytes.
        {"longest short-term sets and scaling lists", With<S>([](S& s) {
             s.maxDecPicBufferingMinus1 = 15;
             s.shortTerm.assign(64, Explicit(8, 7, 32767));
             s.scaling = true;
             s.scalingLarge = true;
         }), true, 1920, 1080},
        {"32 long-term pictures", With<S>([](S& s) { s.longTerm = true, s.numLongTerm = 32; }), true, 1920, 1080},
        {"eight sub-layers", With<S>([](S& s) { s.maxSubLayersMinus1 = 7; }), false, 0, 0},
        {"chroma_format_idc 4", With<S>([](S& s) { s.chroma = 4; }), false, 0, 0},
        {"log2_max_pic_order_cnt_lsb_minus4 13", With<S>([](S& s) { s.log2PocLsbMinus4 = 13; }), false, 0, 0},
        {"scaling delta 128", With<S>([](S& s) { s.scaling = true, s.scalingDelta = 128; }), false, 0, 0},
        {"scaling prediction from a later list", With<S>([](S& s) { s.scaling = true, s.predMatrixDelta = 2; }),
         false, 0, 0},
        {"65 short-term sets", With<S>([](S& s) { s.shortTerm.assign(65, ShortTermSet{}); }), false, 0, 0},
        {"17 negative pictures", With<S>([](S& s) { s.shortTerm[0].negative = 17; }), false, 0, 0},
        {"33 long-term pictures", With<S>([](S& s) { s.longTerm = true, s.numLongTerm = 33; }), false, 0, 0},
        {"window as tall as the picture", With<S>([](S& s) { s.conf[3] = 544; }), false, 0, 0},
        {"huge width", With<S>([](S& s) { s.width = 0xFFFFFFF0u; }), false, 0, 0},
    };
}

Bytes NoTimingVps() {
    return MakeHevcVps(With<HevcVpsSpec>([](HevcVpsSpec& v) { v.timing = false; }));
}

TEST(HevcSps, Table) {
    for (const auto& c : SpsCases()) {
        SCOPED_TRACE(c.name);
        const Outcome o = ParseUnits(NoTimingVps(), MakeHevcSps(c.sps));
        EXPECT_EQ(o.vps, 0);
        EXPECT_EQ(o.sps, c.ok ? 0 : -1);
        EXPECT_EQ(o.info.key, 1);
        EXPECT_EQ(o.info.hasParams, c.ok ? 1 : 0);
        if (!c.ok)
            continue;
        EXPECT_EQ(o.info.width, c.width);
        EXPECT_EQ(o.info.height, c.height);
        EXPECT_EQ(o.info.rateNum, 60000u);
        EXPECT_EQ(o.info.rateDen, 1001u); // num_units_in_tick itself
        EXPECT_EQ(o.info.videoSignalTypePresent, 1);
        EXPECT_EQ(o.info.colourPrimaries, 9);
        EXPECT_EQ(o.info.transferCharacteristics, 16);
        EXPECT_EQ(o.info.matrixCoefficients, 9);
    }
}

// trace_headers reads the same pictures sizes and VUI values from the same
// bytes: the hand-made units are what the table says they are.
TEST(HevcSps, SyntheticUnitsAgreeWithTraceHeaders) {
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg not installed";
    for (const auto& c : SpsCases()) {
        if (!c.ok || !c.legal)
            continue;
        SCOPED_TRACE(c.name);
        const auto trace = TraceHeaders(Cat({NoTimingVps(), MakeHevcSps(c.sps)}), "hevc");
        ASSERT_TRUE(trace.has_value());
        const auto sps = SectionsTitled(*trace, "Sequence Parameter Set");
        ASSERT_FALSE(sps.empty());
        const TraceSection& t = sps[0];
        const int64_t chroma = t.Value("chroma_format_idc");
        const int64_t subW = chroma == 1 || chroma == 2 ? 2 : 1, subH = chroma == 1 ? 2 : 1;
        const int64_t window = t.Value("conformance_window_flag");
        auto offset = [&](const char* n) { return window ? t.Value(n) : 0; };
        EXPECT_EQ(t.Value("pic_width_in_luma_samples") -
                      subW * (offset("conf_win_left_offset") + offset("conf_win_right_offset")),
                  c.width);
        EXPECT_EQ(t.Value("pic_height_in_luma_samples") -
                      subH * (offset("conf_win_top_offset") + offset("conf_win_bottom_offset")),
                  c.height);
        EXPECT_EQ(t.Value("vui_num_units_in_tick"), 1001);
        EXPECT_EQ(t.Value("vui_time_scale"), 60000);
        EXPECT_EQ(t.Value("colour_primaries"), 9);
        EXPECT_EQ(t.Value("transfer_characteristics"), 16);
        EXPECT_EQ(t.Value("matrix_coefficients"), 9);
        // The unit was read to its end.
        EXPECT_EQ(t.Value("sps_extension_present_flag"), 0);
    }
}

TEST(HevcSps, VuiDefaults) {
    HevcSpsSpec s;
    s.signalType = false;
    s.timing = false;
    const Outcome o = ParseUnits(MakeHevcVps({}), MakeHevcSps(s));
    EXPECT_EQ(o.info.hasParams, 1);
    EXPECT_EQ(o.info.videoSignalTypePresent, 0);
    EXPECT_EQ(o.info.videoFormat, 5);
    EXPECT_EQ(o.info.colourPrimaries, 2);
    EXPECT_EQ(o.info.transferCharacteristics, 2);
    EXPECT_EQ(o.info.matrixCoefficients, 2);
    // The VPS timing stays when the SPS has none.
    EXPECT_EQ(o.info.rateNum, 50u);
    EXPECT_EQ(o.info.rateDen, 1u);
}

struct VpsCase {
    const char* name;
    HevcVpsSpec vps;
    bool ok;
};

std::vector<VpsCase> VpsCases() {
    using V = HevcVpsSpec;
    return {
        {"plain", {}, true},
        {"1024 layer sets", With<V>([](V& v) { v.numLayerSetsMinus1 = 1023; }), true},
        {"layer ids up to 62", With<V>([](V& v) { v.maxLayerId = 62, v.numLayerSetsMinus1 = 3; }), true},
        // 1023 x 63 layer flags: the timing lies past 8000 bytes.
        {"1024 layer sets of 63 layer ids",
         With<V>([](V& v) { v.maxLayerId = 62, v.numLayerSetsMinus1 = 1023; }), true},
        {"seven sub-layers", With<V>([](V& v) { v.maxSubLayersMinus1 = 6; }), true},
        {"1025 layer sets", With<V>([](V& v) { v.numLayerSetsMinus1 = 1024; }), false},
        {"layer id 63", With<V>([](V& v) { v.maxLayerId = 63; }), false},
        {"eight sub-layers", With<V>([](V& v) { v.maxSubLayersMinus1 = 7; }), false},
    };
}

TEST(HevcVps, Table) {
    HevcSpsSpec noTiming;
    noTiming.timing = false;
    for (const auto& c : VpsCases()) {
        SCOPED_TRACE(c.name);
        const Outcome o = ParseUnits(MakeHevcVps(c.vps), MakeHevcSps(noTiming));
        EXPECT_EQ(o.vps, c.ok ? 0 : -1);
        EXPECT_EQ(o.info.rateNum, c.ok ? 50u : 0u);
        EXPECT_EQ(o.info.rateDen, c.ok ? 1u : 0u);
    }
}

TEST(HevcVps, SyntheticUnitsAgreeWithTraceHeaders) {
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg not installed";
    HevcSpsSpec noTiming;
    noTiming.timing = false;
    for (const auto& c : VpsCases()) {
        if (!c.ok)
            continue;
        SCOPED_TRACE(c.name);
        const auto trace = TraceHeaders(Cat({MakeHevcVps(c.vps), MakeHevcSps(noTiming)}), "hevc");
        ASSERT_TRUE(trace.has_value());
        const auto vps = SectionsTitled(*trace, "Video Parameter Set");
        ASSERT_FALSE(vps.empty());
        EXPECT_EQ(vps[0].Value("vps_num_layer_sets_minus1"), c.vps.numLayerSetsMinus1);
        EXPECT_EQ(vps[0].Value("vps_num_units_in_tick"), 1);
        EXPECT_EQ(vps[0].Value("vps_time_scale"), 50);
        EXPECT_EQ(vps[0].Value("vps_extension_flag"), 0);
    }
}

} // namespace
