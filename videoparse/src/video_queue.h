// Ring of access-unit buffers.
#pragma once

#include <cstdint>

#include "byte_buffer.h"

namespace videoparse {

struct VideoQueueInfo {
    uint8_t* data = nullptr;
    uint32_t used = 0;
    uint32_t capacity = 0;
    uint32_t audOffset = 0;
    uint32_t audLength = 0; // 0: no delimiter recorded
    uint32_t key = 0;
};

class CVideoQueue {
public:
    CVideoQueue() = default;
    CVideoQueue(const CVideoQueue&) = delete;
    CVideoQueue& operator=(const CVideoQueue&) = delete;
    ~CVideoQueue() { Close(); }

    // `limit` bounds the bytes one buffer may grow to.
    int Create(uint32_t count, uint32_t size, uint64_t limit);
    void Close();
    int GetVideoInfo(VideoQueueInfo** out);
    int GetNextInfo(VideoQueueInfo** out);
    // -1 when the buffer would pass the limit or cannot grow; nothing is stored then.
    int StoreVideoData(VideoQueueInfo* info, const uint8_t* p, uint32_t n);
    int InsertParameterData(VideoQueueInfo* info, const uint8_t* sps, uint32_t spsLen,
                            const uint8_t* pps, uint32_t ppsLen);
    uint32_t Count() const { return count_; }

private:
    bool ResizeBuffer(VideoQueueInfo* info, uint64_t size);

    VideoQueueInfo* ring_ = nullptr;
    uint32_t count_ = 0;
    VideoQueueInfo spare_;
    uint32_t next_ = 0;
    ByteBuffer scratch_;
    uint64_t limit_ = 0;
};

} // namespace videoparse
