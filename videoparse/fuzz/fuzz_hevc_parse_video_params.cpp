// H.265 ParseVideoParams on hostile data cut into random chunks.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "videoparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const unsigned count = 1 + (data[0] & 3);
    uint32_t seed = data[0] * 2654435761u + data[1];
    data += 2;
    size -= 2;
    void* h = nullptr;
    if (ParseCreate(&h, VideoCodecH265, count, 512) != 0)
        return 0;
    VideoInfo vi;
    volatile uint8_t x = 0;
    size_t pos = 0;
    while (pos < size) {
        seed = seed * 1103515245u + 12345u;
        size_t len = 1 + (seed >> 16) % 300;
        if (len > size - pos)
            len = size - pos;
        std::vector<unsigned char> chunk(data + pos, data + pos + len);
        ParseVideoParams(h, chunk.data(), static_cast<unsigned>(len), &vi);
        if (vi.frameReady && vi.size)
            x = vi.data[0] ^ vi.data[vi.size - 1];
        if ((seed & 0x3C00) == 0)
            ParseVideoParams(h, nullptr, 0, &vi);
        pos += len;
    }
    ParseVideoParams(h, nullptr, 0, &vi);
    if (vi.frameReady && vi.size)
        x = vi.data[vi.size - 1];
    (void)x;
    ParseRelease(h);
    return 0;
}
