// Writer for hand-made H.265 VPS and SPS units.
#pragma once

#include <algorithm>
#include <vector>

#include "stream_util.h"

namespace vptest {

// One st_ref_pic_set of the SPS. An explicit set has `negative` pictures at
// POC differences -k, -2k, ... and `positive` at +k, +2k, ... (k = deltaMinus1
// + 1); a predicted set
// (inter) is the previous set moved by deltaRps, with one used / use-delta
// choice per entry of the previous set and one for deltaRps itself (flags
// default to all used).
struct ShortTermSet {
    bool inter = false;
    uint32_t negative = 1, positive = 0; // when not inter
    uint32_t deltaMinus1 = 0;            // when not inter: every step is deltaMinus1 + 1
    int32_t deltaRps = 1;                // when inter
    std::vector<int> use;                // when inter: 1 used, 0 kept unused, -1 dropped
};

// The POC differences of a set, derived from the previous one as the H.265
// standard does for a predicted set (entries whose difference is 0 are dropped).
struct DerivedSet {
    std::vector<int32_t> s0, s1;
};

inline DerivedSet DeriveSet(const DerivedSet& ref, const ShortTermSet& st) {
    DerivedSet out;
    if (!st.inter) {
        const int32_t k = int32_t(st.deltaMinus1 + 1);
        for (uint32_t i = 0; i < st.negative; ++i)
            out.s0.push_back(-k * int32_t(i + 1));
        for (uint32_t i = 0; i < st.positive; ++i)
            out.s1.push_back(k * int32_t(i + 1));
        return out;
    }
    const size_t n0 = ref.s0.size(), n1 = ref.s1.size();
    auto kept = [&](size_t j) { return j >= st.use.size() || st.use[j] >= 0; };
    const int32_t d = st.deltaRps;
    for (size_t j = n1; j-- > 0;)
        if (ref.s1[j] + d < 0 && kept(n0 + j))
            out.s0.push_back(ref.s1[j] + d);
    if (d < 0 && kept(n0 + n1))
        out.s0.push_back(d);
    for (size_t j = 0; j < n0; ++j)
        if (ref.s0[j] + d < 0 && kept(j))
            out.s0.push_back(ref.s0[j] + d);
    for (size_t j = n0; j-- > 0;)
        if (ref.s0[j] + d > 0 && kept(j))
            out.s1.push_back(ref.s0[j] + d);
    if (d > 0 && kept(n0 + n1))
        out.s1.push_back(d);
    for (size_t j = 0; j < n1; ++j)
        if (ref.s1[j] + d > 0 && kept(n0 + j))
            out.s1.push_back(ref.s1[j] + d);
    return out;
}

struct HevcSpsSpec {
    uint32_t maxSubLayersMinus1 = 0;
    uint32_t chroma = 1;
    uint32_t width = 1920, height = 1088;
    uint32_t conf[4] = {0, 0, 0, 4};
    uint32_t log2PocLsbMinus4 = 4;
    bool scaling = false;
    bool scalingLarge = false; // coefficients stepping by +127 / -127 (the longest codes)
    uint32_t maxDecPicBufferingMinus1 = 4;
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

inline void WriteProfileTierLevel(BitWriter& w, uint32_t maxSub) {
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

inline Bytes HevcNal(uint32_t type, const Bytes& rbsp) {
    return Nal(uint8_t(type << 1), Cat({{0x01}, rbsp}));
}

inline Bytes MakeHevcSps(const HevcSpsSpec& s) {
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
        w.ue(s.maxDecPicBufferingMinus1);
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
                    w.se(s.scalingLarge ? (i % 2 ? -127 : 127) : i == 0 ? s.scalingDelta : 0);
            }
    }
    w.u(0, 1); // amp
    w.u(1, 1); // sao
    w.u(0, 1); // pcm
    w.ue(s.shortTerm.size());
    DerivedSet prev;
    for (size_t i = 0; i < s.shortTerm.size(); ++i) {
        const ShortTermSet& st = s.shortTerm[i];
        if (i != 0)
            w.u(st.inter, 1);
        if (st.inter) {
            w.u(st.deltaRps < 0, 1);                                // delta_rps_sign
            w.ue(uint32_t(st.deltaRps < 0 ? -st.deltaRps : st.deltaRps) - 1); // abs_delta_rps_minus1
            const size_t n = prev.s0.size() + prev.s1.size();
            for (size_t j = 0; j <= n; ++j) {
                const int use = j < st.use.size() ? st.use[j] : 1;
                w.u(use == 1, 1); // used_by_curr_pic_flag
                if (use != 1)
                    w.u(use == 0, 1); // use_delta_flag
            }
        } else {
            w.ue(st.negative);
            w.ue(st.positive);
            for (uint32_t j = 0; j < st.negative + st.positive; ++j) {
                w.ue(st.deltaMinus1);
                w.u(1, 1);
            }
        }
        prev = DeriveSet(prev, st);
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

inline Bytes MakeHevcVps(const HevcVpsSpec& s) {
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

} // namespace vptest
