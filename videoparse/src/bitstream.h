// Byte-level tools shared by the codec parsers: start codes, NAL walking,
// emulation prevention, and the bounded bit reader.
#pragma once

#include <cstdint>

namespace videoparse {

// First position in [p, p + n) where 00 00 01 or 00 00 00 01 begins, tested
// only while at least 5 bytes remain from it; null when there is none.
const uint8_t* GetStartCode(const uint8_t* p, uint64_t n);

// Inserts emulation-prevention bytes; *dstLen grows by the bytes written.
// dst must hold len + len / 2 + 1 bytes.
void AddEscape(const uint8_t* src, uint32_t len, uint8_t* dst, uint32_t* dstLen);
// Number of bytes AddEscape would insert into these bytes.
uint32_t CountEscapes(const uint8_t* src, uint32_t len);
// Removes emulation-prevention bytes from src into dst (room for len bytes);
// returns the bytes written.
uint32_t RemoveEscapes(const uint8_t* src, uint32_t len, uint8_t* dst);

struct NalUnit {
    const uint8_t* data = nullptr; // start code included
    uint32_t length = 0;
    uint32_t startCodeLength = 0;  // 3 or 4
    const uint8_t* payload() const { return data + startCodeLength; }
    uint32_t payloadLength() const { return length - startCodeLength; }
};

// Walks the NAL units of one buffer. The end pointer bounds every step: bytes
// before the first start code are skipped once and the walk stops at the end.
class NalWalker {
public:
    void SetData(const uint8_t* data, uint32_t len);
    void Reset();
    // 1: *unit is the next unit; 0: the data is used up; -1: no start code.
    // Units without even one byte after their start code are skipped.
    int Next(NalUnit* unit);

private:
    const uint8_t* data_ = nullptr;
    const uint8_t* end_ = nullptr;
    const uint8_t* cur_ = nullptr;
    bool searched_ = false;
};

// MSB-first bit reader that never reads outside its bytes: bits past the end
// read as 0 and set a sticky error.
class BitReader {
public:
    void Init(const uint8_t* p, uint32_t len) {
        p_ = p;
        left_ = len;
        bit_ = 0;
        error_ = false;
    }
    uint32_t Read(unsigned bits);   // up to 32
    bool ReadFlag() { return Read(1) != 0; }
    uint32_t GetUE();               // more than 31 leading zeros: error, 0
    int32_t GetSE();
    void Skip(uint64_t bits);
    bool Error() const { return error_; }
    const uint8_t* Ptr() const { return p_; }
    uint32_t BitOffset() const { return bit_; }
    uint32_t BytesLeft() const { return left_; }

private:
    const uint8_t* p_ = nullptr;
    uint32_t left_ = 0;
    uint32_t bit_ = 0;
    bool error_ = false;
};

} // namespace videoparse
