// Byte-level tools: start codes, NAL walking, emulation prevention, bit reader.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "bitstream.h"

using namespace videoparse;
using Bytes = std::vector<uint8_t>;

namespace {

struct StartCodeCase {
    Bytes data;
    long expected; // offset, -1 for none
};

TEST(StartCode, Table) {
    const StartCodeCase cases[] = {
        {{0, 0, 1, 9, 16}, 0},
        {{0, 0, 0, 1, 9}, 0},
        {{7, 0, 0, 1, 9, 16}, 1},
        {{7, 0, 0, 0, 1, 9, 16}, 1},          // the 4-byte form begins at the first zero
        {{0, 0, 1, 9}, -1},                  // fewer than 5 bytes from the position
        {{5, 6, 0, 0, 1, 2}, -1},            // start code in the last four bytes
        {{5, 0, 0, 1, 2, 3}, 1},
        {{0, 0, 2, 0, 1, 0, 0, 1, 7, 7}, 5},
        {{1, 1, 1, 1, 1, 1, 1}, -1},
        {{0, 0, 0, 0, 0, 0, 0}, -1},
    };
    for (const auto& c : cases) {
        const uint8_t* p = GetStartCode(c.data.data(), c.data.size());
        EXPECT_EQ(p ? p - c.data.data() : -1, c.expected);
    }
}

std::vector<Bytes> Walk(const Bytes& data, int* last = nullptr) {
    NalWalker w;
    w.SetData(data.data(), static_cast<uint32_t>(data.size()));
    std::vector<Bytes> units;
    NalUnit u;
    int r;
    while ((r = w.Next(&u)) == 1)
        units.emplace_back(u.data, u.data + u.length);
    if (last)
        *last = r;
    return units;
}

TEST(NalWalk, Table) {
    struct Case {
        Bytes data;
        std::vector<Bytes> units;
        int last;
    };
    const Case cases[] = {
        {{0, 0, 1, 9, 16}, {{0, 0, 1, 9, 16}}, 0},
        {{0, 0, 1, 9}, {}, 0},
        {{0, 0, 0, 1, 0x67, 1, 0, 0, 1, 0x68, 2},
         {{0, 0, 0, 1, 0x67, 1}, {0, 0, 1, 0x68, 2}}, 0},
        // Bytes before the first start code are skipped once.
        {{9, 9, 9, 0, 0, 1, 0x65, 1, 2}, {{0, 0, 1, 0x65, 1, 2}}, 0},
        // A unit without a header byte is skipped.
        {{0, 0, 1, 0, 0, 1, 0x65, 1}, {{0, 0, 1, 0x65, 1}}, 0},
        {{1, 2, 3, 4, 5, 6}, {}, -1},
        {{}, {}, 0},
    };
    for (const auto& c : cases) {
        int last = 99;
        EXPECT_EQ(Walk(c.data, &last), c.units);
        EXPECT_EQ(last, c.last);
    }
}

TEST(NalWalk, EndsAfterLastUnit) {
    NalWalker w;
    const Bytes d = {0, 0, 1, 0x65, 1, 2, 3};
    w.SetData(d.data(), static_cast<uint32_t>(d.size()));
    NalUnit u;
    EXPECT_EQ(w.Next(&u), 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(w.Next(&u), 0);
}

Bytes Unescape(const Bytes& in) {
    Bytes out(in.size());
    out.resize(RemoveEscapes(in.data(), static_cast<uint32_t>(in.size()), out.data()));
    return out;
}

Bytes Escape(const Bytes& in) {
    Bytes out(in.size() * 2 + 2);
    uint32_t n = 0;
    AddEscape(in.data(), static_cast<uint32_t>(in.size()), out.data(), &n);
    out.resize(n);
    return out;
}

TEST(Rbsp, RemovalTable) {
    const std::pair<Bytes, Bytes> cases[] = {
        {{0, 0, 3, 1}, {0, 0, 1}},
        {{0x65, 0, 0, 3}, {0x65, 0, 0, 3}},   // 00 00 03 in the last three bytes stays
        {{0, 0, 3, 0, 0, 3, 1}, {0, 0, 0, 0, 1}},
        {{0, 0, 3, 3, 5}, {0, 0, 3, 5}},
        {{0, 3, 0, 0, 2}, {0, 3, 0, 0, 2}},
        {{}, {}},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(Unescape(in), out);
}

TEST(Rbsp, InsertionTable) {
    const std::pair<Bytes, Bytes> cases[] = {
        {{0, 0, 0, 1}, {0, 0, 3, 0, 1}},
        {{0, 0, 4}, {0, 0, 4}},
        {{0, 0, 1}, {0, 0, 3, 1}},
        {{0, 0}, {0, 0}},
        {{0, 0, 0, 0, 0}, {0, 0, 3, 0, 0, 3, 0}},
        {{7}, {7}},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(Escape(in), out);
        EXPECT_EQ(CountEscapes(in.data(), static_cast<uint32_t>(in.size())),
                  out.size() - in.size());
    }
}

TEST(Rbsp, RemovalUndoesInsertion) {
    std::mt19937 rng(1234);
    for (int iter = 0; iter < 20000; ++iter) {
        Bytes b(rng() % 40);
        // Mostly zeros and small values, where the escapes happen.
        for (auto& x : b) {
            const unsigned r = rng() % 8;
            x = r < 4 ? 0 : r < 7 ? static_cast<uint8_t>(rng() % 4) : static_cast<uint8_t>(rng());
        }
        const Bytes e = Escape(b);
        ASSERT_EQ(Unescape(e), b);
        // The escaped form holds no start code.
        for (size_t i = 0; i + 2 < e.size(); ++i)
            ASSERT_FALSE(e[i] == 0 && e[i + 1] == 0 && e[i + 2] < 3);
    }
}

TEST(BitReader, ExpGolombTable) {
    // Bits 1 010 011 00100 00101 00110 0001000, then zero padding.
    const Bytes d = {0b10100110, 0b01000010, 0b10011000, 0b01000000};
    BitReader r;
    r.Init(d.data(), static_cast<uint32_t>(d.size()));
    const uint32_t ue[] = {0, 1, 2, 3, 4, 5, 7};
    for (uint32_t v : ue)
        EXPECT_EQ(r.GetUE(), v);
    EXPECT_FALSE(r.Error());
    r.Init(d.data(), static_cast<uint32_t>(d.size()));
    const int32_t se[] = {0, 1, -1, 2, -2, 3, 4};
    for (int32_t v : se)
        EXPECT_EQ(r.GetSE(), v);
    EXPECT_FALSE(r.Error());
}

TEST(BitReader, ReadsAcrossBytesAndStopsAtTheEnd) {
    const Bytes d = {0xAB, 0xCD, 0xEF, 0x12, 0x34};
    BitReader r;
    r.Init(d.data(), 5);
    EXPECT_EQ(r.Read(4), 0xAu);
    EXPECT_EQ(r.Read(32), 0xBCDEF123u);
    EXPECT_EQ(r.Read(4), 0x4u);
    EXPECT_FALSE(r.Error());
    EXPECT_EQ(r.Read(3), 0u); // past the end: zeros and a sticky error
    EXPECT_TRUE(r.Error());
    EXPECT_EQ(r.Read(1), 0u);
    EXPECT_TRUE(r.Error());

    r.Init(d.data(), 1);
    EXPECT_EQ(r.Read(12), 0xAB0u); // the missing bits read as 0
    EXPECT_TRUE(r.Error());
}

TEST(BitReader, LongExpGolombIsAnError) {
    // 31 leading zeros is the longest code (2^32 - 2 at most); 32 is an error.
    Bytes ok = {0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE};
    BitReader r;
    r.Init(ok.data(), 8);
    EXPECT_EQ(r.GetUE(), 0xFFFFFFFEu);
    EXPECT_FALSE(r.Error());
    const Bytes bad = {0, 0, 0, 0, 0x80, 0, 0, 0, 0};
    r.Init(bad.data(), 9);
    EXPECT_EQ(r.GetUE(), 0u);
    EXPECT_TRUE(r.Error());
    const Bytes zeros(3, 0);
    r.Init(zeros.data(), 3);
    EXPECT_EQ(r.GetUE(), 0u);
    EXPECT_TRUE(r.Error());
}

} // namespace
