// H.265 parser: access-unit assembly, VPS and SPS up to the VUI timing.
#pragma once

#include "parser_base.h"

namespace videoparse {

class CParseHEVCParams : public CParserBase {
public:
    CParseHEVCParams() = default;
    ~CParseHEVCParams() override = default;

    int64_t Create() override;
    int64_t Release() override;
    int64_t ReadVideoParams(const uint8_t* data, uint32_t len, VideoInfo* info, int) override;
    int64_t QuerySliceType(const uint8_t* data, uint32_t len, VideoPicType& type) override;
    // No NAL listing or parameter-set extraction for H.265: -1 with the
    // outputs cleared, so that no caller reads what was never written.
    int64_t GetNalUnit(uint8_t** nal, uint32_t* nalLen, bool* isSlice, uint32_t* headerLen) override;
    int64_t GetNalFromFrame(uint8_t* frame, uint32_t len, uint32_t* count, uint8_t*** nals,
                            uint32_t** lens) override;
    int64_t GetParameterSetData(uint8_t* frame, uint32_t len, ParameterSetData* out) override;
    int64_t AddUserData(const uint8_t* frame, uint32_t frameLen, const uint8_t* user,
                        uint32_t userLen, const uint8_t** out, uint32_t* outLen) override;
    int64_t GetUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                        uint32_t* outLen) override;
    int64_t RemoveUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                           uint32_t* outLen) override;

    // Parse the RBSP set with InitReadData, after the 2-byte header; -1 when the
    // unit is malformed or beyond the standard's limits, and nothing is stored.
    int64_t ReadVideoParameterSetData(VideoInfo* info);
    int64_t ReadSequenceParameterSetData(VideoInfo* info);
    int64_t ReadSliceHeaderData(VideoInfo* info, uint32_t nal_unit_type, int* newPicture);

private:
    bool MergePending();
    bool TakePendingIntoNew();
    void Complete(VideoInfo* info);
    void DropAccessUnits();

    bool firstSlice_ = true;
    VideoQueueInfo* current_ = nullptr;
    // Until the current access unit holds a slice, parameter sets and other
    // starters join it directly (its record then gathers them all), and a new
    // picture does not complete it.
    bool currentHasSlice_ = false;
    VideoInfo currentInfo_{};
    VideoQueueInfo* pending_ = nullptr;
    VideoInfo pendingInfo_{};
};

} // namespace videoparse
