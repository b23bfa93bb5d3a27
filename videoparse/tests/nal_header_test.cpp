// GetNalUnit's slice-header length against the bit positions that ffmpeg's
// trace_headers gives for the same slices.
#include <gtest/gtest.h>

#include <algorithm>

#include "feed.h"
#include "trace_headers.h"

using namespace vptest;

namespace {

// The slice-header fields up to the picture order count, as far as a slice
// has them.
const char* const kHeaderFields[] = {
    "colour_plane_id", "frame_num", "field_pic_flag", "bottom_field_flag", "idr_pic_id",
    "pic_order_cnt_lsb", "delta_pic_order_cnt_bottom", "delta_pic_order_cnt[0]",
    "delta_pic_order_cnt[1]",
};

size_t StartCodeLength(const Bytes& unit) { return unit[2] == 1 ? 3 : 4; }

// Raw bytes after the NAL header that carry the first `rbspBytes` RBSP bytes,
// with the emulation-prevention bytes among them.
uint32_t RawLength(const Bytes& unit, uint64_t rbspBytes, uint32_t* escapes = nullptr) {
    size_t i = StartCodeLength(unit) + 1;
    uint64_t got = 0;
    uint32_t raw = 0, epb = 0;
    int zeros = 0;
    while (got < rbspBytes && i < unit.size()) {
        const uint8_t b = unit[i++];
        ++raw;
        if (zeros >= 2 && b == 3) {
            ++epb;
            zeros = 0;
            continue;
        }
        ++got;
        zeros = b == 0 ? zeros + 1 : 0;
    }
    if (escapes)
        *escapes = epb;
    return raw;
}

// The header length by its definition: the RBSP bytes after the NAL header up
// to and including the byte that holds the first bit after these fields (bit
// positions count from the NAL header's first bit), as raw bytes.
uint32_t HeaderLenFromTrace(const TraceSection& slice, const Bytes& unit) {
    uint64_t end = 0;
    for (const char* name : kHeaderFields)
        if (const TraceElement* e = slice.Find(name))
            end = std::max(end, e->pos + e->bits);
    return RawLength(unit, end / 8);
}

struct HeaderCase {
    const char* name;
    SpsSpec sps;
    SliceSpec slice;
    uint32_t headerLen; // from trace_headers
};

std::vector<HeaderCase> HeaderCases() {
    std::vector<HeaderCase> cases;
    auto add = [&](const char* name, auto sps, auto slice, uint32_t len) {
        HeaderCase c{name, {}, {}, len};
        c.slice.fullHeader = true;
        sps(c.sps);
        slice(c.slice);
        cases.push_back(c);
    };
    auto wide = [](SpsSpec& s) { s.log2FrameNum = 12, s.log2Poc = 12; };
    auto wideSlice = [](SliceSpec& s) { s.frameNumBits = 16, s.pocBits = 16; };
    auto fields = [wide](SpsSpec& s) { wide(s), s.frameMbsOnly = 0, s.heightUnits = 34, s.crop[3] = 2; };
    add("IDR, 4-bit fields", [](SpsSpec&) {}, [](SliceSpec&) {}, 3);
    add("P slice, 16-bit frame_num and POC of 0", wide,
        [&](SliceSpec& s) { wideSlice(s), s.idr = false, s.sliceType = 5; }, 6);
    add("IDR, idr_pic_id 65535 between zero fields", wide,
        [&](SliceSpec& s) { wideSlice(s), s.idrPicId = 65535; }, 12);
    add("non-reference B slice, first_mb_in_slice 4095", wide, [&](SliceSpec& s) {
        wideSlice(s), s.idr = false, s.sliceType = 1, s.refIdc = 0, s.firstMb = 4095, s.frameNum = 1,
            s.pocLsb = 2;
    }, 8);
    add("top field P, zero fields", fields, [&](SliceSpec& s) {
        wideSlice(s), s.idr = false, s.sliceType = 0, s.fieldCoding = true, s.fieldPic = true;
    }, 5);
    add("bottom field I, POC 1", fields, [&](SliceSpec& s) {
        wideSlice(s), s.idr = false, s.sliceType = 2, s.fieldCoding = true, s.fieldPic = true,
            s.bottom = true, s.pocLsb = 1;
    }, 5);
    add("POC type 2: idr_pic_id ends the part", [](SpsSpec& s) { s.pocType = 2, s.log2FrameNum = 12; },
        [](SliceSpec& s) { s.pocBits = 0, s.frameNumBits = 16, s.idrPicId = 3; }, 4);
    return cases;
}

Bytes CaseData(const HeaderCase& c) { return Cat({MakeSps(c.sps), MakePps(), MakeSlice(c.slice)}); }

TEST(NalHeader, LengthsOfHandMadeSlices) {
    uint32_t withEscapes = 0;
    for (const auto& c : HeaderCases()) {
        SCOPED_TRACE(c.name);
        Bytes data = CaseData(c);
        const Bytes slice = MakeSlice(c.slice);
        Handle h;
        ASSERT_EQ(SetVideoData(h, data.data(), unsigned(data.size())), 0);
        unsigned char* nal = nullptr;
        unsigned len = 0, headerLen = 0;
        bool isSlice = false;
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(GetNalUnit(h, &nal, &len, &isSlice, &headerLen), 0);
        ASSERT_TRUE(isSlice);
        ASSERT_EQ(Bytes(nal, nal + len), slice);
        EXPECT_EQ(headerLen, c.headerLen);
        // Emulation-prevention bytes (00 00 03) within the header's raw bytes.
        uint32_t escapes = 0;
        const size_t begin = StartCodeLength(slice) + 1;
        for (size_t i = begin + 2; i < begin + c.headerLen && i < slice.size(); ++i)
            if (slice[i - 2] == 0 && slice[i - 1] == 0 && slice[i] == 3)
                ++escapes;
        withEscapes += escapes ? 1 : 0;
    }
    EXPECT_GE(withEscapes, 2u); // the table must hold escaped headers
}

TEST(NalHeader, HandMadeSlicesAgreeWithTraceHeaders) {
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg not installed";
    for (const auto& c : HeaderCases()) {
        SCOPED_TRACE(c.name);
        const auto trace = TraceHeaders(CaseData(c), "h264");
        ASSERT_TRUE(trace.has_value());
        const auto slices = SectionsTitled(*trace, "Slice Header");
        ASSERT_EQ(slices.size(), 1u);
        // The whole header was read: slice_qp_delta is there with its value.
        EXPECT_EQ(slices[0].Value("slice_qp_delta", 99), c.slice.qpDelta);
        EXPECT_EQ(HeaderLenFromTrace(slices[0], MakeSlice(c.slice)), c.headerLen);
    }
}

class NalHeaderStreams : public ::testing::TestWithParam<const char*> {};

TEST_P(NalHeaderStreams, EncodedSlicesAgreeWithTraceHeaders) {
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg not installed";
    Bytes stream = ReadFile(DataPath(std::string(GetParam()) + ".h264"));
    ASSERT_FALSE(stream.empty());
    const auto trace = TraceHeaders(stream, "h264");
    ASSERT_TRUE(trace.has_value());
    const auto slices = SectionsTitled(*trace, "Slice Header");
    Handle h;
    ASSERT_EQ(SetVideoData(h, stream.data(), unsigned(stream.size())), 0);
    size_t k = 0;
    for (;;) {
        unsigned char* nal = nullptr;
        unsigned len = 0, headerLen = 0;
        bool isSlice = false;
        const int64_t r = GetNalUnit(h, &nal, &len, &isSlice, &headerLen);
        if (!nal)
            break;
        ASSERT_EQ(r, 0);
        if (!isSlice)
            continue;
        ASSERT_LT(k, slices.size());
        EXPECT_EQ(headerLen, HeaderLenFromTrace(slices[k], Bytes(nal, nal + len))) << "slice " << k;
        ++k;
    }
    EXPECT_EQ(k, slices.size());
}

INSTANTIATE_TEST_SUITE_P(H264, NalHeaderStreams,
                         ::testing::Values("h264_aud_1080", "h264_slices_noaud", "h264_mp4_annexb",
                                           "h264_interlaced", "h264_fullrange", "h264_peer_sei"));

} // namespace
