// Committed encoder streams against ffprobe's packets and trace_headers values.
#include <gtest/gtest.h>

#include <cstring>

#include "feed.h"

using namespace vptest;

namespace {

class Streams : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        stream = ReadFile(DataPath(std::string(GetParam()) + ".h264"));
        expected = ReadExpected(GetParam());
        ASSERT_FALSE(stream.empty());
        ASSERT_FALSE(expected.packets.empty());
    }
    void ExpectParams(const VideoInfo& vi) {
        EXPECT_EQ(vi.hasParams, 1);
        const std::pair<const char*, long> fields[] = {
            {"width", vi.width},
            {"height", vi.height},
            {"rateNum", vi.rateNum},
            {"rateDen", vi.rateDen},
            {"videoSignalTypePresent", vi.videoSignalTypePresent},
            {"videoFormat", vi.videoFormat},
            {"videoFullRange", vi.videoFullRange},
            {"colourDescriptionPresent", vi.colourDescriptionPresent},
            {"colourPrimaries", vi.colourPrimaries},
            {"transferCharacteristics", vi.transferCharacteristics},
            {"matrixCoefficients", vi.matrixCoefficients},
        };
        for (const auto& [name, value] : fields)
            EXPECT_EQ(value, expected.values.at(name)) << name;
        for (int32_t r : vi.paramReserved)
            ASSERT_EQ(r, 0);
    }
    Bytes stream;
    Expected expected;
};

TEST_P(Streams, AccessUnitsEqualPeerPackets) {
    Handle h;
    std::vector<int64_t> results;
    const auto aus = Feed(h, NalChunks(stream), true, &results);
    for (int64_t r : results)
        EXPECT_EQ(r, 0);
    ASSERT_EQ(aus.size(), expected.packets.size());
    for (size_t i = 0; i < aus.size(); ++i) {
        const Packet& p = expected.packets[i];
        const auto& au = aus[i];
        SCOPED_TRACE(i);
        ASSERT_EQ(au.bytes.size(), p.size);
        EXPECT_EQ(au.info.key, p.key);
        EXPECT_EQ(0, std::memcmp(au.bytes.data(), stream.data() + p.pos, p.size));
        // Every key frame of these streams carries its SPS, so its own
        // parameters are reported; other frames report none.
        if (au.info.key)
            ExpectParams(au.info);
        else
            EXPECT_EQ(au.info.hasParams, 0);
    }
}

TEST_P(Streams, QueryTypeIsFirstSliceType) {
    Handle h;
    for (const Packet& p : expected.packets) {
        VideoPicType t = VideoPicP;
        EXPECT_EQ(QueryType(h, stream.data() + p.pos, static_cast<unsigned>(p.size), t), 0);
        EXPECT_EQ(t, p.sliceType);
    }
}

TEST_P(Streams, SampleTestFindsNothingLostInWholeStream) {
    Handle h;
    for (const Packet& p : expected.packets) {
        VideoInfoEx ex{9, 9, 9};
        EXPECT_EQ(VideoSampleTest(h, stream.data() + p.pos, static_cast<unsigned>(p.size), &ex), 0);
        EXPECT_EQ(ex.lost, 0);
        EXPECT_EQ(ex.frame, 1); // frame pictures (MBAFF when interlaced)
        EXPECT_EQ(ex.intra, p.sliceType == 2 || p.sliceType == 7 ? 1 : 0);
    }
}

TEST_P(Streams, SampleTestReportsLossAfterRemovedReference) {
    Handle h;
    // Drop the first P picture: it is a reference, so the next picture's
    // frame_num jumps.
    size_t dropped = 0;
    for (size_t i = 1; i < expected.packets.size(); ++i)
        if (expected.packets[i].sliceType % 5 == 0) {
            dropped = i;
            break;
        }
    ASSERT_GT(dropped, 0u);
    std::vector<int> lost;
    for (size_t i = 0; i < expected.packets.size(); ++i) {
        if (i == dropped)
            continue;
        const Packet& p = expected.packets[i];
        VideoInfoEx ex{};
        VideoSampleTest(h, stream.data() + p.pos, static_cast<unsigned>(p.size), &ex);
        lost.push_back(ex.lost);
    }
    EXPECT_EQ(lost[dropped], 1); // the picture that followed the dropped one
    for (size_t i = 0; i < dropped; ++i)
        EXPECT_EQ(lost[i], 0);
}

TEST_P(Streams, NalListingMatchesSplitter) {
    Handle h;
    const auto spans = SplitNals(stream);
    unsigned count = 0;
    unsigned char** nals = nullptr;
    unsigned* lens = nullptr;
    ASSERT_EQ(GetNalFromFrame(h, stream.data(), static_cast<unsigned>(stream.size()), &count, &nals,
                              &lens),
              0);
    ASSERT_EQ(count, spans.size());
    for (size_t i = 0; i < spans.size(); ++i) {
        EXPECT_EQ(nals[i], stream.data() + spans[i].pos);
        EXPECT_EQ(lens[i], spans[i].size);
    }

    Handle h2;
    ASSERT_EQ(SetVideoData(h2, stream.data(), static_cast<unsigned>(stream.size())), 0);
    size_t slices = 0;
    for (const auto& s : spans) {
        unsigned char* nal = nullptr;
        unsigned len = 0, headerLen = 0;
        bool isSlice = false;
        EXPECT_EQ(GetNalUnit(h2, &nal, &len, &isSlice, &headerLen), 0);
        EXPECT_EQ(nal, stream.data() + s.pos);
        EXPECT_EQ(len, s.size);
        const bool slice = s.type == 1 || s.type == 5;
        EXPECT_EQ(isSlice, slice);
        if (slice) {
            // The length that trace_headers' bit positions give.
            ASSERT_LT(slices, expected.headerLengths.size());
            EXPECT_EQ(headerLen, expected.headerLengths[slices]) << "slice " << slices;
            ++slices;
        } else {
            EXPECT_EQ(headerLen, 0u);
        }
    }
    EXPECT_EQ(slices, expected.headerLengths.size());
    unsigned char* nal = nullptr;
    unsigned len = 0, headerLen = 0;
    bool isSlice = false;
    EXPECT_EQ(GetNalUnit(h2, &nal, &len, &isSlice, &headerLen), -1);
    EXPECT_EQ(nal, nullptr);
}

TEST_P(Streams, StrippedParameterSetsComeBackByteIdentical) {
    // Keep only the first SPS and PPS; the parser puts them back into the later
    // IDR access units.
    const auto spans = SplitNals(stream);
    std::vector<Bytes> chunks;
    Bytes stripped;
    bool seenSps = false, seenPps = false;
    int removed = 0;
    for (const auto& s : spans) {
        if ((s.type == 7 && seenSps) || (s.type == 8 && seenPps)) {
            ++removed;
            continue;
        }
        seenSps |= s.type == 7;
        seenPps |= s.type == 8;
        chunks.emplace_back(stream.begin() + s.pos, stream.begin() + s.pos + s.size);
    }
    Handle h;
    const auto aus = Feed(h, chunks);
    Bytes joined;
    for (const auto& au : aus) {
        joined.insert(joined.end(), au.bytes.begin(), au.bytes.end());
        if (au.info.key)
            ExpectParams(au.info);
    }
    EXPECT_EQ(joined, stream) << removed << " units removed";
}

INSTANTIATE_TEST_SUITE_P(H264, Streams,
                         ::testing::Values("h264_aud_1080", "h264_slices_noaud", "h264_mp4_annexb",
                                           "h264_interlaced", "h264_fullrange", "h264_peer_sei"));

} // namespace
