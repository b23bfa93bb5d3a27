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

private:
    bool firstSlice_ = true;
    VideoQueueInfo* current_ = nullptr;
    VideoInfo currentInfo_{};
    VideoQueueInfo* pending_ = nullptr;
    VideoInfo pendingInfo_{};
};

} // namespace videoparse
