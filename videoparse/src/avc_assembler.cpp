// H.264 access-unit assembly into the frame ring.
#include <cstring>

#include "parse_avc.h"

namespace videoparse {

namespace {

bool IsStarter(uint32_t type) {
    return type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18);
}

void ClearInfo(VideoInfo* info) { std::memset(info, 0, sizeof *info); }

} // namespace

CParseAVCParams::CParseAVCParams() {
    std::memset(sps_, 0, sizeof sps_);
    std::memset(spsPresent_, 0, sizeof spsPresent_);
    std::memset(pps_, 0, sizeof pps_);
    std::memset(ppsPresent_, 0, sizeof ppsPresent_);
}

CParseAVCParams::~CParseAVCParams() = default;

int64_t CParseAVCParams::Create() {
    const int64_t r = CParserBase::Create();
    ClearInfo(&currentInfo_);
    ClearInfo(&pendingInfo_);
    ClearInfo(&paramInfo_);
    if (!storedSps_.allocate(10) || !storedPps_.allocate(10))
        return -1;
    return r;
}

int64_t CParseAVCParams::Release() {
    std::memset(spsPresent_, 0, sizeof spsPresent_);
    std::memset(ppsPresent_, 0, sizeof ppsPresent_);
    storedSps_.free();
    storedPps_.free();
    current_ = pending_ = nullptr;
    return CParserBase::Release();
}

bool CParseAVCParams::Append(VideoQueueInfo* au, const uint8_t* p, uint32_t n) {
    return queue_->StoreVideoData(au, p, n) == 0;
}

// Same picture: the pending units (SEI, parameter sets, delimiter) join the
// current access unit.
bool CParseAVCParams::MergePending() {
    const uint32_t before = current_->used;
    if (!Append(current_, pending_->data, pending_->used))
        return false;
    if (!current_->audLength && pending_->audLength) {
        current_->audOffset = before + pending_->audOffset;
        current_->audLength = pending_->audLength;
    }
    if (pendingInfo_.hasParams)
        std::memcpy(&currentInfo_, &pendingInfo_, sizeof currentInfo_);
    ClearInfo(&pendingInfo_);
    pending_ = nullptr;
    return true;
}

// New picture: the pending units start the fresh current access unit.
bool CParseAVCParams::TakePendingIntoNew() {
    if (!Append(current_, pending_->data, pending_->used))
        return false;
    current_->audOffset = pending_->audOffset;
    current_->audLength = pending_->audLength;
    current_->key = pending_->key;
    if (pendingInfo_.hasParams)
        std::memcpy(&currentInfo_, &pendingInfo_, sizeof currentInfo_);
    ClearInfo(&pendingInfo_);
    pending_ = nullptr;
    return true;
}

bool CParseAVCParams::Complete(VideoInfo* info) {
    if (current_->key && !currentInfo_.hasParams && storedSps_.length && storedPps_.length) {
        if (queue_->InsertParameterData(current_, storedSps_.data, storedSps_.length,
                                        storedPps_.data, storedPps_.length) != 0)
            return false;
    }
    // When one call completes several access units, info describes the last.
    ClearInfo(info);
    info->frameReady = 1;
    info->data = current_->data;
    info->size = current_->used;
    info->key = static_cast<int32_t>(current_->key);
    if (currentInfo_.hasParams)
        CopyParams(info, currentInfo_);
    else if (current_->key && paramInfo_.hasParams)
        CopyParams(info, paramInfo_);
    ClearInfo(&currentInfo_);
    return true;
}

// An access unit past the size cap, or one whose buffer cannot grow, is dropped
// whole together with the units waiting for the next picture.
void CParseAVCParams::DropAccessUnits() {
    current_ = nullptr;
    pending_ = nullptr;
    currentHasSlice_ = false;
    ClearInfo(&currentInfo_);
    ClearInfo(&pendingInfo_);
}

int64_t CParseAVCParams::ReadVideoParams(const uint8_t* data, uint32_t len, VideoInfo* info, int) {
    ClearInfo(info);
    if (!queue_)
        return -1;

    if (!data || len == 0) {
        // Flush. Nothing is reported on a fresh handle or a second flush: the
        // flushed access unit is let go, so it is not reported again either.
        if (!current_)
            return 0;
        if (pending_ && !MergePending()) {
            DropAccessUnits();
            return -1;
        }
        const bool ok = current_->used == 0 || Complete(info);
        if (!ok)
            ClearInfo(info);
        DropAccessUnits();
        return ok ? 0 : -1;
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
        const uint8_t hdr = nal.payload()[0];
        if (hdr & 0x80)
            return -1;
        const uint32_t refIdc = (hdr >> 5) & 3;
        const uint32_t type = hdr & 31;
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
            if (type == 9) {
                au->audOffset = au->used;
                au->audLength = nal.length;
            }
            if (!Append(au, nal.data, nal.length)) {
                DropAccessUnits();
                return -1;
            }
            if (type == 7 || type == 8) {
                result = ParseUnit(nal, type, refIdc, target, nullptr, false);
                ByteBuffer& stored = type == 7 ? storedSps_ : storedPps_;
                if (result == 0 && stored.length == 0) {
                    if (!stored.assign(nal.data, nal.length))
                        stored.length = 0;
                    // Only a record that holds parameters may replace the
                    // parameter record (a PPS's pending record holds none).
                    if (target->hasParams)
                        std::memcpy(&paramInfo_, target, sizeof paramInfo_);
                }
            }
            continue;
        }

        if (type == 1 || type == 2 || type == 5) {
            int newPicture = 0;
            result = ParseUnit(nal, type, refIdc, &currentInfo_, &newPicture, true);
            if (result != 0)
                continue; // unknown parameter sets or a broken header: dropped
            bool ok = true;
            if (newPicture && current_ && currentHasSlice_) {
                if (!Complete(info)) {
                    DropAccessUnits();
                    return -1;
                }
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
            ok = ok && Append(current_, nal.data, nal.length);
            if (!ok) {
                DropAccessUnits();
                return -1;
            }
            currentHasSlice_ = true;
            if (type == 5)
                current_->key = 1;
            continue;
        }

        VideoQueueInfo* au = pending_ ? pending_ : current_;
        if (au && !Append(au, nal.data, nal.length)) {
            DropAccessUnits();
            return -1;
        }
    }
    return result;
}

} // namespace videoparse
