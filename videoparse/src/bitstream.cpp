#include "bitstream.h"

#include <cstddef>
#include <cstring>

namespace videoparse {

const uint8_t* GetStartCode(const uint8_t* p, uint64_t n) {
    if (!p || n < 5)
        return nullptr;
    const uint8_t* const last = p + n - 5; // last position that may be tested
    // Look for the 01 byte and check the zeros in front of it: memchr does the
    // scanning, which is what keeps large slices cheap.
    const uint8_t* q = p + 2;
    const uint8_t* const qEnd = last + 4; // a 4-byte code at `last` has its 01 here
    while (q < qEnd) {
        q = static_cast<const uint8_t*>(std::memchr(q, 1, static_cast<size_t>(qEnd - q)));
        if (!q)
            return nullptr;
        if (q[-1] == 0 && q[-2] == 0) {
            const uint8_t* pos = (q - 3 >= p && q[-3] == 0) ? q - 3 : q - 2;
            return pos <= last ? pos : nullptr;
        }
        ++q;
    }
    return nullptr;
}

void AddEscape(const uint8_t* src, uint32_t len, uint8_t* dst, uint32_t* dstLen) {
    uint8_t* out = dst + *dstLen;
    uint32_t i = 0;
    while (len - i > 2) {
        if (src[i] == 0 && src[i + 1] == 0 && src[i + 2] < 4) {
            *out++ = 0;
            *out++ = 0;
            *out++ = 3;
            i += 2;
        } else {
            *out++ = src[i++];
        }
    }
    while (i < len)
        *out++ = src[i++];
    *dstLen = static_cast<uint32_t>(out - dst);
}

uint32_t CountEscapes(const uint8_t* src, uint32_t len) {
    uint32_t count = 0;
    uint32_t i = 0;
    while (len - i > 2) {
        if (src[i] == 0 && src[i + 1] == 0 && src[i + 2] < 4) {
            ++count;
            i += 2;
        } else {
            ++i;
        }
    }
    return count;
}

uint32_t RemoveEscapes(const uint8_t* src, uint32_t len, uint8_t* dst) {
    uint32_t i = 0, o = 0;
    while (i < len) {
        // Fast path: no 00 00 03 can start before the next zero byte.
        const void* z = std::memchr(src + i, 0, len - i);
        uint32_t zi = z ? static_cast<uint32_t>(static_cast<const uint8_t*>(z) - src) : len;
        std::memcpy(dst + o, src + i, zi - i);
        o += zi - i;
        i = zi;
        if (i >= len)
            break;
        if (len - i >= 4 && src[i + 1] == 0 && src[i + 2] == 3) {
            dst[o++] = 0;
            dst[o++] = 0;
            i += 3;
        } else {
            dst[o++] = src[i++];
        }
    }
    return o;
}

void NalWalker::SetData(const uint8_t* data, uint32_t len) {
    data_ = data;
    end_ = data ? data + len : nullptr;
    Reset();
}

void NalWalker::Reset() {
    cur_ = nullptr;
    searched_ = false;
}

int NalWalker::Next(NalUnit* unit) {
    for (;;) {
        if (!cur_) {
            if (searched_ || !data_)
                return 0;
            searched_ = true;
            if (end_ - data_ <= 4)
                return 0;
            cur_ = GetStartCode(data_, static_cast<uint64_t>(end_ - data_));
            if (!cur_)
                return -1;
        }
        const uint8_t* start = cur_;
        const uint32_t sc = start[2] == 1 ? 3 : 4;
        const uint8_t* next = GetStartCode(start + sc, static_cast<uint64_t>(end_ - (start + sc)));
        const uint8_t* stop = next ? next : end_;
        cur_ = next;
        if (stop - start <= static_cast<std::ptrdiff_t>(sc))
            continue; // no header byte
        unit->data = start;
        unit->length = static_cast<uint32_t>(stop - start);
        unit->startCodeLength = sc;
        return 1;
    }
}

uint32_t BitReader::Read(unsigned bits) {
    uint32_t value = 0;
    while (bits) {
        if (!left_) {
            // Past the end: the rest reads as zeros.
            error_ = true;
            return bits >= 32 ? 0 : value << bits;
        }
        unsigned take = 8 - bit_;
        if (take > bits)
            take = bits;
        const unsigned shift = 8 - bit_ - take;
        const uint32_t chunk = (static_cast<uint32_t>(*p_) >> shift) & ((1u << take) - 1);
        value = (value << take) | chunk;
        bit_ += take;
        bits -= take;
        if (bit_ == 8) {
            bit_ = 0;
            ++p_;
            --left_;
        }
    }
    return value;
}

void BitReader::Skip(uint64_t bits) {
    const uint64_t avail = uint64_t(left_) * 8 - bit_;
    if (bits > avail) {
        p_ += left_;
        left_ = 0;
        bit_ = 0;
        error_ = true;
        return;
    }
    const uint64_t pos = bit_ + bits;
    p_ += pos / 8;
    left_ -= static_cast<uint32_t>(pos / 8);
    bit_ = static_cast<uint32_t>(pos % 8);
}

uint32_t BitReader::GetUE() {
    unsigned zeros = 0;
    while (Read(1) == 0) {
        if (error_ || ++zeros > 31) {
            error_ = true;
            return 0;
        }
    }
    if (zeros == 0)
        return 0;
    const uint32_t rest = Read(zeros);
    return rest + ((uint32_t(1) << zeros) - 1);
}

int32_t BitReader::GetSE() {
    const uint32_t v = GetUE();
    if (v & 1)
        return static_cast<int32_t>((uint64_t(v) + 1) / 2);
    return -static_cast<int32_t>(v / 2);
}

} // namespace videoparse
