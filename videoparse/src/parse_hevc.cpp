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

// VPS and SPS values all sit in their first bytes; this many raw bytes hold
// every field read, whatever follows.
constexpr uint32_t kParamBytes = 4096;

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
