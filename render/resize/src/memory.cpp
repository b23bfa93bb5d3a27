// Aligned blocks and the byte/word fill and copy primitives (generic variant).
#include <cstdlib>
#include <cstring>

#include "klmf_ipp.h"
#include "variants.h"

extern "C" {
KLMF_IPP_API void* (*i_malloc)(size_t) = std::malloc;
KLMF_IPP_API void* (*i_calloc)(size_t, size_t) = std::calloc;
KLMF_IPP_API void* (*i_realloc)(void*, size_t) = std::realloc;
KLMF_IPP_API void (*i_free)(void*) = std::free;

KLMF_IPP_API void* ippMalloc(int32_t len) {
    if (len <= 0) return nullptr;
    // 64-bit sum: a length near INT32_MAX must not wrap into a short block.
    const size_t rawLen = static_cast<size_t>(len) + 72u;
    void* raw = i_malloc(rawLen);
    if (!raw) return nullptr;
    const uintptr_t aligned = (reinterpret_cast<uintptr_t>(raw) + 71u) & ~static_cast<uintptr_t>(63);
    void* block = reinterpret_cast<void*>(aligned);
    std::memcpy(static_cast<uint8_t*>(block) - 8, &raw, sizeof raw);
    return block;
}

KLMF_IPP_API void ippFree(void* ptr) {
    if (!ptr) return;
    void* raw;
    std::memcpy(&raw, static_cast<uint8_t*>(ptr) - 8, sizeof raw);
    i_free(raw);
}
}

namespace klmf_resize {

uint8_t* mx_ippsMalloc_8u(int32_t len) { return static_cast<uint8_t*>(ippMalloc(len)); }

void mx_ippsFree(void* ptr) { ippFree(ptr); }

ippResult mx_ippsCopy_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len) {
    if (!pSrc || !pDst) return ippStsNullPtrErr;
    if (len < 1) return ippStsSizeErr;
    std::memcpy(pDst, pSrc, static_cast<size_t>(len));
    return ippStsNoErr;
}

ippResult mx_ippsSet_8u(uint8_t val, uint8_t* pDst, int32_t len) {
    if (!pDst) return ippStsNullPtrErr;
    if (len < 1) return ippStsSizeErr;
    std::memset(pDst, val, static_cast<size_t>(len));
    return ippStsNoErr;
}

ippResult mx_ippsSet_32s(int32_t val, int32_t* pDst, int32_t len) {
    if (!pDst) return ippStsNullPtrErr;
    if (len < 1) return ippStsSizeErr;
    // Byte copies: the destination need not be 4-byte aligned.
    uint8_t* d = reinterpret_cast<uint8_t*>(pDst);
    for (int32_t i = 0; i < len; ++i) std::memcpy(d + 4 * static_cast<size_t>(i), &val, 4);
    return ippStsNoErr;
}

}  // namespace klmf_resize
