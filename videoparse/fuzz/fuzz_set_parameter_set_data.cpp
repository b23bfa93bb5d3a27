// SetParameterSetData on hostile units, then access units that rely on them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "videoparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    // Two length bytes split the input into SPS, PPS and the frames after them.
    const size_t spsLen = 1 + data[0] % (size - 2);
    data += 2;
    size -= 2;
    const size_t ppsLen = 1 + data[-1] % (size - spsLen + 1);
    std::vector<unsigned char> sps(data, data + spsLen);
    std::vector<unsigned char> pps(data + spsLen, data + std::min(size, spsLen + ppsLen));
    std::vector<unsigned char> rest(data + std::min(size, spsLen + ppsLen), data + size);

    void* h = nullptr;
    if (ParseCreate(&h, VideoCodecH264, 2, 256) != 0)
        return 0;
    if (!pps.empty())
        SetParameterSetData(h, sps.data(), static_cast<unsigned>(sps.size()), pps.data(),
                            static_cast<unsigned>(pps.size()));
    VideoInfo vi;
    volatile uint8_t x = 0;
    if (!rest.empty()) {
        ParseVideoParams(h, rest.data(), static_cast<unsigned>(rest.size()), &vi);
        ParseVideoParams(h, nullptr, 0, &vi);
        if (vi.frameReady && vi.size)
            x = vi.data[vi.size - 1];
        ParameterSetData ps;
        if (GetParameterSetData(h, rest.data(), static_cast<unsigned>(rest.size()), &ps) == 0)
            for (int i = 0; i < 3; ++i)
                if (ps.slot[i].size)
                    x = ps.slot[i].data[ps.slot[i].size - 1];
    }
    (void)x;
    ParseRelease(h);
    return 0;
}
