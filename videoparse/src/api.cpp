// The exported functions: handle checks, then the parser's virtual operation.
// No exception leaves this file.
#include <new>

#include "parse_avc.h"
#include "parse_hevc.h"
#include "videoparse.h"

using videoparse::CParseAVCParams;
using videoparse::CParseHEVCParams;
using videoparse::CParserBase;
using videoparse::HandleKind;

namespace {

CParserBase* NewParser(VideoCodecType codec) {
    switch (codec) {
    case VideoCodecH264:
        return new (std::nothrow) CParseAVCParams;
    case VideoCodecH265:
        return new (std::nothrow) CParseHEVCParams;
    default:
        return nullptr;
    }
}

CParserBase* AsParser(void* handle, HandleKind need = HandleKind::None) {
    auto* p = static_cast<CParserBase*>(handle);
    if (!p || (need != HandleKind::None && p->Kind() != need))
        return nullptr;
    return p;
}

template <typename F> int64_t Guarded(F&& f) {
    try {
        return f();
    } catch (...) {
        return -1;
    }
}

} // namespace

int64_t ParseCreate(void** handle, VideoCodecType codec, unsigned int count, unsigned int size) {
    return Guarded([&]() -> int64_t {
        if (!handle)
            return -1;
        *handle = nullptr;
        CParserBase* p = NewParser(codec);
        if (!p)
            return -1;
        p->SetKind(HandleKind::Parse);
        p->SetBufferConfig(count, size);
        const int64_t r = p->Create();
        if (r != 0) {
            p->Release();
            delete p;
            return r;
        }
        *handle = p;
        return 0;
    });
}

int64_t ParseRelease(void* handle) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle, HandleKind::Parse);
        if (!p)
            return -1;
        p->Release();
        delete p;
        return 0;
    });
}

int64_t SetParameterSetData(void* handle, unsigned char* sps, unsigned int spsLen,
                            unsigned char* pps, unsigned int ppsLen) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle, HandleKind::Parse);
        if (!p || !sps || !spsLen || !pps || !ppsLen)
            return -1;
        return p->SetParameterSetData(sps, spsLen, pps, ppsLen);
    });
}

int64_t GetParameterSetData(void* handle, unsigned char* frame, unsigned int len,
                            ParameterSetData* out) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle, HandleKind::Parse);
        if (!p || !frame || !len || !out)
            return -1;
        return p->GetParameterSetData(frame, len, out);
    });
}

int64_t ParseVideoParams(void* handle, const unsigned char* data, unsigned int len,
                         VideoInfo* info) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle, HandleKind::Parse);
        if (!p || !info)
            return -1;
        return p->ReadVideoParams(data, len, info, 0);
    });
}

int64_t VideoSampleTest(void* handle, const unsigned char* data, unsigned int len,
                        VideoInfoEx* info) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle);
        if (!p || !info || (!data && len))
            return -1;
        return p->VideoSampleTest(data, len, info);
    });
}

int64_t QueryType(void* handle, const unsigned char* data, unsigned int len, VideoPicType& type) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle);
        if (!p) {
            type = VideoPicNone;
            return -1;
        }
        return p->QuerySliceType(data, len, type);
    });
}

int64_t SetVideoData(void* handle, unsigned char* data, unsigned int len) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle);
        if (!p)
            return -1;
        return p->SetVideoData(data, len);
    });
}

int64_t GetNalUnit(void* handle, unsigned char** nal, unsigned int* nalLen, bool* isSlice,
                   unsigned int* headerLen) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle);
        if (!p || !nal || !nalLen || !isSlice || !headerLen)
            return -1;
        return p->GetNalUnit(nal, nalLen, isSlice, headerLen);
    });
}

int64_t GetNalFromFrame(void* handle, unsigned char* frame, unsigned int len, unsigned int* count,
                        unsigned char*** nals, unsigned int** lens) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle);
        if (!p || !count || !nals || !lens)
            return -1;
        return p->GetNalFromFrame(frame, len, count, nals, lens);
    });
}

int64_t UserDataCreate(void** handle, VideoCodecType codec) {
    return Guarded([&]() -> int64_t {
        if (!handle)
            return -1;
        *handle = nullptr;
        CParserBase* p = NewParser(codec);
        if (!p)
            return -1;
        p->SetKind(HandleKind::UserData);
        const int64_t r = p->UserDataCreate();
        if (r != 0) {
            p->UserDataRelease();
            delete p;
            return r;
        }
        *handle = p;
        return 0;
    });
}

int64_t UserDataRelease(void* handle) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle, HandleKind::UserData);
        if (!p)
            return -1;
        p->UserDataRelease();
        delete p;
        return 0;
    });
}

int64_t AddUserData(void* handle, const unsigned char* frame, unsigned int frameLen,
                    const unsigned char* user, unsigned int userLen, const unsigned char** out,
                    unsigned int* outLen) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle, HandleKind::UserData);
        if (!p || !frame || !out || !outLen || (!user && userLen))
            return -1;
        return p->AddUserData(frame, frameLen, user, userLen, out, outLen);
    });
}

int64_t GetUserData(void* handle, const unsigned char* frame, unsigned int len,
                    const unsigned char** out, unsigned int* outLen) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle, HandleKind::UserData);
        if (!p || !frame || !out || !outLen)
            return -1;
        return p->GetUserData(frame, len, out, outLen);
    });
}

int64_t RemoveUserData(void* handle, const unsigned char* frame, unsigned int len,
                       const unsigned char** out, unsigned int* outLen) {
    return Guarded([&]() -> int64_t {
        CParserBase* p = AsParser(handle, HandleKind::UserData);
        if (!p || !frame || !out || !outLen)
            return -1;
        return p->RemoveUserData(frame, len, out, outLen);
    });
}
