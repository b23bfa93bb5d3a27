// H.265 VPS and SPS parsing on hand-made units: values, and the limits beyond
// which a unit fails.
#include <gtest/gtest.h>

#include "feed.h"

using namespace vptest;

namespace {

struct ShortTermSet {
    bool inter = false;
    uint32_t negative = 1, positive = 0; // when not inter
};

struct HevcSpsSpec {
    uint32_t maxSubLayersMinus1 = 0;
    uint32_t chroma = 1;
    uint32_t width = 1920, height = 1088;
    uint32_t conf[4] = {0, 0, 0, 4};
    uint32_t log2PocLsbMinus4 = 4;
    bool scaling = false;
    int32_t scalingDelta = 1;
    uint32_t predMatrixDelta = 0; // for list (sizeId 0, matrixId 1)
    std::vector<ShortTermSet> shortTerm = {ShortTermSet{}};
    bool longTerm = false;
    uint32_t numLongTerm = 0;
    bool signalType = true;
    uint32_t primaries = 9, transfer = 16, matrix = 9, fullRange = 0;
    bool timing = true;
    uint32_t unitsInTick = 1001, timeScale = 60000;
};

void WriteProfileTierLevel(BitWriter& w, uint32_t maxSub) {
    w.u(0, 2);
    w.u(0, 1);
    w.u(1, 5);
    w.u(0x40000000, 32);
    w.u(0xB, 4);
    w.u(0, 43);
    w.u(0, 1);
    w.u(93, 8);
    for (uint32_t i = 0; i < maxSub; ++i)
        w.u(0, 2);
    if (maxSub > 0)
        for (uint32_t i = maxSub; i < 8; ++i)
            w.u(0, 2);
}

Bytes HevcNal(uint32_t type, const Bytes& rbsp) {
    return Nal(uint8_t(type << 1), Cat({{0x01}, rbsp}));
}

Bytes MakeHevcSps(const HevcSpsSpec& s) {
    BitWriter w;
    w.u(0, 4);
    w.u(s.maxSubLayersMinus1, 3);
    w.u(1, 1);
    WriteProfileTierLevel(w, std::min(s.maxSubLayersMinus1, 6u));
    w.ue(0);
    w.ue(s.chroma);
    if (s.chroma == 3)
        w.u(0, 1);
    w.ue(s.width);
    w.ue(s.height);
    const bool conf = s.conf[0] || s.conf[1] || s.conf[2] || s.conf[3];
    w.u(conf, 1);
    if (conf)
        for (uint32_t c : s.conf)
            w.ue(c);
    w.ue(2); // bit depths
    w.ue(2);
    w.ue(s.log2PocLsbMinus4);
    w.u(1, 1);
    for (uint32_t i = 0; i <= std::min(s.maxSubLayersMinus1, 6u); ++i) {
        w.ue(4);
        w.ue(0);
        w.ue(0);
    }
    w.ue(0);
    w.ue(3);
    w.ue(0);
    w.ue(3);
    w.ue(0);
    w.ue(0);
    w.u(s.scaling, 1);
    if (s.scaling) {
        w.u(1, 1);
        for (uint32_t sizeId = 0; sizeId < 4; ++sizeId)
            for (uint32_t m = 0; m < 6; m += sizeId == 3 ? 3 : 1) {
                if (sizeId == 0 && m == 1) {
                    w.u(0, 1);
                    w.ue(s.predMatrixDelta);
                    continue;
                }
                w.u(1, 1);
                if (sizeId > 1)
                    w.se(8);
                for (int i = 0; i < (sizeId == 0 ? 16 : 64); ++i)
                    w.se(i == 0 ? s.scalingDelta : 0);
            }
    }
    w.u(0, 1); // amp
    w.u(1, 1); // sao
    w.u(0, 1); // pcm
    w.ue(s.shortTerm.size());
    for (size_t i = 0; i < s.shortTerm.size(); ++i) {
        const ShortTermSet& st = s.shortTerm[i];
        if (i != 0)
            w.u(st.inter, 1);
        if (st.inter) {
            w.u(0, 1);
            w.ue(0);
            // The previous set's entries plus one, all used.
            const ShortTermSet& ref = s.shortTerm[i - 1];
            const uint32_t n = ref.inter ? 2 : ref.negative + ref.positive;
            for (uint32_t j = 0; j <= n; ++j)
                w.u(1, 1);
        } else {
            w.ue(st.negative);
            w.ue(st.positive);
            for (uint32_t j = 0; j < st.negative + st.positive; ++j) {
                w.ue(0);
                w.u(1, 1);
            }
        }
    }
    w.u(s.longTerm, 1);
    if (s.longTerm) {
        w.ue(s.numLongTerm);
        for (uint32_t i = 0; i < s.numLongTerm; ++i) {
            w.u(i, s.log2PocLsbMinus4 + 4);
            w.u(1, 1);
        }
    }
    w.u(1, 1); // temporal mvp
    w.u(1, 1); // strong intra smoothing
    w.u(1, 1); // vui
    w.u(0, 1);
    w.u(0, 1);
    w.u(s.signalType, 1);
    if (s.signalType) {
        w.u(5, 3);
        w.u(s.fullRange, 1);
        w.u(1, 1);
        w.u(s.primaries, 8);
        w.u(s.transfer, 8);
        w.u(s.matrix, 8);
    }
    w.u(0, 1); // chroma loc
    w.u(0, 3);
    w.u(0, 1); // default display window
    w.u(s.timing, 1);
    if (s.timing) {
        w.u(s.unitsInTick, 32);
        w.u(s.timeScale, 32);
        w.u(0, 1);
        w.u(0, 1);
    }
    w.u(0, 1); // bitstream restriction
    w.u(0, 1); // extension
    return HevcNal(33, w.rbsp());
}

struct HevcVpsSpec {
    uint32_t maxSubLayersMinus1 = 0;
    uint32_t maxLayerId = 0;
    uint32_t numLayerSetsMinus1 = 0;
    bool timing = true;
    uint32_t unitsInTick = 1, timeScale = 50;
};

Bytes MakeHevcVps(const HevcVpsSpec& s) {
    BitWriter w;
    w.u(0, 4);
    w.u(1, 1);
    w.u(1, 1);
    w.u(0, 6);
    w.u(s.maxSubLayersMinus1, 3);
    w.u(1, 1);
    w.u(0xFFFF, 16);
    WriteProfileTierLevel(w, std::min(s.maxSubLayersMinus1, 6u));
    w.u(1, 1);
    for (uint32_t i = 0; i <= std::min(s.maxSubLayersMinus1, 6u); ++i) {
        w.ue(4);
        w.ue(0);
        w.ue(0);
    }
    w.u(s.maxLayerId, 6);
    w.ue(s.numLayerSetsMinus1);
    for (uint64_t i = 0; i < uint64_t(s.numLayerSetsMinus1) * (s.maxLayerId + 1); ++i)
        w.u(1, 1);
    w.u(s.timing, 1);
    if (s.timing) {
        w.u(s.unitsInTick, 32);
        w.u(s.timeScale, 32);
        w.u(0, 1);
        w.ue(0);
    }
    w.u(0, 1);
    return HevcNal(32, w.rbsp());
}

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

TEST(HevcSps, Table) {
    struct Case {
        const char* name;
        HevcSpsSpec sps;
        bool ok;
        int width, height;
    };
    using S = HevcSpsSpec;
    const Case cases[] = {
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
        {"16 + 16 pictures in a set", With<S>([](S& s) { s.shortTerm[0].negative = 16, s.shortTerm[0].positive = 16; }),
         true, 1920, 1080},
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = ParseUnits(MakeHevcVps(With<HevcVpsSpec>([](HevcVpsSpec& v) { v.timing = false; })),
                              MakeHevcSps(c.sps));
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
        EXPECT_EQ(o.info.colourPrimaries, 9);
        EXPECT_EQ(o.info.transferCharacteristics, 16);
        EXPECT_EQ(o.info.matrixCoefficients, 9);
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

TEST(HevcVps, Table) {
    struct Case {
        const char* name;
        HevcVpsSpec vps;
        bool ok;
    };
    using V = HevcVpsSpec;
    const Case cases[] = {
        {"plain", {}, true},
        {"1024 layer sets", With<V>([](V& v) { v.numLayerSetsMinus1 = 1023; }), true},
        {"layer ids up to 62", With<V>([](V& v) { v.maxLayerId = 62, v.numLayerSetsMinus1 = 3; }), true},
        {"seven sub-layers", With<V>([](V& v) { v.maxSubLayersMinus1 = 6; }), true},
        {"1025 layer sets", With<V>([](V& v) { v.numLayerSetsMinus1 = 1024; }), false},
        {"layer id 63", With<V>([](V& v) { v.maxLayerId = 63; }), false},
        {"eight sub-layers", With<V>([](V& v) { v.maxSubLayersMinus1 = 7; }), false},
    };
    HevcSpsSpec noTiming;
    noTiming.timing = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = ParseUnits(MakeHevcVps(c.vps), MakeHevcSps(noTiming));
        EXPECT_EQ(o.vps, c.ok ? 0 : -1);
        EXPECT_EQ(o.info.rateNum, c.ok ? 50u : 0u);
    }
}

} // namespace
