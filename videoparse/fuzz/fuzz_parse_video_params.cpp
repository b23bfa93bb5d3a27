// ParseVideoParams on hostile data cut into random chunks, with the other
// stream queries on the same chunks.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "videoparse.h"

namespace {

volatile uint8_t sink;

void Touch(const unsigned char* p, uint32_t n) {
    uint8_t x = 0;
    for (uint32_t i = 0; i < n; ++i)
        x ^= p[i];
    sink = x;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // First byte: ring size and chunking seed; the rest is the stream.
    const unsigned count = 1 + (data[0] & 3);
    uint32_t seed = data[0] * 2654435761u + data[1];
    data += 2;
    size -= 2;

    void* h = nullptr;
    if (ParseCreate(&h, VideoCodecH264, count, 512) != 0)
        return 0;
    VideoInfo vi;
    VideoInfoEx ex;
    VideoPicType type;
    size_t pos = 0;
    while (pos < size) {
        seed = seed * 1103515245u + 12345u;
        size_t len = 1 + (seed >> 16) % 200;
        if (len > size - pos)
            len = size - pos;
        const unsigned char* chunk = data + pos;
        std::vector<unsigned char> copy(chunk, chunk + len); // exact bounds for ASan
        ParseVideoParams(h, copy.data(), static_cast<unsigned>(len), &vi);
        if (vi.frameReady)
            Touch(vi.data, vi.size);
        if (seed & 0x100)
            VideoSampleTest(h, copy.data(), static_cast<unsigned>(len), &ex);
        if (seed & 0x200)
            QueryType(h, copy.data(), static_cast<unsigned>(len), type);
        if ((seed & 0x3C00) == 0) {
            ParseVideoParams(h, nullptr, 0, &vi);
            if (vi.frameReady)
                Touch(vi.data, vi.size);
        }
        pos += len;
    }
    ParseVideoParams(h, nullptr, 0, &vi);
    if (vi.frameReady)
        Touch(vi.data, vi.size);
    ParseRelease(h);
    return 0;
}
