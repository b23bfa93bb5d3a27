// H.265 flavour of the SEI user-data operations (prefix SEI, type 39).
#include "parse_hevc.h"

namespace videoparse {

namespace {

const uint8_t kSeiHeader[2] = {0x4E, 0x01};
uint32_t NalType(const uint8_t* h) { return (h[0] >> 1) & 63; }
bool IsVcl(uint32_t type) { return type <= 31; }
const SeiCodec kHevcSei = {39, kSeiHeader, 2, NalType, IsVcl};

} // namespace

int64_t CParseHEVCParams::AddUserData(const uint8_t* frame, uint32_t frameLen, const uint8_t* user,
                                      uint32_t userLen, const uint8_t** out, uint32_t* outLen) {
    return AddUserDataFor(kHevcSei, frame, frameLen, user, userLen, out, outLen);
}

int64_t CParseHEVCParams::GetUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                                      uint32_t* outLen) {
    return GetUserDataFor(kHevcSei, frame, len, out, outLen);
}

int64_t CParseHEVCParams::RemoveUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                                         uint32_t* outLen) {
    return RemoveUserDataFor(kHevcSei, frame, len, out, outLen);
}

} // namespace videoparse
