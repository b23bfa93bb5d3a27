// H.265 access-unit assembly into the frame ring.
#include "parse_hevc.h"

#include <cstring>

namespace videoparse {

namespace {

bool IsStarter(uint32_t t) {
    return (t >= 32 && t <= 35) || t == 39 || (t >= 41 && t <= 44) || (t >= 48 && t <= 55);
}
bool IsSliceSegment(uint32_t t) { return t <= 9 || (t >= 16 && t <= 23); }
bool IsIrap(uint32_t t) { return t >= 16 && t <= 21; }
void ClearInfo(VideoInfo* info) { std::memset(info, 0, sizeof *info); }

// Bits of ue(v) for values up to max.
constexpr uint64_t UeBits(uint64_t max) {
    uint64_t k = 0;
    while ((max + 1) >> (k + 1))
        ++k;
    return 2 * k + 1;
}
constexpr uint64_t kUeAny = UeBits(0xFFFFFFFEull); // a 32-bit value

// The VPS and SPS readers stop at the VUI timing. The longest legal run of
// syntax up to there, with every element at the end of its range, bounds the
// raw bytes unescaped (an emulation-prevention byte per two RBSP bytes at most).
constexpr uint64_t kProfileTierLevelBits = 96 + 16 + 7 * 96;
constexpr uint64_t kSubLayerOrderingBits = 1 + 7 * 3 * kUeAny;
constexpr uint64_t kScalingListBits = 20 * (1 + UeBits(5) + UeBits(493) + 64 * UeBits(256));
constexpr uint64_t kShortTermSetBits =
    1 + 2 * UeBits(16) + 32 * (UeBits(32767) + 1); // larger than a predicted set
constexpr uint64_t kVuiBits =
    1 + (1 + 8 + 32) + 2 + (1 + 3 + 1 + 1 + 24) + (1 + 2 * kUeAny) + 3 + (1 + 4 * kUeAny) + 1 + 64;
constexpr uint64_t kSpsBits =
    8 + kProfileTierLevelBits + UeBits(15) + UeBits(3) + 1 + 2 * kUeAny + 1 + 4 * kUeAny +
    2 * UeBits(8) + UeBits(12) + kSubLayerOrderingBits + 6 * kUeAny + 2 + kScalingListBits + 2 +
    (1 + 8 + 2 * kUeAny + 1) + UeBits(64) + 64 * kShortTermSetBits + 1 + UeBits(32) + 32 * 17 + 2 +
    kVuiBits;
constexpr uint64_t kVpsBits = 32 + kProfileTierLevelBits + kSubLayerOrderingBits + 6 +
                              UeBits(1023) + 1023 * 63 + 1 + 64;
constexpr uint64_t RawBytes(uint64_t bits) { return 2 + (bits + 7) / 8 * 3 / 2 + 1; }
constexpr uint32_t kParamBytes =
    static_cast<uint32_t>(RawBytes(kSpsBits > kVpsBits ? kSpsBits : kVpsBits));
static_assert(kParamBytes > 4096 && kParamBytes < 65536);

} // namespace

int64_t CParseHEVCParams::Create() {
    const int64_t r = CParserBase::Create();
    ClearInfo(&currentInfo_);
    ClearInfo(&pendingInfo_);
    return r;
}

int64_t CParseHEVCParams::Release() {
    current_ = pending_ = nullptr;
    firstSlice_ = true;
    return CParserBase::Release();
}

int64_t CParseHEVCParams::QuerySliceType(const uint8_t*, uint32_t, VideoPicType& type) {
    type = VideoPicNone;
    return -1;
}

int64_t CParseHEVCParams::GetNalUnit(uint8_t** nal, uint32_t* nalLen, bool* isSlice,
                                     uint32_t* headerLen) {
    *nal = nullptr;
    *nalLen = 0;
    *isSlice = false;
    *headerLen = 0;
    return -1;
}

int64_t CParseHEVCParams::GetNalFromFrame(uint8_t*, uint32_t, uint32_t* count, uint8_t*** nals,
                                          uint32_t** lens) {
    *count = 0;
    *nals = nullptr;
    *lens = nullptr;
    return -1;
}

int64_t CParseHEVCParams::GetParameterSetData(uint8_t*, uint32_t, ParameterSetData* out) {
    std::memset(out, 0, sizeof *out);
    return -1;
}

bool CParseHEVCParams::MergePending() {
    if (queue_->StoreVideoData(current_, pending_->data, pending_->used) != 0)
        return false;
    if (pendingInfo_.hasParams)
        std::memcpy(&currentInfo_, &pendingInfo_, sizeof currentInfo_);
    ClearInfo(&pendingInfo_);
    pending_ = nullptr;
    return true;
}

bool CParseHEVCParams::TakePendingIntoNew() { return MergePending(); }

void CParseHEVCParams::Complete(VideoInfo* info) {
    ClearInfo(info);
    info->frameReady = 1;
    info->data = current_->data;
    info->size = current_->used;
    info->key = static_cast<int32_t>(current_->key);
    if (currentInfo_.hasParams) {
        info->hasParams = 1;
        constexpr size_t begin = offsetof(VideoInfo, width);
        constexpr size_t end = offsetof(VideoInfo, reserved);
        std::memcpy(reinterpret_cast<unsigned char*>(info) + begin,
                    reinterpret_cast<const unsigned char*>(&currentInfo_) + begin, end - begin);
    }
    ClearInfo(&currentInfo_);
}

void CParseHEVCParams::DropAccessUnits() {
    current_ = pending_ = nullptr;
    currentHasSlice_ = false;
    ClearInfo(&currentInfo_);
    ClearInfo(&pendingInfo_);
}

int64_t CParseHEVCParams::ReadVideoParams(const uint8_t* data, uint32_t len, VideoInfo* info, int) {
    ClearInfo(info);
    if (!queue_)
        return -1;

    if (!data || len == 0) {
        // Flush; nothing on a fresh handle or a second flush (see the H.264 parser).
        if (!current_)
            return 0;
        if (pending_ && !MergePending()) {
            DropAccessUnits();
            return -1;
        }
        if (current_->used)
            Complete(info);
        DropAccessUnits();
        return 0;
    }

    SetData(data, len);
    int64_t result = 0;
    NalUnit nal;
    for (;;) {
        const int w = GetNalDataEx(&nal);
        if (w < 0)
            return -1;
        if (w == 0)
            break;
        if (nal.payloadLength() < 2)
            continue; // shorter than its header
        const uint8_t* hdr = nal.payload();
        if (hdr[0] & 0x80)
            return -1;
        const uint32_t type = (hdr[0] >> 1) & 63;
        result = 0;

        if (IsStarter(type)) {
            VideoQueueInfo* au;
            VideoInfo* target;
            if (current_ && currentHasSlice_) {
                if (!pending_) {
                    queue_->GetNextInfo(&pending_);
                    ClearInfo(&pendingInfo_);
                }
                au = pending_;
                target = &pendingInfo_;
            } else {
                if (!current_) {
                    queue_->GetVideoInfo(&current_);
                    ClearInfo(&currentInfo_);
                    currentHasSlice_ = false;
                }
                au = current_;
                target = &currentInfo_;
            }
            if (queue_->StoreVideoData(au, nal.data, nal.length) != 0) {
                DropAccessUnits();
                return -1;
            }
            if (type == 32 || type == 33) {
                uint32_t n = nal.payloadLength();
                if (n > kParamBytes)
                    n = kParamBytes;
                const uint8_t* rbsp;
                uint32_t rbspLen;
                if (GetRbspData(nal.payload(), n, &rbsp, &rbspLen) != 0 || rbspLen < 2) {
                    result = -1;
                    continue;
                }
                InitReadData(rbsp + 2, rbspLen - 2);
                result = type == 32 ? ReadVideoParameterSetData(target)
                                    : ReadSequenceParameterSetData(target);
            }
            continue;
        }

        if (IsSliceSegment(type)) {
            if (nal.payloadLength() < 3)
                continue; // no room for first_slice_segment_in_pic_flag
            const uint8_t* rbsp;
            uint32_t rbspLen;
            if (GetRbspData(nal.payload(), nal.payloadLength() < 8 ? nal.payloadLength() : 8, &rbsp,
                            &rbspLen) != 0 || rbspLen < 3)
                continue;
            InitReadData(rbsp + 2, rbspLen - 2);
            int newPicture = 0;
            result = ReadSliceHeaderData(&currentInfo_, type, &newPicture);
            bool ok = true;
            if (newPicture && current_ && currentHasSlice_) {
                Complete(info);
                queue_->GetVideoInfo(&current_);
                ClearInfo(&currentInfo_);
                if (pending_)
                    ok = TakePendingIntoNew();
            } else if (!current_) {
                queue_->GetVideoInfo(&current_);
                ClearInfo(&currentInfo_);
            } else if (pending_) {
                ok = MergePending();
            }
            ok = ok && queue_->StoreVideoData(current_, nal.data, nal.length) == 0;
            if (!ok) {
                DropAccessUnits();
                return -1;
            }
            currentHasSlice_ = true;
            if (IsIrap(type))
                current_->key = 1;
            continue;
        }

        VideoQueueInfo* au = pending_ ? pending_ : current_;
        if (au && queue_->StoreVideoData(au, nal.data, nal.length) != 0) {
            DropAccessUnits();
            return -1;
        }
    }
    return result;
}

} // namespace videoparse
