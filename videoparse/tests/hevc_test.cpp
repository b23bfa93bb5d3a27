// H.265: committed x265 streams against GStreamer's access units and
// ffprobe / trace_headers values; hand-made edge cases.
#include <gtest/gtest.h>

#include <cstring>

#include "feed.h"

using namespace vptest;

namespace {

int HevcType(const Bytes& d, const Span& s) {
    const size_t sc = d[s.pos + 2] == 1 ? 3 : 4;
    return (d[s.pos + sc] >> 1) & 63;
}

Bytes Unit(const Bytes& d, const Span& s) { return Bytes(d.begin() + s.pos, d.begin() + s.pos + s.size); }

class HevcStreams : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        stream = ReadFile(DataPath(std::string(GetParam()) + ".h265"));
        expected = ReadExpected(GetParam());
        ASSERT_FALSE(stream.empty());
        ASSERT_FALSE(expected.packets.empty());
    }
    Bytes stream;
    Expected expected;
};

TEST_P(HevcStreams, AccessUnitsEqualPeer) {
    Handle h(0, 0, VideoCodecH265);
    std::vector<int64_t> results;
    const auto aus = Feed(h, NalChunks(stream), true, &results);
    for (int64_t r : results)
        EXPECT_EQ(r, 0);
    ASSERT_EQ(aus.size(), expected.packets.size());
    for (size_t i = 0; i < aus.size(); ++i) {
        SCOPED_TRACE(i);
        const Packet& p = expected.packets[i];
        const VideoInfo& vi = aus[i].info;
        ASSERT_EQ(aus[i].bytes.size(), p.size);
        EXPECT_EQ(0, std::memcmp(aus[i].bytes.data(), stream.data() + p.pos, p.size));
        EXPECT_EQ(vi.key, p.key);
        bool hasSps = false;
        for (const auto& s : SplitNals(aus[i].bytes))
            hasSps |= HevcType(aus[i].bytes, s) == 33;
        // Parameters come only with an access unit's own SPS.
        ASSERT_EQ(vi.hasParams, hasSps ? 1 : 0);
        if (!hasSps)
            continue;
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
    }
}

TEST_P(HevcStreams, NoSliceTypeAndNoSampleTest) {
    Handle h(0, 0, VideoCodecH265);
    for (const Packet& p : expected.packets) {
        VideoPicType t = VideoPicI;
        EXPECT_EQ(QueryType(h, stream.data() + p.pos, unsigned(p.size), t), -1);
        EXPECT_EQ(t, VideoPicNone);
        VideoInfoEx ex{7, 8, 9};
        EXPECT_EQ(VideoSampleTest(h, stream.data() + p.pos, unsigned(p.size), &ex), 0);
        EXPECT_EQ(ex.lost, 7);
        EXPECT_EQ(ex.frame, 8);
        EXPECT_EQ(ex.intra, 9);
    }
}

INSTANTIATE_TEST_SUITE_P(H265, HevcStreams,
                         ::testing::Values("h265_aud", "h265_slices", "h265_mp4_annexb", "h265_hdr10",
                                           "h265_window", "h265_vps_timing"));

// Units of the first access unit of a stream, by type.
std::map<int, Bytes> FirstUnits(const std::string& name) {
    const Bytes s = ReadFile(DataPath(name + ".h265"));
    std::map<int, Bytes> units;
    for (const auto& sp : SplitNals(s)) {
        const int t = HevcType(s, sp);
        if (!units.count(t))
            units[t] = Unit(s, sp);
    }
    return units;
}

// The first IDR picture's slice (IDR_W_RADL or IDR_N_LP).
Bytes Idr(std::map<int, Bytes>& u) {
    EXPECT_TRUE(u.count(19) || u.count(20));
    return u.count(19) ? u[19] : u[20];
}

TEST(Hevc, LaterOfVpsAndSpsTimingWins) {
    auto withVpsTiming = FirstUnits("h265_vps_timing"); // VPS 50/1
    auto plain = FirstUnits("h265_aud");                // SPS 25/1
    ASSERT_TRUE(withVpsTiming.count(32) && plain.count(33) && plain.count(34));
    const Bytes& vps = withVpsTiming[32];
    const Bytes& sps = plain[33];
    struct Case {
        std::vector<Bytes> order;
        uint32_t num, den;
    };
    const Case cases[] = {{{vps, sps}, 25, 1}, {{sps, vps}, 50, 1}};
    for (const auto& c : cases) {
        Handle h(0, 0, VideoCodecH265);
        std::vector<Bytes> chunks = c.order;
        chunks.push_back(plain[34]);
        chunks.push_back(Idr(plain));
        const auto aus = Feed(h, chunks);
        ASSERT_EQ(aus.size(), 1u);
        EXPECT_EQ(aus[0].info.key, 1);
        EXPECT_EQ(aus[0].info.hasParams, 1);
        EXPECT_EQ(aus[0].info.rateNum, c.num);
        EXPECT_EQ(aus[0].info.rateDen, c.den);
    }
}

TEST(Hevc, SliceSegmentsAndShortUnits) {
    auto u = FirstUnits("h265_aud");
    const Bytes idr = Idr(u);
    // A picture of three segments (first flag 1, 0, 0), then the next picture.
    Bytes seg = idr;
    const size_t sc = seg[2] == 1 ? 3 : 4;
    seg[sc + 2] &= 0x7F; // first_slice_segment_in_pic_flag = 0
    Bytes trail = idr;
    trail[sc] = uint8_t((1 << 1) | (trail[sc] & 0x81)); // TRAIL_R, flag still 1
    const Bytes shortUnit = {0, 0, 1, 0x26};             // one header byte only
    const Bytes shortSlice = {0, 0, 1, 0x26, 0x01};      // header without the flag byte
    Handle h(0, 0, VideoCodecH265);
    const auto aus = Feed(h, {u[32], u[33], u[34], idr, seg, shortUnit, seg, shortSlice, trail});
    ASSERT_EQ(aus.size(), 2u);
    EXPECT_EQ(aus[0].bytes, Cat({u[32], u[33], u[34], idr, seg, seg}));
    EXPECT_EQ(aus[0].info.key, 1);
    EXPECT_EQ(aus[1].bytes, trail);
    EXPECT_EQ(aus[1].info.key, 0);
    EXPECT_EQ(aus[1].info.hasParams, 0);
}

TEST(Hevc, StartersAppearOnceAndCraIsKey) {
    auto u = FirstUnits("h265_aud");
    Bytes cra = Idr(u);
    const size_t sc = cra[2] == 1 ? 3 : 4;
    cra[sc] = uint8_t((21 << 1) | (cra[sc] & 0x81));
    const Bytes t41 = {0, 0, 1, 41 << 1, 0x01, 0xAA};
    const Bytes t48 = {0, 0, 1, 48 << 1, 0x01, 0xBB};
    const Bytes suffixSei = {0, 0, 1, 40 << 1, 0x01, 0x05, 0x80};
    Handle h(0, 0, VideoCodecH265);
    const auto aus = Feed(h, {u[35], u[32], u[33], u[34], t41, t48, cra, suffixSei});
    ASSERT_EQ(aus.size(), 1u);
    EXPECT_EQ(aus[0].bytes, Cat({u[35], u[32], u[33], u[34], t41, t48, cra, suffixSei}));
    EXPECT_EQ(aus[0].info.key, 1);
}

TEST(Hevc, ListingAndParameterSetCallsFailWithClearedOutputs) {
    Bytes stream = ReadFile(DataPath("h265_aud.h265"));
    ASSERT_FALSE(stream.empty());
    void* ud = nullptr;
    ASSERT_EQ(UserDataCreate(&ud, VideoCodecH265), 0);
    Handle parse(0, 0, VideoCodecH265);
    for (void* h : {static_cast<void*>(parse), ud}) {
        SCOPED_TRACE(h == ud ? "user-data handle" : "parse handle");
        ASSERT_EQ(SetVideoData(h, stream.data(), unsigned(stream.size())), 0);
        // A walk "until -1" ends at once, and no output keeps its marker.
        unsigned char* nal = reinterpret_cast<unsigned char*>(0x5A5A);
        unsigned len = 0xA5A5A5A5u, headerLen = 0xA5A5A5A5u;
        bool isSlice = true;
        EXPECT_EQ(GetNalUnit(h, &nal, &len, &isSlice, &headerLen), -1);
        EXPECT_EQ(nal, nullptr);
        EXPECT_EQ(len, 0u);
        EXPECT_FALSE(isSlice);
        EXPECT_EQ(headerLen, 0u);

        unsigned count = 0xA5A5A5A5u;
        unsigned char** nals = reinterpret_cast<unsigned char**>(0x5A5A);
        unsigned* lens = reinterpret_cast<unsigned*>(0x5A5A);
        EXPECT_EQ(GetNalFromFrame(h, stream.data(), unsigned(stream.size()), &count, &nals, &lens), -1);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(nals, nullptr);
        EXPECT_EQ(lens, nullptr);
    }
    ParameterSetData ps;
    std::memset(&ps, 0xA5, sizeof ps);
    EXPECT_EQ(GetParameterSetData(parse, stream.data(), unsigned(stream.size()), &ps), -1);
    for (const auto& slot : ps.slot) {
        EXPECT_EQ(slot.data, nullptr);
        EXPECT_EQ(slot.size, 0u);
    }
    EXPECT_EQ(UserDataRelease(ud), 0);
}

TEST(Hevc, BadInput) {
    Handle h(0, 0, VideoCodecH265);
    VideoInfo vi;
    const Bytes forbidden = {0, 0, 1, 0x80 | (19 << 1), 0x01, 0x80};
    EXPECT_EQ(ParseVideoParams(h, forbidden.data(), unsigned(forbidden.size()), &vi), -1);
    const Bytes junk = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(ParseVideoParams(h, junk.data(), unsigned(junk.size()), &vi), -1);
    EXPECT_EQ(ParseVideoParams(h, nullptr, 0, &vi), 0);
    EXPECT_EQ(vi.frameReady, 0);
    // A truncated SPS fails and stores nothing.
    auto u = FirstUnits("h265_aud");
    for (size_t cut = 6; cut < u[33].size() - 2; cut += 3) {
        Handle h2(0, 0, VideoCodecH265);
        const Bytes sps(u[33].begin(), u[33].begin() + cut);
        std::vector<int64_t> results;
        const auto aus = Feed(h2, {u[32], sps, u[34], Idr(u)}, true, &results);
        ASSERT_EQ(aus.size(), 1u);
        EXPECT_EQ(results[1], -1) << cut;
        EXPECT_EQ(aus[0].info.hasParams, 0) << cut;
    }
}

} // namespace
