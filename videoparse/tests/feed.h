// Runs data through a parse handle and collects what it reports.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "stream_util.h"
#include "videoparse.h"

namespace vptest {

struct Reported {
    Bytes bytes;
    VideoInfo info;
};

struct Handle {
    void* h = nullptr;
    explicit Handle(unsigned count = 0, unsigned size = 0, VideoCodecType codec = VideoCodecH264) {
        EXPECT_EQ(ParseCreate(&h, codec, count, size), 0);
    }
    ~Handle() {
        if (h)
            ParseRelease(h);
    }
    operator void*() const { return h; }
};

// One call per chunk; returns the reported access units (copied at once, as
// their buffers are reused). `results` gets every call's status.
inline std::vector<Reported> Feed(void* h, const std::vector<Bytes>& chunks, bool flush = true,
                                  std::vector<int64_t>* results = nullptr) {
    std::vector<Reported> out;
    auto take = [&](const VideoInfo& vi) {
        if (!vi.frameReady)
            return;
        Reported r;
        r.bytes.assign(vi.data, vi.data + vi.size);
        std::memcpy(&r.info, &vi, sizeof vi);
        out.push_back(std::move(r));
    };
    VideoInfo vi;
    for (const auto& c : chunks) {
        const int64_t r = ParseVideoParams(h, c.data(), static_cast<unsigned>(c.size()), &vi);
        if (results)
            results->push_back(r);
        take(vi);
    }
    if (flush) {
        const int64_t r = ParseVideoParams(h, nullptr, 0, &vi);
        if (results)
            results->push_back(r);
        take(vi);
    }
    return out;
}

inline std::vector<Bytes> NalChunks(const Bytes& stream) {
    std::vector<Bytes> chunks;
    for (const auto& s : SplitNals(stream))
        chunks.emplace_back(stream.begin() + s.pos, stream.begin() + s.pos + s.size);
    return chunks;
}

} // namespace vptest
