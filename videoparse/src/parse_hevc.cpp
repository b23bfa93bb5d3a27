#include "parse_hevc.h"

#include <cstring>

namespace videoparse {

int64_t CParseHEVCParams::Create() {
    const int64_t r = CParserBase::Create();
    std::memset(&currentInfo_, 0, sizeof currentInfo_);
    std::memset(&pendingInfo_, 0, sizeof pendingInfo_);
    return r;
}

int64_t CParseHEVCParams::Release() {
    current_ = pending_ = nullptr;
    firstSlice_ = true;
    return CParserBase::Release();
}

} // namespace videoparse
