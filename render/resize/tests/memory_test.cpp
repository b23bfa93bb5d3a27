// Aligned blocks, copies and fills, read back byte by byte.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "klmf_ipp.h"

namespace {

TEST(ResizeMemory, MallocAlignsAndRejectsNonPositiveLengths) {
    EXPECT_EQ(ippsMalloc_8u(0), nullptr);
    EXPECT_EQ(ippsMalloc_8u(-5), nullptr);
    EXPECT_EQ(ippMalloc(0), nullptr);
    for (int32_t len : {1, 7, 64, 65, 4096, 1 << 20}) {
        uint8_t* p = ippsMalloc_8u(len);
        ASSERT_NE(p, nullptr) << len;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u) << len;
        std::memset(p, 0xab, static_cast<size_t>(len));  // the whole length is usable
        ippsFree(p);
    }
    ippsFree(nullptr);
    ippFree(nullptr);
}

// A recording hook sees the raw request: the 72 header bytes are added in 64 bits.
size_t lastRequest = 0;
void* recordingMalloc(size_t n) {
    lastRequest = n;
    return nullptr;
}

TEST(ResizeMemory, HeaderBytesAddedWithoutWrapping) {
    void* (*saved)(size_t) = i_malloc;
    i_malloc = recordingMalloc;
    EXPECT_EQ(ippMalloc(INT32_MAX), nullptr);
    EXPECT_EQ(lastRequest, static_cast<size_t>(INT32_MAX) + 72u);
    EXPECT_EQ(ippsMalloc_8u(100), nullptr);
    EXPECT_EQ(lastRequest, 172u);
    i_malloc = saved;
}

TEST(ResizeMemory, FreePassesTheRawAddressToTheHook) {
    static void* freed = nullptr;
    void (*saved)(void*) = i_free;
    void* raw = i_malloc(100 + 72);
    void* (*savedMalloc)(size_t) = i_malloc;
    static void* rawBlock;
    rawBlock = raw;
    i_malloc = [](size_t) { return rawBlock; };
    i_free = [](void* p) { freed = p; };
    uint8_t* p = ippsMalloc_8u(100);
    ASSERT_NE(p, nullptr);
    const ptrdiff_t lead = p - static_cast<uint8_t*>(raw);
    EXPECT_GE(lead, 8);
    EXPECT_LE(lead, 71);
    ippsFree(p);
    EXPECT_EQ(freed, raw);
    i_free = saved;
    i_malloc = savedMalloc;
    std::free(raw);
}

struct StatusCase {
    const char* name;
    ippResult got;
    ippResult want;
};

TEST(ResizeMemory, ArgumentChecksInOrder) {
    uint8_t b[8] = {};
    int32_t w[2] = {};
    const StatusCase cases[] = {
        {"copy null source", ippsCopy_8u(nullptr, b, 4), ippStsNullPtrErr},
        {"copy null destination, length 0", ippsCopy_8u(b, nullptr, 0), ippStsNullPtrErr},
        {"copy length 0", ippsCopy_8u(b, b + 4, 0), ippStsSizeErr},
        {"copy length -1", ippsCopy_8u(b, b + 4, -1), ippStsSizeErr},
        {"set8 null, length 0", ippsSet_8u(1, nullptr, 0), ippStsNullPtrErr},
        {"set8 length 0", ippsSet_8u(1, b, 0), ippStsSizeErr},
        {"set32 null, length -3", ippsSet_32s(1, nullptr, -3), ippStsNullPtrErr},
        {"set32 length 0", ippsSet_32s(7, w, 0), ippStsSizeErr},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
    for (uint8_t v : b) EXPECT_EQ(v, 0);
    EXPECT_EQ(w[0], 0);
}

TEST(ResizeMemory, CopyAndFillsMatchPlainLoops) {
    std::vector<uint8_t> src(4096 + 64), dst(4096 + 64);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 37 + 11);
    for (int32_t len : {1, 15, 16, 17, 96, 97, 1000, 4096}) {
        for (int misalign : {0, 1, 3}) {
            std::fill(dst.begin(), dst.end(), 0x5a);
            ASSERT_EQ(ippsCopy_8u(src.data() + misalign, dst.data() + 1, len), ippStsNoErr);
            EXPECT_EQ(dst[0], 0x5a);
            EXPECT_EQ(std::memcmp(dst.data() + 1, src.data() + misalign, len), 0);
            EXPECT_EQ(dst[1 + len], 0x5a);

            std::fill(dst.begin(), dst.end(), 0x5a);
            ASSERT_EQ(ippsSet_8u(0xc3, dst.data() + misalign, len), ippStsNoErr);
            for (size_t i = 0; i < dst.size(); ++i) {
                const bool inside = i >= static_cast<size_t>(misalign) && i < static_cast<size_t>(misalign + len);
                ASSERT_EQ(dst[i], inside ? 0xc3 : 0x5a) << len << " " << misalign << " " << i;
            }

            std::fill(dst.begin(), dst.end(), 0x5a);
            if (len * 4 + misalign + 4 <= static_cast<int32_t>(dst.size())) {
                auto* words = reinterpret_cast<int32_t*>(dst.data() + misalign);  // may be unaligned
                ASSERT_EQ(ippsSet_32s(static_cast<int32_t>(0x81020304), words, len), ippStsNoErr);
                for (int32_t i = 0; i < len; ++i) {
                    int32_t v;
                    std::memcpy(&v, dst.data() + misalign + 4 * i, 4);
                    ASSERT_EQ(v, static_cast<int32_t>(0x81020304));
                }
                EXPECT_EQ(dst[misalign + 4 * len], 0x5a);
            }
        }
    }
}

TEST(ResizeMemory, ShortFillAtOddAddressWritesOnlyThoseBytes) {
    alignas(16) uint8_t buf[16];
    for (int len = 1; len <= 3; ++len) {
        std::memset(buf, 0, sizeof buf);
        ASSERT_EQ(ippsSet_8u(0xff, buf + 1, len), ippStsNoErr);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(buf[i], (i >= 1 && i <= len) ? 0xff : 0) << len << " " << i;
    }
}

}  // namespace
