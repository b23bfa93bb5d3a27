// Growable byte buffer with checked allocation; no exceptions.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace videoparse {

struct ByteBuffer {
    uint8_t* data = nullptr;
    uint32_t capacity = 0;
    uint32_t length = 0;

    ByteBuffer() = default;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ~ByteBuffer() { free(); }

    // Fresh buffer of exactly n bytes; the old contents are dropped.
    bool allocate(uint32_t n) {
        free();
        data = static_cast<uint8_t*>(std::malloc(n ? n : 1));
        if (!data)
            return false;
        capacity = n;
        return true;
    }
    // Grows to exactly n bytes when smaller, keeping the contents.
    bool reserve(uint64_t n) {
        if (n <= capacity)
            return true;
        if (n > UINT32_MAX)
            return false;
        auto* p = static_cast<uint8_t*>(std::realloc(data, static_cast<size_t>(n)));
        if (!p)
            return false;
        data = p;
        capacity = static_cast<uint32_t>(n);
        return true;
    }
    bool assign(const uint8_t* p, uint32_t n) {
        if (!reserve(n))
            return false;
        if (n)
            std::memcpy(data, p, n);
        length = n;
        return true;
    }
    bool append(const uint8_t* p, uint32_t n) {
        if (!reserve(uint64_t(length) + n))
            return false;
        if (n)
            std::memcpy(data + length, p, n);
        length += n;
        return true;
    }
    void free() {
        std::free(data);
        data = nullptr;
        capacity = 0;
        length = 0;
    }
};

} // namespace videoparse
