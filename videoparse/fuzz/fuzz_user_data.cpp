// SEI user data on hostile frames: Get, Remove, Add and Get again, H.264 and H.265.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "videoparse.h"

namespace {

// The user-data operations keep no state between calls besides their buffers,
// so one handle per codec serves every input.
void* Handle(VideoCodecType codec) {
    static void* handles[2] = {};
    if (!handles[codec])
        UserDataCreate(&handles[codec], codec);
    return handles[codec];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const VideoCodecType codec = (data[0] & 1) ? VideoCodecH265 : VideoCodecH264;
    const size_t userLen = std::min<size_t>(size - 1, (data[0] >> 1) * 3u);
    std::vector<unsigned char> user(data + 1, data + 1 + userLen);
    std::vector<unsigned char> frame(data + 1, data + size);
    void* h = Handle(codec);
    if (!h)
        return 0;
    volatile uint8_t x = 0;
    const unsigned char* out = nullptr;
    unsigned outLen = 0;
    if (GetUserData(h, frame.data(), unsigned(frame.size()), &out, &outLen) == 0 && out && outLen)
        x = out[outLen - 1];
    out = nullptr;
    RemoveUserData(h, frame.data(), unsigned(frame.size()), &out, &outLen);
    if (out && outLen)
        x = out[outLen - 1];
    out = nullptr;
    // Does the frame hold an SEI unit already? (Then an earlier malformed or a
    // later matching message may hide the added one, as designed.)
    bool hasSei = false;
    for (size_t i = 0; i + 3 < frame.size(); ++i) {
        if (frame[i] != 0 || frame[i + 1] != 0 || frame[i + 2] != 1)
            continue;
        const unsigned b = frame[i + 3];
        hasSei |= codec == VideoCodecH264 ? (b & 31) == 6 : ((b >> 1) & 63) == 39;
    }
    if (AddUserData(h, frame.data(), unsigned(frame.size()), user.data(), unsigned(user.size()), &out,
                    &outLen) == 0 && !hasSei) {
        // What was added must come back.
        std::vector<unsigned char> added(out, out + outLen);
        const unsigned char* got = nullptr;
        unsigned gotLen = 0;
        GetUserData(h, added.data(), unsigned(added.size()), &got, &gotLen);
        if (!got || gotLen != user.size() || (gotLen && std::memcmp(got, user.data(), gotLen) != 0))
            __builtin_trap();
    } else if (out && outLen) {
        x = out[outLen - 1];
    }
    (void)x;
    return 0;
}
