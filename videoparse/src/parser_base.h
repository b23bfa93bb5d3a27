// Root of the codec parsers: buffers, defaults and the NAL tools they share.
#pragma once

#include <cstdint>

#include "bitstream.h"
#include "byte_buffer.h"
#include "video_queue.h"
#include "videoparse.h"

namespace videoparse {

enum class HandleKind { None, Parse, UserData };

// What the SEI user-data operations need to know about a codec.
struct SeiCodec {
    uint32_t seiType;          // the SEI unit that carries the message
    const uint8_t* header;     // NAL header of a new SEI unit
    uint32_t headerLen;
    uint32_t (*nalType)(const uint8_t* header);
    bool (*isVcl)(uint32_t type); // the new SEI unit goes in front of the first one
};

class CParserBase {
public:
    static constexpr uint32_t kDefaultCount = 6;
    static constexpr uint32_t kDefaultSize = 100000;
    static constexpr uint32_t kSlotSize = 1024;
    // Upper bound of one access unit (the configured buffer size when larger).
    static constexpr uint64_t kMaxAccessUnit = 64ull << 20;

    CParserBase() = default;
    CParserBase(const CParserBase&) = delete;
    CParserBase& operator=(const CParserBase&) = delete;
    virtual ~CParserBase();

    virtual int64_t Create();
    virtual int64_t Release();
    virtual int64_t ReadVideoParams(const uint8_t* data, uint32_t len, VideoInfo* info, int);
    virtual int64_t VideoSampleTest(const uint8_t* data, uint32_t len, VideoInfoEx* info);
    virtual int64_t QuerySliceType(const uint8_t* data, uint32_t len, VideoPicType& type);
    virtual int64_t SetVideoData(uint8_t* data, uint32_t len);
    virtual int64_t GetNalUnit(uint8_t** nal, uint32_t* nalLen, bool* isSlice, uint32_t* headerLen);
    virtual int64_t GetNalFromFrame(uint8_t* frame, uint32_t len, uint32_t* count, uint8_t*** nals,
                                    uint32_t** lens);
    virtual int64_t UserDataCreate();
    virtual int64_t UserDataRelease();
    virtual int64_t AddUserData(const uint8_t* frame, uint32_t frameLen, const uint8_t* user,
                                uint32_t userLen, const uint8_t** out, uint32_t* outLen);
    virtual int64_t GetUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                                uint32_t* outLen);
    virtual int64_t RemoveUserData(const uint8_t* frame, uint32_t len, const uint8_t** out,
                                   uint32_t* outLen);
    virtual int64_t SetParameterSetData(uint8_t* sps, uint32_t spsLen, uint8_t* pps,
                                        uint32_t ppsLen);
    virtual int64_t GetParameterSetData(uint8_t* frame, uint32_t len, ParameterSetData* out);

    void SetBufferConfig(uint32_t count, uint32_t size);
    uint32_t BufferCount() const { return count_; }
    uint32_t BufferSize() const { return size_; }
    HandleKind Kind() const { return kind_; }
    void SetKind(HandleKind kind) { kind_ = kind; }

    // NAL iteration over the data of SetData.
    void SetData(const uint8_t* data, uint32_t len) { walker_.SetData(data, len); }
    void Reset() { walker_.Reset(); }
    // 1: a unit (raw in *nal); 0: used up; -1: no start code.
    int GetNalDataEx(NalUnit* nal) { return walker_.Next(nal); }
    // As GetNalDataEx, and the unit's RBSP from its NAL header on, in the RBSP
    // scratch. `maxBytes` bounds the raw bytes unescaped (for header-only parses).
    int GetNalData(NalUnit* nal, const uint8_t** rbsp, uint32_t* rbspLen,
                   uint32_t maxBytes = UINT32_MAX);
    // Emulation-prevention removal into the RBSP scratch; -1 when it cannot grow.
    int GetRbspData(const uint8_t* src, uint32_t len, const uint8_t** out, uint32_t* outLen);

    // The bit reader.
    void InitReadData(const uint8_t* p, uint32_t len) { reader_.Init(p, len); }
    uint32_t ReadData(unsigned bits) { return reader_.Read(bits); }
    uint32_t GetUE() { return reader_.GetUE(); }
    int32_t GetSE() { return reader_.GetSE(); }
    const uint8_t* GetDataPtr() const { return reader_.Ptr(); }
    bool ReadError() const { return reader_.Error(); }

    // Upper bound of the user data of one message.
    static constexpr uint32_t kMaxUserData = 16u << 20;

    // Builds the SEI message (type, size, UUID, escaped user data) in the SEI
    // message buffer; -1 when it cannot.
    int ArrangeUserData(const uint8_t* user, uint32_t userLen);

protected:
    int64_t AddUserDataFor(const SeiCodec& codec, const uint8_t* frame, uint32_t frameLen,
                           const uint8_t* user, uint32_t userLen, const uint8_t** out,
                           uint32_t* outLen);
    int64_t GetUserDataFor(const SeiCodec& codec, const uint8_t* frame, uint32_t len,
                           const uint8_t** out, uint32_t* outLen);
    int64_t RemoveUserDataFor(const SeiCodec& codec, const uint8_t* frame, uint32_t len,
                              const uint8_t** out, uint32_t* outLen);

    CVideoQueue* queue_ = nullptr;

    // SEI buffers of user-data handles.
    ByteBuffer seiMessage_;
    ByteBuffer userDataOut_;
    // Parameter-set slots of GetParameterSetData (slot 0 stays empty).
    ByteBuffer slots_[3];
    // NAL list of GetNalFromFrame.
    uint32_t nalListCapacity_ = 0;
    uint8_t** nalList_ = nullptr;
    uint32_t* nalLengths_ = nullptr;
    ByteBuffer keptSei_;
    ByteBuffer escapedSei_;
    ByteBuffer removalOut_;

    NalWalker walker_;
    // SetVideoData / GetNalUnit keep their own position, so other operations
    // in between do not move it.
    NalWalker videoWalker_;

    uint32_t count_ = kDefaultCount;
    uint32_t size_ = kDefaultSize;

    ByteBuffer rbsp_;
    BitReader reader_;

    HandleKind kind_ = HandleKind::None;

    // Grows the NAL list to hold `count` entries; false on failure.
    bool GrowNalList(uint32_t count);
};

} // namespace videoparse
