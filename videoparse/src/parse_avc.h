// H.264 parser: access-unit assembly, parameter sets, sample tests, NAL listing.
#pragma once

#include "parser_base.h"

namespace videoparse {

struct AvcSps {
    uint32_t seq_parameter_set_id;
    uint32_t separate_colour_plane_flag;
    uint32_t log2_max_frame_num_minus4;
    uint32_t pic_order_cnt_type;
    uint32_t log2_max_pic_order_cnt_lsb_minus4;
    uint32_t delta_pic_order_always_zero_flag;
    uint32_t frame_mbs_only_flag;
    uint32_t gaps_in_frame_num_value_allowed_flag;
};

struct AvcPps {
    uint32_t pic_parameter_set_id;
    uint32_t seq_parameter_set_id;
    uint32_t bottom_field_pic_order_in_frame_present_flag;
};

struct AvcSlice {
    uint32_t first_mb_in_slice;
    uint32_t slice_type;
    uint32_t pic_parameter_set_id;
    uint32_t frame_num;
    uint32_t field_pic_flag;
    uint32_t bottom_field_flag;
    uint32_t nal_ref_idc;
    uint32_t idr_flag;
    uint32_t idr_pic_id;
    uint32_t pic_order_cnt_lsb;
    int32_t delta_pic_order_cnt_bottom;
    int32_t delta_pic_order_cnt[2];
};

class CParseAVCParams : public CParserBase {
public:
    static constexpr uint32_t kMaxSps = 32;
    static constexpr uint32_t kMaxPps = 256;

    CParseAVCParams();
    ~CParseAVCParams() override;

    int64_t Create() override;
    int64_t Release() override;
    int64_t ReadVideoParams(const uint8_t* data, uint32_t len, VideoInfo* info, int) override;
    int64_t VideoSampleTest(const uint8_t* data, uint32_t len, VideoInfoEx* info) override;
    int64_t QuerySliceType(const uint8_t* data, uint32_t len, VideoPicType& type) override;
    int64_t SetVideoData(uint8_t* data, uint32_t len) override;
    int64_t GetNalUnit(uint8_t** nal, uint32_t* nalLen, bool* isSlice, uint32_t* headerLen) override;
    int64_t GetNalFromFrame(uint8_t* frame, uint32_t len, uint32_t* count, uint8_t*** nals,
                            uint32_t** lens) override;
    int64_t SetParameterSetData(uint8_t* sps, uint32_t spsLen, uint8_t* pps,
                                uint32_t ppsLen) override;
    int64_t GetParameterSetData(uint8_t* frame, uint32_t len, ParameterSetData* out) override;
    int64_t AddUserData(const uint8_t* frame, uint32_t frameLen, const uint8_t* user,
                        uint32_t userLen, const uint8_t** out, uint32_t* outLen) override;
    int64_t GetUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                        uint32_t* outLen) override;
    int64_t RemoveUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                           uint32_t* outLen) override;

    // Parse the RBSP set with InitReadData, after the NAL header. -1 when the
    // unit is malformed or out of range; nothing is stored then.
    int64_t ReadSequenceParameterSetData(VideoInfo* info);
    int64_t ReadPictureParameterSetData(VideoInfo* info);
    // -1 also when the slice's PPS or that PPS's SPS is unknown.
    int64_t ReadSliceHeaderData(VideoInfo* info, uint32_t nal_unit_type, uint32_t nal_ref_idc,
                                int* newPicture);

private:
    // Sets up the bit reader on a unit's RBSP after its header, and parses it
    // by type (7 SPS, 8 PPS, 1/2/5 slice header).
    int64_t ParseUnit(const NalUnit& nal, uint32_t type, uint32_t refIdc, VideoInfo* target,
                      int* newPicture, bool headerOnly);
    bool IsNewPicture(const AvcSlice& prev, const AvcSlice& cur, const AvcSps& sps) const;

    // Access-unit assembly.
    bool Append(VideoQueueInfo* au, const uint8_t* p, uint32_t n);
    bool MergePending();
    bool TakePendingIntoNew();
    bool Complete(VideoInfo* info);
    void DropAccessUnits();

    AvcSps sps_[kMaxSps];
    bool spsPresent_[kMaxSps];
    AvcPps pps_[kMaxPps];
    bool ppsPresent_[kMaxPps];

    AvcSlice prevSlice_{};
    AvcSlice curSlice_{};
    bool firstSlice_ = true;

    VideoQueueInfo* current_ = nullptr;
    // Until the current access unit holds a slice, parameter sets and other
    // starters join it directly (its record then gathers them all), and a new
    // picture does not complete it.
    bool currentHasSlice_ = false;
    VideoInfo currentInfo_{};
    VideoQueueInfo* pending_ = nullptr;
    VideoInfo pendingInfo_{};
    VideoInfo paramInfo_{};
    ByteBuffer storedSps_;
    ByteBuffer storedPps_;

    // Frame-number state of the sample test.
    uint32_t prevRefFrameNum_ = 0;
    uint32_t curFrameNum_ = 0;
    uint32_t maxFrameNum_ = 16;
    uint32_t gapsAllowed_ = 0;
    uint32_t fieldParity_ = 0;
    uint32_t fieldLoss_ = 0;
    // The last picture was a first field, still waiting for its second.
    bool firstFieldOpen_ = false;
    uint32_t firstFieldBottom_ = 0;
    uint32_t firstFieldFrameNum_ = 0;
};

// Copies hasParams and the parameter fields from one record to another.
void CopyParams(VideoInfo* to, const VideoInfo& from);

} // namespace videoparse
