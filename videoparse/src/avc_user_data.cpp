// H.264 flavour of the SEI user-data operations.
#include "parse_avc.h"

namespace videoparse {

namespace {

const uint8_t kSeiHeader[1] = {0x06};
uint32_t NalType(const uint8_t* h) { return h[0] & 31; }
bool IsSlice(uint32_t type) { return type >= 1 && type <= 5; }
const SeiCodec kAvcSei = {6, kSeiHeader, 1, NalType, IsSlice};

} // namespace

int64_t CParseAVCParams::AddUserData(const uint8_t* frame, uint32_t frameLen, const uint8_t* user,
                                     uint32_t userLen, const uint8_t** out, uint32_t* outLen) {
    return AddUserDataFor(kAvcSei, frame, frameLen, user, userLen, out, outLen);
}

int64_t CParseAVCParams::GetUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                                     uint32_t* outLen) {
    return GetUserDataFor(kAvcSei, frame, len, out, outLen);
}

int64_t CParseAVCParams::RemoveUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                                        uint32_t* outLen) {
    return RemoveUserDataFor(kAvcSei, frame, len, out, outLen);
}

} // namespace videoparse
