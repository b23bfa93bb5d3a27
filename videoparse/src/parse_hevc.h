// H.265 parser.
#pragma once

#include "parser_base.h"

namespace videoparse {

class CParseHEVCParams : public CParserBase {
public:
    CParseHEVCParams() = default;
    ~CParseHEVCParams() override = default;

    int64_t Create() override;
    int64_t Release() override;
    int64_t AddUserData(const uint8_t* frame, uint32_t frameLen, const uint8_t* user,
                        uint32_t userLen, const uint8_t** out, uint32_t* outLen) override;
    int64_t GetUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                        uint32_t* outLen) override;
    int64_t RemoveUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                           uint32_t* outLen) override;

private:
    bool firstSlice_ = true;
    VideoQueueInfo* current_ = nullptr;
    VideoInfo currentInfo_{};
    VideoQueueInfo* pending_ = nullptr;
    VideoInfo pendingInfo_{};
};

} // namespace videoparse
