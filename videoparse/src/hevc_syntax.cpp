// H.265 VPS and SPS readers, up to the timing information.
#include <cstring>

#include "parse_hevc.h"

namespace videoparse {

namespace {

// profile_tier_level(1, maxSubLayersMinus1); false on a read error.
bool SkipProfileTierLevel(BitReader& r, uint32_t maxSubLayersMinus1) {
    r.Skip(2 + 1 + 5 + 32 + 4 + 43 + 1 + 8);
    bool profilePresent[8] = {}, levelPresent[8] = {};
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = r.ReadFlag();
        levelPresent[i] = r.ReadFlag();
    }
    if (maxSubLayersMinus1 > 0)
        for (uint32_t i = maxSubLayersMinus1; i < 8; ++i)
            r.Skip(2);
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i])
            r.Skip(2 + 1 + 5 + 32 + 4 + 43 + 1);
        if (levelPresent[i])
            r.Skip(8);
    }
    return !r.Error();
}

bool SkipScalingListData(BitReader& r) {
    for (uint32_t sizeId = 0; sizeId < 4; ++sizeId) {
        for (uint32_t matrixId = 0; matrixId < 6; matrixId += sizeId == 3 ? 3 : 1) {
            if (!r.ReadFlag()) {
                const uint32_t delta = r.GetUE(); // scaling_list_pred_matrix_id_delta
                if (delta > (sizeId == 3 ? matrixId / 3 : matrixId))
                    return false;
            } else {
                const uint32_t coefs = sizeId == 0 ? 16 : 64;
                if (sizeId > 1) {
                    const int32_t dc = r.GetSE();
                    if (dc < -7 || dc > 247)
                        return false;
                }
                for (uint32_t i = 0; i < coefs; ++i) {
                    const int32_t d = r.GetSE();
                    if (d < -128 || d > 127 || r.Error())
                        return false;
                }
            }
            if (r.Error())
                return false;
        }
    }
    return true;
}

constexpr uint32_t kMaxShortTermRefPicSets = 64;
constexpr uint32_t kMaxDeltaPocs = 32; // the standard keeps a set within the 16-picture DPB

// The POC differences of one short-term set, as the standard derives them.
struct ShortTermRefPicSet {
    uint32_t numNegative = 0, numPositive = 0;
    int32_t s0[kMaxDeltaPocs + 1] = {}, s1[kMaxDeltaPocs + 1] = {};
};

// st_ref_pic_set(idx) as in the SPS (the reference set is idx - 1). A set
// predicted from another keeps only the entries flagged for use whose POC
// difference is not 0, so the next set reads one flag pair per entry kept.
bool SkipShortTermRefPicSet(BitReader& r, uint32_t idx, ShortTermRefPicSet* sets) {
    ShortTermRefPicSet& set = sets[idx];
    bool interPrediction = idx != 0 && r.ReadFlag();
    if (interPrediction) {
        const bool negativeSign = r.ReadFlag(); // delta_rps_sign
        const uint32_t absMinus1 = r.GetUE();   // abs_delta_rps_minus1
        if (absMinus1 > 32767)
            return false;
        const int32_t deltaRps = (negativeSign ? -1 : 1) * static_cast<int32_t>(absMinus1 + 1);
        const ShortTermRefPicSet& ref = sets[idx - 1];
        const uint32_t refCount = ref.numNegative + ref.numPositive;
        bool use[2 * kMaxDeltaPocs + 1];
        for (uint32_t j = 0; j <= refCount; ++j) {
            const bool used = r.ReadFlag();           // used_by_curr_pic_flag
            use[j] = used ? true : r.ReadFlag();      // use_delta_flag (1 when absent)
        }
        if (r.Error())
            return false;
        // Entry j < numNegative is ref.s0[j], then ref.s1, then deltaRps itself.
        uint32_t n = 0;
        auto keep = [&](int32_t* out, int32_t dPoc) {
            if (n >= kMaxDeltaPocs + 1)
                return false;
            out[n++] = dPoc;
            return true;
        };
        for (uint32_t j = ref.numPositive; j-- > 0;) {
            const int32_t d = ref.s1[j] + deltaRps;
            if (d < 0 && use[ref.numNegative + j] && !keep(set.s0, d))
                return false;
        }
        if (deltaRps < 0 && use[refCount] && !keep(set.s0, deltaRps))
            return false;
        for (uint32_t j = 0; j < ref.numNegative; ++j) {
            const int32_t d = ref.s0[j] + deltaRps;
            if (d < 0 && use[j] && !keep(set.s0, d))
                return false;
        }
        set.numNegative = n;
        n = 0;
        for (uint32_t j = ref.numNegative; j-- > 0;) {
            const int32_t d = ref.s0[j] + deltaRps;
            if (d > 0 && use[j] && !keep(set.s1, d))
                return false;
        }
        if (deltaRps > 0 && use[refCount] && !keep(set.s1, deltaRps))
            return false;
        for (uint32_t j = 0; j < ref.numPositive; ++j) {
            const int32_t d = ref.s1[j] + deltaRps;
            if (d > 0 && use[ref.numNegative + j] && !keep(set.s1, d))
                return false;
        }
        set.numPositive = n;
        if (set.numNegative + set.numPositive > kMaxDeltaPocs)
            return false;
    } else {
        const uint32_t negative = r.GetUE();
        const uint32_t positive = r.GetUE();
        if (negative > 16 || positive > 16)
            return false;
        int32_t poc = 0;
        for (uint32_t i = 0; i < negative; ++i) {
            const uint32_t minus1 = r.GetUE(); // delta_poc_s0_minus1
            if (minus1 > 32767)
                return false;
            r.Skip(1);
            poc -= static_cast<int32_t>(minus1 + 1);
            set.s0[i] = poc;
        }
        poc = 0;
        for (uint32_t i = 0; i < positive; ++i) {
            const uint32_t minus1 = r.GetUE(); // delta_poc_s1_minus1
            if (minus1 > 32767)
                return false;
            r.Skip(1);
            poc += static_cast<int32_t>(minus1 + 1);
            set.s1[i] = poc;
        }
        set.numNegative = negative;
        set.numPositive = positive;
    }
    return !r.Error();
}

bool SkipSubLayerOrdering(BitReader& r, uint32_t maxSubLayersMinus1) {
    const bool present = r.ReadFlag();
    for (uint32_t i = present ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i) {
        r.GetUE();
        r.GetUE();
        r.GetUE();
    }
    return !r.Error();
}

} // namespace

int64_t CParseHEVCParams::ReadVideoParameterSetData(VideoInfo* info) {
    BitReader& r = reader_;
    r.Skip(4 + 1 + 1 + 6); // id, base layer flags, vps_max_layers_minus1
    const uint32_t maxSubLayersMinus1 = r.Read(3);
    if (maxSubLayersMinus1 > 6)
        return -1;
    r.Skip(1 + 16);
    if (!SkipProfileTierLevel(r, maxSubLayersMinus1) || !SkipSubLayerOrdering(r, maxSubLayersMinus1))
        return -1;
    const uint32_t maxLayerId = r.Read(6);
    const uint32_t numLayerSetsMinus1 = r.GetUE();
    if (r.Error() || maxLayerId > 62 || numLayerSetsMinus1 > 1023)
        return -1;
    r.Skip(uint64_t(numLayerSetsMinus1) * (maxLayerId + 1)); // layer_id_included_flag
    uint32_t unitsInTick = 0, timeScale = 0;
    const bool timing = r.ReadFlag();
    if (timing) {
        unitsInTick = r.Read(32);
        timeScale = r.Read(32);
    }
    if (r.Error())
        return -1;
    if (timing) {
        info->rateNum = timeScale;
        info->rateDen = unitsInTick;
    }
    return 0;
}

int64_t CParseHEVCParams::ReadSequenceParameterSetData(VideoInfo* info) {
    BitReader& r = reader_;
    VideoInfo out;
    std::memcpy(&out, info, sizeof out);

    r.Skip(4); // sps_video_parameter_set_id
    const uint32_t maxSubLayersMinus1 = r.Read(3);
    if (maxSubLayersMinus1 > 6)
        return -1;
    r.Skip(1);
    if (!SkipProfileTierLevel(r, maxSubLayersMinus1))
        return -1;
    if (r.GetUE() > 15) // sps_seq_parameter_set_id
        return -1;
    const uint32_t chroma = r.GetUE();
    if (chroma > 3)
        return -1;
    if (chroma == 3)
        r.Skip(1);
    const uint64_t width = r.GetUE();
    const uint64_t height = r.GetUE();
    uint64_t left = 0, right = 0, top = 0, bottom = 0;
    if (r.ReadFlag()) {
        left = r.GetUE();
        right = r.GetUE();
        top = r.GetUE();
        bottom = r.GetUE();
    }
    if (r.Error())
        return -1;
    const uint64_t subW = chroma == 1 || chroma == 2 ? 2 : 1;
    const uint64_t subH = chroma == 1 ? 2 : 1;
    if (width > INT32_MAX || height > INT32_MAX || subW * (left + right) >= width ||
        subH * (top + bottom) >= height)
        return -1;
    out.width = static_cast<int32_t>(width - subW * (left + right));
    out.height = static_cast<int32_t>(height - subH * (top + bottom));

    r.GetUE(); // bit_depth_luma_minus8
    r.GetUE(); // bit_depth_chroma_minus8
    const uint32_t log2PocLsbMinus4 = r.GetUE();
    if (log2PocLsbMinus4 > 12)
        return -1;
    if (!SkipSubLayerOrdering(r, maxSubLayersMinus1))
        return -1;
    for (int i = 0; i < 6; ++i)
        r.GetUE(); // coding and transform block sizes, hierarchy depths
    if (r.ReadFlag() && r.ReadFlag() && !SkipScalingListData(r))
        return -1;
    r.Skip(2); // amp_enabled_flag, sample_adaptive_offset_enabled_flag
    if (r.ReadFlag()) { // pcm_enabled_flag
        r.Skip(8);
        r.GetUE();
        r.GetUE();
        r.Skip(1);
    }
    const uint32_t numShortTerm = r.GetUE();
    if (r.Error() || numShortTerm > kMaxShortTermRefPicSets)
        return -1;
    ShortTermRefPicSet sets[kMaxShortTermRefPicSets];
    for (uint32_t i = 0; i < numShortTerm; ++i)
        if (!SkipShortTermRefPicSet(r, i, sets))
            return -1;
    if (r.ReadFlag()) { // long_term_ref_pics_present_flag
        const uint32_t numLongTerm = r.GetUE();
        if (numLongTerm > 32)
            return -1;
        r.Skip(uint64_t(numLongTerm) * (log2PocLsbMinus4 + 4 + 1));
    }
    r.Skip(2); // sps_temporal_mvp_enabled_flag, strong_intra_smoothing_enabled_flag
    if (r.ReadFlag()) { // vui_parameters_present_flag
        if (r.ReadFlag() && r.Read(8) == 255)
            r.Skip(32); // sar_width, sar_height
        if (r.ReadFlag())
            r.Skip(1); // overscan_appropriate_flag
        const uint32_t signalType = r.Read(1);
        out.videoSignalTypePresent = static_cast<int32_t>(signalType);
        out.colourPrimaries = out.transferCharacteristics = out.matrixCoefficients = 2;
        if (!signalType) {
            out.videoFormat = 5;
            out.videoFullRange = 0;
            out.colourDescriptionPresent = 0;
        } else {
            out.videoFormat = static_cast<int32_t>(r.Read(3));
            out.videoFullRange = static_cast<int32_t>(r.Read(1));
            out.colourDescriptionPresent = static_cast<int32_t>(r.Read(1));
            if (out.colourDescriptionPresent) {
                out.colourPrimaries = static_cast<int32_t>(r.Read(8));
                out.transferCharacteristics = static_cast<int32_t>(r.Read(8));
                out.matrixCoefficients = static_cast<int32_t>(r.Read(8));
            }
        }
        if (r.ReadFlag()) { // chroma_loc_info_present_flag
            r.GetUE();
            r.GetUE();
        }
        r.Skip(3); // neutral_chroma_indication, field_seq, frame_field_info_present
        if (r.ReadFlag()) { // default_display_window_flag
            for (int i = 0; i < 4; ++i)
                r.GetUE();
        }
        if (r.ReadFlag()) { // vui_timing_info_present_flag
            out.rateDen = r.Read(32);
            out.rateNum = r.Read(32);
        }
    }
    if (r.Error())
        return -1;
    out.hasParams = 1;
    std::memcpy(info, &out, sizeof out);
    return 0;
}

int64_t CParseHEVCParams::ReadSliceHeaderData(VideoInfo*, uint32_t, int* newPicture) {
    *newPicture = 0;
    const uint32_t first = reader_.Read(1); // first_slice_segment_in_pic_flag
    if (reader_.Error())
        return -1;
    if (firstSlice_)
        firstSlice_ = false;
    else
        *newPicture = static_cast<int>(first);
    return 0;
}

} // namespace videoparse
