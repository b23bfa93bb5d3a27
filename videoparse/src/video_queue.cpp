#include "video_queue.h"

#include <cstdlib>
#include <cstring>

namespace videoparse {

namespace {

bool AllocateEntry(VideoQueueInfo* e, uint32_t size) {
    e->data = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    e->capacity = e->data ? size : 0;
    e->used = e->audOffset = e->audLength = e->key = 0;
    return e->data != nullptr;
}

void ClearEntry(VideoQueueInfo* e) {
    e->used = e->audOffset = e->audLength = e->key = 0;
}

} // namespace

int CVideoQueue::Create(uint32_t count, uint32_t size, uint64_t limit) {
    Close();
    if (count == 0)
        return -1;
    ring_ = static_cast<VideoQueueInfo*>(std::calloc(count, sizeof(VideoQueueInfo)));
    if (!ring_)
        return -1;
    count_ = count;
    limit_ = limit;
    next_ = 0;
    for (uint32_t i = 0; i < count; ++i)
        if (!AllocateEntry(&ring_[i], size))
            return -1;
    if (!AllocateEntry(&spare_, size))
        return -1;
    return 0;
}

void CVideoQueue::Close() {
    if (ring_) {
        for (uint32_t i = 0; i < count_; ++i)
            std::free(ring_[i].data);
        std::free(ring_);
    }
    ring_ = nullptr;
    count_ = 0;
    next_ = 0;
    std::free(spare_.data);
    spare_ = VideoQueueInfo{};
    scratch_.free();
}

int CVideoQueue::GetVideoInfo(VideoQueueInfo** out) {
    if (!ring_)
        return -1;
    VideoQueueInfo* e = &ring_[next_];
    ClearEntry(e);
    next_ = (next_ + 1) % count_;
    *out = e;
    return 0;
}

int CVideoQueue::GetNextInfo(VideoQueueInfo** out) {
    ClearEntry(&spare_);
    *out = &spare_;
    return 0;
}

bool CVideoQueue::ResizeBuffer(VideoQueueInfo* info, uint64_t size) {
    if (size <= info->capacity)
        return true;
    if (size > limit_ || size > UINT32_MAX)
        return false;
    auto* p = static_cast<uint8_t*>(std::realloc(info->data, static_cast<size_t>(size)));
    if (!p)
        return false;
    info->data = p;
    info->capacity = static_cast<uint32_t>(size);
    return true;
}

int CVideoQueue::StoreVideoData(VideoQueueInfo* info, const uint8_t* p, uint32_t n) {
    const uint64_t need = uint64_t(info->used) + n;
    if (need > limit_ || !ResizeBuffer(info, need))
        return -1;
    if (n)
        std::memcpy(info->data + info->used, p, n);
    info->used = static_cast<uint32_t>(need);
    return 0;
}

int CVideoQueue::InsertParameterData(VideoQueueInfo* info, const uint8_t* sps, uint32_t spsLen,
                                     const uint8_t* pps, uint32_t ppsLen) {
    uint64_t at = uint64_t(info->audOffset) + info->audLength;
    if (at > info->used)
        at = info->used;
    const uint64_t need = uint64_t(info->used) + spsLen + ppsLen;
    if (need > limit_)
        return -1;
    const uint32_t tail = info->used - static_cast<uint32_t>(at);
    if (!scratch_.reserve(tail) || !ResizeBuffer(info, need))
        return -1;
    uint8_t* pos = info->data + at;
    if (tail)
        std::memcpy(scratch_.data, pos, tail);
    std::memcpy(pos, sps, spsLen);
    std::memcpy(pos + spsLen, pps, ppsLen);
    if (tail)
        std::memcpy(pos + spsLen + ppsLen, scratch_.data, tail);
    info->used = static_cast<uint32_t>(need);
    return 0;
}

} // namespace videoparse
