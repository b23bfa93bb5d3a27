// H.264 syntax readers and the operations built directly on them.
#include <cstddef>
#include <cstring>

#include "parse_avc.h"

namespace videoparse {

namespace {

constexpr uint32_t kSliceHeaderBytes = 256; // raw bytes that always hold the part read

bool IsHighProfile(uint32_t profile) {
    switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83:
    case 86: case 118: case 128: case 138: case 139: case 134:
        return true;
    default:
        return false;
    }
}

bool IsSlice(uint32_t type) { return type == 1 || type == 2 || type == 5; }

} // namespace

void CopyParams(VideoInfo* to, const VideoInfo& from) {
    to->hasParams = from.hasParams;
    constexpr size_t begin = offsetof(VideoInfo, width);
    constexpr size_t end = offsetof(VideoInfo, reserved);
    std::memcpy(reinterpret_cast<unsigned char*>(to) + begin,
                reinterpret_cast<const unsigned char*>(&from) + begin, end - begin);
}

int64_t CParseAVCParams::ReadSequenceParameterSetData(VideoInfo* info) {
    BitReader& r = reader_;
    AvcSps sps{};
    VideoInfo out;
    std::memcpy(&out, info, sizeof out);

    const uint32_t profile = r.Read(8);
    r.Read(8); // constraint flags
    r.Read(8); // level_idc
    sps.seq_parameter_set_id = r.GetUE();
    if (r.Error() || sps.seq_parameter_set_id >= kMaxSps)
        return -1;

    uint32_t chroma = 1;
    if (IsHighProfile(profile)) {
        chroma = r.GetUE();
        if (chroma > 3)
            return -1;
        if (chroma == 3)
            sps.separate_colour_plane_flag = r.Read(1);
        r.GetUE(); // bit_depth_luma_minus8
        r.GetUE(); // bit_depth_chroma_minus8
        r.Read(1); // qpprime_y_zero_transform_bypass_flag
        if (r.Read(1)) { // seq_scaling_matrix_present_flag
            const int lists = chroma == 3 ? 12 : 8;
            for (int i = 0; i < lists && !r.Error(); ++i) {
                if (!r.Read(1))
                    continue;
                const int size = i < 6 ? 16 : 64;
                int last = 8, next = 8;
                // At most `size` deltas: a list never runs longer than its size.
                for (int j = 0; j < size && next != 0; ++j) {
                    const int32_t delta = r.GetSE();
                    if (r.Error() || delta < -128 || delta > 127)
                        return -1;
                    next = (last + delta + 256) % 256;
                    if (next != 0)
                        last = next;
                }
            }
        }
    }

    sps.log2_max_frame_num_minus4 = r.GetUE();
    if (sps.log2_max_frame_num_minus4 > 12)
        return -1;
    sps.pic_order_cnt_type = r.GetUE();
    if (sps.pic_order_cnt_type == 0) {
        sps.log2_max_pic_order_cnt_lsb_minus4 = r.GetUE();
        if (sps.log2_max_pic_order_cnt_lsb_minus4 > 12)
            return -1;
    } else if (sps.pic_order_cnt_type == 1) {
        sps.delta_pic_order_always_zero_flag = r.Read(1);
        r.GetSE(); // offset_for_non_ref_pic
        r.GetSE(); // offset_for_top_to_bottom_field
        const uint32_t cycle = r.GetUE();
        if (cycle > 255)
            return -1;
        for (uint32_t i = 0; i < cycle && !r.Error(); ++i)
            r.GetSE();
    } else if (sps.pic_order_cnt_type != 2) {
        return -1;
    }

    r.GetUE(); // max_num_ref_frames
    sps.gaps_in_frame_num_value_allowed_flag = r.Read(1);
    const uint64_t widthMbs = uint64_t(r.GetUE()) + 1;
    const uint64_t heightUnits = uint64_t(r.GetUE()) + 1;
    sps.frame_mbs_only_flag = r.Read(1);
    if (!sps.frame_mbs_only_flag)
        r.Read(1); // mb_adaptive_frame_field_flag
    r.Read(1);     // direct_8x8_inference_flag
    uint64_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    if (r.Read(1)) {
        cropLeft = r.GetUE();
        cropRight = r.GetUE();
        cropTop = r.GetUE();
        cropBottom = r.GetUE();
    }
    if (r.Error())
        return -1;

    uint64_t cropX = 2, cropY = 2 * (2 - sps.frame_mbs_only_flag);
    if (chroma == 0 || chroma == 3) {
        cropX = 1;
        cropY = 2 - sps.frame_mbs_only_flag;
    } else if (chroma == 2) {
        cropY = 2 - sps.frame_mbs_only_flag;
    }
    const uint64_t codedWidth = widthMbs * 16;
    const uint64_t codedHeight = heightUnits * (2 - sps.frame_mbs_only_flag) * 16;
    const uint64_t cropW = cropX * (cropLeft + cropRight);
    const uint64_t cropH = cropY * (cropTop + cropBottom);
    if (codedWidth > INT32_MAX || codedHeight > INT32_MAX || cropW >= codedWidth ||
        cropH >= codedHeight)
        return -1;
    out.width = static_cast<int32_t>(codedWidth - cropW);
    out.height = static_cast<int32_t>(codedHeight - cropH);

    if (r.Read(1)) { // vui_parameters_present_flag
        if (r.Read(1)) { // aspect_ratio_info_present_flag
            if (r.Read(8) == 255) {
                r.Read(16);
                r.Read(16);
            }
        }
        if (r.Read(1))
            r.Read(1); // overscan_appropriate_flag
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
        if (r.Read(1)) { // chroma_loc_info_present_flag
            r.GetUE();
            r.GetUE();
        }
        if (r.Read(1)) { // timing_info_present_flag
            const uint32_t unitsInTick = r.Read(32);
            const uint32_t timeScale = r.Read(32);
            r.Read(1); // fixed_frame_rate_flag
            // A tick of 2^31 units or more is legal, but its doubled
            // denominator does not fit: the rate is reported unknown (0/0).
            const bool fits = unitsInTick <= UINT32_MAX / 2;
            out.rateNum = fits ? timeScale : 0;
            out.rateDen = fits ? 2 * unitsInTick : 0;
        }
    }
    if (r.Error())
        return -1;

    out.hasParams = 1;
    CopyParams(info, out);
    sps_[sps.seq_parameter_set_id] = sps;
    spsPresent_[sps.seq_parameter_set_id] = true;
    return 0;
}

int64_t CParseAVCParams::ReadPictureParameterSetData(VideoInfo*) {
    BitReader& r = reader_;
    AvcPps pps{};
    pps.pic_parameter_set_id = r.GetUE();
    pps.seq_parameter_set_id = r.GetUE();
    r.Read(1); // entropy_coding_mode_flag
    pps.bottom_field_pic_order_in_frame_present_flag = r.Read(1);
    if (r.Error() || pps.pic_parameter_set_id >= kMaxPps || pps.seq_parameter_set_id >= kMaxSps)
        return -1;
    pps_[pps.pic_parameter_set_id] = pps;
    ppsPresent_[pps.pic_parameter_set_id] = true;
    return 0;
}

bool CParseAVCParams::IsNewPicture(const AvcSlice& a, const AvcSlice& b, const AvcSps& sps) const {
    if (a.frame_num != b.frame_num || a.pic_parameter_set_id != b.pic_parameter_set_id ||
        a.field_pic_flag != b.field_pic_flag || a.idr_flag != b.idr_flag)
        return true;
    if (a.field_pic_flag && b.field_pic_flag && a.bottom_field_flag != b.bottom_field_flag)
        return true;
    if (a.nal_ref_idc != b.nal_ref_idc && (a.nal_ref_idc == 0 || b.nal_ref_idc == 0))
        return true;
    if (sps.pic_order_cnt_type == 0 && (a.pic_order_cnt_lsb != b.pic_order_cnt_lsb ||
                                        a.delta_pic_order_cnt_bottom != b.delta_pic_order_cnt_bottom))
        return true;
    if (sps.pic_order_cnt_type == 1 && (a.delta_pic_order_cnt[0] != b.delta_pic_order_cnt[0] ||
                                        a.delta_pic_order_cnt[1] != b.delta_pic_order_cnt[1]))
        return true;
    return a.idr_flag && b.idr_flag && a.idr_pic_id != b.idr_pic_id;
}

int64_t CParseAVCParams::ReadSliceHeaderData(VideoInfo*, uint32_t nal_unit_type,
                                             uint32_t nal_ref_idc, int* newPicture) {
    BitReader& r = reader_;
    AvcSlice s{};
    *newPicture = 0;
    s.first_mb_in_slice = r.GetUE();
    s.slice_type = r.GetUE();
    s.pic_parameter_set_id = r.GetUE();
    if (r.Error() || s.slice_type > 9 || s.pic_parameter_set_id >= kMaxPps ||
        !ppsPresent_[s.pic_parameter_set_id])
        return -1;
    const AvcPps& pps = pps_[s.pic_parameter_set_id];
    if (!spsPresent_[pps.seq_parameter_set_id])
        return -1;
    const AvcSps& sps = sps_[pps.seq_parameter_set_id];

    if (sps.separate_colour_plane_flag)
        r.Read(2);
    s.frame_num = r.Read(sps.log2_max_frame_num_minus4 + 4);
    if (!sps.frame_mbs_only_flag) {
        s.field_pic_flag = r.Read(1);
        if (s.field_pic_flag)
            s.bottom_field_flag = r.Read(1);
    }
    s.nal_ref_idc = nal_ref_idc;
    s.idr_flag = nal_unit_type == 5;
    if (s.idr_flag)
        s.idr_pic_id = r.GetUE();
    if (sps.pic_order_cnt_type == 0) {
        s.pic_order_cnt_lsb = r.Read(sps.log2_max_pic_order_cnt_lsb_minus4 + 4);
        if (pps.bottom_field_pic_order_in_frame_present_flag && !s.field_pic_flag)
            s.delta_pic_order_cnt_bottom = r.GetSE();
    } else if (sps.pic_order_cnt_type == 1 && !sps.delta_pic_order_always_zero_flag) {
        s.delta_pic_order_cnt[0] = r.GetSE();
        if (pps.bottom_field_pic_order_in_frame_present_flag && !s.field_pic_flag)
            s.delta_pic_order_cnt[1] = r.GetSE();
    }
    if (r.Error())
        return -1;

    maxFrameNum_ = 1u << (sps.log2_max_frame_num_minus4 + 4);
    gapsAllowed_ = sps.gaps_in_frame_num_value_allowed_flag;
    curSlice_ = s;
    if (firstSlice_)
        firstSlice_ = false;
    else
        *newPicture = IsNewPicture(prevSlice_, curSlice_, sps) ? 1 : 0;
    prevSlice_ = curSlice_;
    return 0;
}

int64_t CParseAVCParams::ParseUnit(const NalUnit& nal, uint32_t type, uint32_t refIdc,
                                   VideoInfo* target, int* newPicture, bool headerOnly) {
    uint32_t n = nal.payloadLength();
    if (headerOnly && n > kSliceHeaderBytes)
        n = kSliceHeaderBytes;
    const uint8_t* rbsp;
    uint32_t rbspLen;
    if (GetRbspData(nal.payload(), n, &rbsp, &rbspLen) < 0 || rbspLen < 1)
        return -1;
    InitReadData(rbsp + 1, rbspLen - 1);
    int dummy = 0;
    switch (type) {
    case 7:
        return ReadSequenceParameterSetData(target);
    case 8:
        return ReadPictureParameterSetData(target);
    case 1: case 2: case 5:
        return ReadSliceHeaderData(target, type, refIdc, newPicture ? newPicture : &dummy);
    default:
        return 0;
    }
}

int64_t CParseAVCParams::SetParameterSetData(uint8_t* sps, uint32_t spsLen, uint8_t* pps,
                                             uint32_t ppsLen) {
    static const uint8_t kStartCode[4] = {0, 0, 0, 1};
    ByteBuffer units[2];
    const uint8_t* src[2] = {sps, pps};
    const uint32_t len[2] = {spsLen, ppsLen};
    for (int i = 0; i < 2; ++i) {
        const bool hasStart = (len[i] >= 3 && src[i][0] == 0 && src[i][1] == 0 && src[i][2] == 1) ||
                              (len[i] >= 4 && src[i][0] == 0 && src[i][1] == 0 && src[i][2] == 0 &&
                               src[i][3] == 1);
        if (!hasStart && !units[i].append(kStartCode, 4))
            return -1;
        if (!units[i].append(src[i], len[i]))
            return -1;
    }

    // Parse both before anything is kept: a unit that fails leaves the handle as it was.
    VideoInfo params;
    std::memcpy(&params, &paramInfo_, sizeof params);
    AvcSps savedSps[kMaxSps];
    bool savedSpsPresent[kMaxSps];
    std::memcpy(savedSps, sps_, sizeof sps_);
    std::memcpy(savedSpsPresent, spsPresent_, sizeof spsPresent_);
    for (int i = 0; i < 2; ++i) {
        NalWalker walk;
        walk.SetData(units[i].data, units[i].length);
        NalUnit nal;
        int64_t r = walk.Next(&nal) == 1 ? 0 : -1;
        if (r == 0 && (nal.payload()[0] & 0x80))
            r = -1;
        if (r == 0) {
            const uint8_t* rbsp;
            uint32_t rbspLen;
            r = GetRbspData(nal.payload(), nal.payloadLength(), &rbsp, &rbspLen);
            if (r == 0) {
                InitReadData(rbsp + 1, rbspLen - 1);
                r = i == 0 ? ReadSequenceParameterSetData(&params)
                           : ReadPictureParameterSetData(&params);
            }
        }
        if (r != 0) {
            std::memcpy(sps_, savedSps, sizeof sps_);
            std::memcpy(spsPresent_, savedSpsPresent, sizeof spsPresent_);
            return -1;
        }
    }
    // PPS table entries are only added by a successful PPS parse, the last step.
    if (!storedSps_.assign(units[0].data, units[0].length) ||
        !storedPps_.assign(units[1].data, units[1].length)) {
        storedSps_.length = storedPps_.length = 0;
        return -1;
    }
    std::memcpy(&paramInfo_, &params, sizeof params);
    return 0;
}

int64_t CParseAVCParams::GetParameterSetData(uint8_t* frame, uint32_t len, ParameterSetData* out) {
    slots_[1].length = slots_[2].length = 0;
    std::memset(out, 0, sizeof *out);
    SetData(frame, len);
    NalUnit nal;
    int r;
    while ((r = GetNalDataEx(&nal)) == 1) {
        const uint32_t type = nal.payload()[0] & 31;
        ByteBuffer* slot = type == 7 ? &slots_[1] : type == 8 ? &slots_[2] : nullptr;
        // A unit longer than the slot grows it.
        if (slot && !slot->assign(nal.data, nal.length))
            return -1;
    }
    for (int i = 1; i < 3; ++i) {
        if (slots_[i].length) {
            out->slot[i].data = slots_[i].data;
            out->slot[i].size = slots_[i].length;
        }
    }
    return r < 0 ? -1 : 0;
}

int64_t CParseAVCParams::VideoSampleTest(const uint8_t* data, uint32_t len, VideoInfoEx* info) {
    std::memset(info, 0, sizeof *info);
    SetData(data, len);
    NalUnit nal;
    VideoInfo scratch{};
    int r;
    uint32_t type = 0, refIdc = 0;
    bool found = false;
    while ((r = GetNalDataEx(&nal)) == 1) {
        const uint8_t hdr = nal.payload()[0];
        type = hdr & 31;
        refIdc = (hdr >> 5) & 3;
        if (type == 7 || type == 8) {
            ParseUnit(nal, type, refIdc, &scratch, nullptr, false);
        } else if (IsSlice(type)) {
            found = true;
            break;
        }
    }
    if (!found)
        return r < 0 ? -1 : 0;

    int newPicture = 0;
    if ((nal.payload()[0] & 0x80) || ParseUnit(nal, type, refIdc, &scratch, &newPicture, true) != 0) {
        info->lost = 1;
        firstFieldOpen_ = false;
        return -1;
    }
    const AvcSlice& s = curSlice_;
    curFrameNum_ = s.frame_num;
    info->frame = s.field_pic_flag ? 0 : 1;
    // The second field of a pair has the other parity and the frame_num of the
    // first; an intra second field (IDR or I first field, then I) must not
    // reset the parity that the first field set.
    const bool pairsWithFirst = s.field_pic_flag && firstFieldOpen_ &&
                                s.bottom_field_flag != firstFieldBottom_ &&
                                s.frame_num == firstFieldFrameNum_;
    if (type == 5 || s.slice_type == 2 || s.slice_type == 7) {
        if (!s.field_pic_flag) {
            fieldParity_ = 0;
        } else if (!pairsWithFirst) {
            fieldParity_ = 1 - s.bottom_field_flag;
            fieldLoss_ = 0;
        }
        info->intra = 1;
    }
    firstFieldOpen_ = s.field_pic_flag && !pairsWithFirst;
    firstFieldBottom_ = s.bottom_field_flag;
    firstFieldFrameNum_ = s.frame_num;
    if (!gapsAllowed_ && type != 5) {
        const bool secondField =
            s.field_pic_flag && ((s.bottom_field_flag && fieldParity_ == 1) ||
                                 (!s.bottom_field_flag && fieldParity_ == 0));
        if (secondField) {
            info->lost = static_cast<int32_t>(fieldLoss_);
        } else {
            if (s.field_pic_flag)
                fieldLoss_ = 0;
            if (curFrameNum_ != (prevRefFrameNum_ + 1) % maxFrameNum_) {
                info->lost = 1;
                if (s.field_pic_flag)
                    fieldLoss_ = 1;
            }
        }
    }
    if (s.nal_ref_idc)
        prevRefFrameNum_ = curFrameNum_;
    return 0;
}

int64_t CParseAVCParams::QuerySliceType(const uint8_t* data, uint32_t len, VideoPicType& type) {
    type = VideoPicNone;
    if (!data)
        return -1;
    SetData(data, len);
    NalUnit nal;
    while (GetNalDataEx(&nal) == 1) {
        const uint8_t hdr = nal.payload()[0];
        const uint32_t t = hdr & 31;
        if (t != 1 && t != 5)
            continue;
        if (hdr & 0x80)
            return -1;
        const uint8_t* rbsp;
        uint32_t rbspLen;
        uint32_t n = nal.payloadLength();
        if (n > kSliceHeaderBytes)
            n = kSliceHeaderBytes;
        if (GetRbspData(nal.payload(), n, &rbsp, &rbspLen) < 0)
            return -1;
        InitReadData(rbsp + 1, rbspLen - 1);
        GetUE(); // first_mb_in_slice
        const uint32_t sliceType = GetUE();
        if (ReadError() || sliceType > 9)
            return -1;
        type = static_cast<VideoPicType>(sliceType);
        return 0;
    }
    return -1;
}

int64_t CParseAVCParams::SetVideoData(uint8_t* data, uint32_t len) {
    videoWalker_.SetData(data, len);
    return 0;
}

int64_t CParseAVCParams::GetNalUnit(uint8_t** nalOut, uint32_t* nalLen, bool* isSlice,
                                    uint32_t* headerLen) {
    *nalOut = nullptr;
    *nalLen = 0;
    *isSlice = false;
    *headerLen = 0;
    NalUnit nal;
    if (videoWalker_.Next(&nal) != 1)
        return -1; // the end: no unit
    // From here on the unit is handed out, also when it fails, so that a walk
    // can go on past it.
    *nalOut = const_cast<uint8_t*>(nal.data);
    *nalLen = nal.length;
    const uint8_t hdr = nal.payload()[0];
    if (hdr & 0x80)
        return -1;
    const uint32_t type = hdr & 31;
    int64_t r = 0;
    VideoInfo scratch{};
    if (IsSlice(type)) {
        *isSlice = true;
        int newPicture = 0;
        r = ParseUnit(nal, type, (hdr >> 5) & 3, &scratch, &newPicture, true);
        if (r == 0) {
            // RBSP bytes of the header part (up to the byte the reader stopped
            // on), counted again with the emulation-prevention bytes they need.
            const uint8_t* start = rbsp_.data + 1;
            const uint8_t* stop = GetDataPtr();
            uint32_t n = static_cast<uint32_t>(stop - start) + 1;
            const uint32_t avail = static_cast<uint32_t>(reader_.BytesLeft() + (stop - start));
            if (n > avail)
                n = avail;
            *headerLen = n + CountEscapes(start, n);
        }
    } else if (type == 7 || type == 8) {
        r = ParseUnit(nal, type, 0, &scratch, nullptr, false);
    }
    return r;
}

int64_t CParseAVCParams::GetNalFromFrame(uint8_t* frame, uint32_t len, uint32_t* count,
                                         uint8_t*** nals, uint32_t** lens) {
    *count = 0;
    *nals = nullptr;
    *lens = nullptr;
    SetData(frame, len);
    NalUnit nal;
    uint32_t n = 0;
    int r;
    while ((r = GetNalDataEx(&nal)) == 1) {
        if (!GrowNalList(n + 1))
            return -1;
        nalList_[n] = const_cast<uint8_t*>(nal.data);
        nalLengths_[n] = nal.length;
        ++n;
    }
    if (n) {
        *count = n;
        *nals = nalList_;
        *lens = nalLengths_;
    }
    return r < 0 ? -1 : 0;
}

} // namespace videoparse
