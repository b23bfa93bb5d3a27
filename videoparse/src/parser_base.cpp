#include "parser_base.h"

#include <cstdlib>
#include <new>

namespace videoparse {

CParserBase::~CParserBase() {
    delete queue_;
    std::free(nalList_);
    std::free(nalLengths_);
}

void CParserBase::SetBufferConfig(uint32_t count, uint32_t size) {
    if (count)
        count_ = count;
    if (size)
        size_ = size;
    // One buffer would be refilled in the call that reports it.
    if (count_ == 1)
        count_ = 2;
}

int64_t CParserBase::Create() {
    if (!rbsp_.allocate(1024))
        return Release(), -1;
    if (count_ && size_) {
        queue_ = new (std::nothrow) CVideoQueue;
        const uint64_t limit = size_ > kMaxAccessUnit ? size_ : kMaxAccessUnit;
        if (!queue_ || queue_->Create(count_, size_, limit) != 0)
            return Release(), -1;
    }
    for (auto& slot : slots_)
        if (!slot.allocate(kSlotSize))
            return Release(), -1;
    return 0;
}

int64_t CParserBase::Release() {
    rbsp_.free();
    if (queue_) {
        queue_->Close();
        delete queue_;
        queue_ = nullptr;
    }
    for (auto& slot : slots_)
        slot.free();
    std::free(nalList_);
    std::free(nalLengths_);
    nalList_ = nullptr;
    nalLengths_ = nullptr;
    nalListCapacity_ = 0;
    return 0;
}

int64_t CParserBase::UserDataCreate() {
    if (!rbsp_.allocate(1024) || !seiMessage_.allocate(1024) || !userDataOut_.allocate(3000000) ||
        !keptSei_.allocate(1024) || !escapedSei_.allocate(1024) || !removalOut_.allocate(100000))
        return -1;
    return 0;
}

int64_t CParserBase::UserDataRelease() {
    rbsp_.free();
    seiMessage_.free();
    userDataOut_.free();
    keptSei_.free();
    escapedSei_.free();
    removalOut_.free();
    std::free(nalList_);
    std::free(nalLengths_);
    nalList_ = nullptr;
    nalLengths_ = nullptr;
    nalListCapacity_ = 0;
    return 0;
}

int64_t CParserBase::ReadVideoParams(const uint8_t*, uint32_t, VideoInfo*, int) { return 0; }
int64_t CParserBase::VideoSampleTest(const uint8_t*, uint32_t, VideoInfoEx*) { return 0; }
int64_t CParserBase::QuerySliceType(const uint8_t*, uint32_t, VideoPicType&) { return 0; }
int64_t CParserBase::SetVideoData(uint8_t*, uint32_t) { return 0; }
int64_t CParserBase::GetNalUnit(uint8_t**, uint32_t*, bool*, uint32_t*) { return 0; }
int64_t CParserBase::GetNalFromFrame(uint8_t*, uint32_t, uint32_t*, uint8_t***, uint32_t**) {
    return 0;
}
int64_t CParserBase::AddUserData(const uint8_t*, uint32_t, const uint8_t*, uint32_t,
                                 const uint8_t**, uint32_t*) {
    return 0;
}
int64_t CParserBase::GetUserData(const uint8_t*, uint32_t, const uint8_t**, uint32_t*) { return 0; }
int64_t CParserBase::RemoveUserData(const uint8_t*, uint32_t, const uint8_t**, uint32_t*) {
    return 0;
}
int64_t CParserBase::SetParameterSetData(uint8_t*, uint32_t, uint8_t*, uint32_t) { return 0; }
int64_t CParserBase::GetParameterSetData(uint8_t*, uint32_t, ParameterSetData*) { return 0; }

int CParserBase::GetRbspData(const uint8_t* src, uint32_t len, const uint8_t** out,
                             uint32_t* outLen) {
    if (rbsp_.capacity < len && !rbsp_.allocate(len))
        return -1;
    *outLen = RemoveEscapes(src, len, rbsp_.data);
    *out = rbsp_.data;
    return 0;
}

int CParserBase::GetNalData(NalUnit* nal, const uint8_t** rbsp, uint32_t* rbspLen,
                            uint32_t maxBytes) {
    const int r = walker_.Next(nal);
    if (r <= 0)
        return r;
    uint32_t n = nal->payloadLength();
    if (n > maxBytes)
        n = maxBytes;
    if (GetRbspData(nal->payload(), n, rbsp, rbspLen) < 0)
        return -1;
    return 1;
}

bool CParserBase::GrowNalList(uint32_t count) {
    if (count <= nalListCapacity_)
        return true;
    auto* list = static_cast<uint8_t**>(std::realloc(nalList_, sizeof(uint8_t*) * size_t(count)));
    if (!list)
        return false;
    nalList_ = list;
    auto* lens = static_cast<uint32_t*>(std::realloc(nalLengths_, sizeof(uint32_t) * size_t(count)));
    if (!lens)
        return false;
    nalLengths_ = lens;
    nalListCapacity_ = count;
    return true;
}

} // namespace videoparse
