// NAL listing on hostile frames: GetNalFromFrame and the GetNalUnit walk.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "videoparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned char> frame(data, data + size);
    void* h = nullptr;
    if (ParseCreate(&h, VideoCodecH264, 2, 64) != 0)
        return 0;
    volatile uint8_t x = 0;
    unsigned count = 0;
    unsigned char** nals = nullptr;
    unsigned* lens = nullptr;
    GetNalFromFrame(h, frame.data(), static_cast<unsigned>(size), &count, &nals, &lens);
    for (unsigned i = 0; i < count; ++i)
        x = nals[i][lens[i] - 1];

    SetVideoData(h, frame.data(), static_cast<unsigned>(size));
    unsigned char* nal;
    unsigned len, headerLen;
    bool isSlice;
    for (unsigned n = 0; n <= size; ++n) {
        const int64_t r = GetNalUnit(h, &nal, &len, &isSlice, &headerLen);
        if (!nal)
            break;
        x = nal[len - 1];
        if (isSlice && r == 0 && headerLen > len)
            __builtin_trap();
    }
    (void)x;
    ParseRelease(h);

    // H.265 handles list nothing: -1 and cleared outputs, whatever the data.
    if (ParseCreate(&h, VideoCodecH265, 2, 64) != 0)
        return 0;
    count = 1;
    if (GetNalFromFrame(h, frame.data(), static_cast<unsigned>(size), &count, &nals, &lens) != -1 ||
        count || nals || lens)
        __builtin_trap();
    SetVideoData(h, frame.data(), static_cast<unsigned>(size));
    isSlice = true;
    if (GetNalUnit(h, &nal, &len, &isSlice, &headerLen) != -1 || nal || len || isSlice || headerLen)
        __builtin_trap();
    ParseRelease(h);
    return 0;
}
