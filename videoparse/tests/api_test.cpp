// Exported interface: names, handles, argument checks, ring, flush.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "feed.h"

using namespace vptest;

namespace {

TEST(Exports, ExactlyTheFifteenFunctions) {
    const std::string cmd = std::string("nm -DC --defined-only ") + VIDEOPARSE_LIB;
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::set<std::string> names;
    char line[1024];
    while (fgets(line, sizeof line, p)) {
        std::string s(line);
        if (!s.empty() && s.back() == '\n')
            s.pop_back();
        // "<address> <kind> <name>"
        const size_t a = s.find(' ');
        ASSERT_NE(a, std::string::npos) << s;
        names.insert(s.substr(a + 3));
    }
    ASSERT_EQ(pclose(p), 0);
    const std::set<std::string> expected = {
        "ParseCreate(void**, VideoCodecType, unsigned int, unsigned int)",
        "ParseRelease(void*)",
        "SetParameterSetData(void*, unsigned char*, unsigned int, unsigned char*, unsigned int)",
        "GetParameterSetData(void*, unsigned char*, unsigned int, ParameterSetData*)",
        "ParseVideoParams(void*, unsigned char const*, unsigned int, VideoInfo*)",
        "VideoSampleTest(void*, unsigned char const*, unsigned int, VideoInfoEx*)",
        "QueryType(void*, unsigned char const*, unsigned int, VideoPicType&)",
        "SetVideoData(void*, unsigned char*, unsigned int)",
        "GetNalUnit(void*, unsigned char**, unsigned int*, bool*, unsigned int*)",
        "GetNalFromFrame(void*, unsigned char*, unsigned int, unsigned int*, unsigned char***, "
        "unsigned int**)",
        "UserDataCreate(void**, VideoCodecType)",
        "UserDataRelease(void*)",
        "AddUserData(void*, unsigned char const*, unsigned int, unsigned char const*, unsigned int, "
        "unsigned char const**, unsigned int*)",
        "GetUserData(void*, unsigned char const*, unsigned int, unsigned char const**, unsigned "
        "int*)",
        "RemoveUserData(void*, unsigned char const*, unsigned int, unsigned char const**, unsigned "
        "int*)",
    };
    EXPECT_EQ(names, expected);
}

TEST(Handles, CreateAndRelease) {
    EXPECT_EQ(ParseCreate(nullptr, VideoCodecH264, 0, 0), -1);
    void* h = reinterpret_cast<void*>(1);
    EXPECT_EQ(ParseCreate(&h, static_cast<VideoCodecType>(2), 0, 0), -1);
    EXPECT_EQ(h, nullptr);
    h = reinterpret_cast<void*>(1);
    EXPECT_EQ(UserDataCreate(&h, static_cast<VideoCodecType>(-1)), -1);
    EXPECT_EQ(h, nullptr);
    for (auto codec : {VideoCodecH264, VideoCodecH265}) {
        ASSERT_EQ(ParseCreate(&h, codec, 0, 0), 0);
        EXPECT_NE(h, nullptr);
        EXPECT_EQ(ParseRelease(h), 0);
        ASSERT_EQ(UserDataCreate(&h, codec), 0);
        EXPECT_EQ(UserDataRelease(h), 0);
    }
}

TEST(Handles, NullHandleFailsEverywhere) {
    VideoInfo vi;
    VideoInfoEx ex;
    VideoPicType t;
    ParameterSetData ps;
    unsigned char b[8] = {0, 0, 1, 0x65, 0x88, 0, 0, 0};
    const unsigned char* out;
    unsigned char* nal;
    unsigned char** nals;
    unsigned* lens;
    unsigned n;
    bool slice;
    EXPECT_EQ(ParseRelease(nullptr), -1);
    EXPECT_EQ(UserDataRelease(nullptr), -1);
    EXPECT_EQ(SetParameterSetData(nullptr, b, 8, b, 8), -1);
    EXPECT_EQ(GetParameterSetData(nullptr, b, 8, &ps), -1);
    EXPECT_EQ(ParseVideoParams(nullptr, b, 8, &vi), -1);
    EXPECT_EQ(VideoSampleTest(nullptr, b, 8, &ex), -1);
    EXPECT_EQ(QueryType(nullptr, b, 8, t), -1);
    EXPECT_EQ(SetVideoData(nullptr, b, 8), -1);
    EXPECT_EQ(GetNalUnit(nullptr, &nal, &n, &slice, &n), -1);
    EXPECT_EQ(GetNalFromFrame(nullptr, b, 8, &n, &nals, &lens), -1);
    EXPECT_EQ(AddUserData(nullptr, b, 8, b, 2, &out, &n), -1);
    EXPECT_EQ(GetUserData(nullptr, b, 8, &out, &n), -1);
    EXPECT_EQ(RemoveUserData(nullptr, b, 8, &out, &n), -1);
}

TEST(Handles, WrongKindAndNullOutputsFail) {
    Handle parse;
    void* ud = nullptr;
    ASSERT_EQ(UserDataCreate(&ud, VideoCodecH264), 0);
    unsigned char b[8] = {0, 0, 1, 0x65, 0x88, 0, 0, 0};
    VideoInfo vi;
    ParameterSetData ps;
    const unsigned char* out;
    unsigned n;
    EXPECT_EQ(ParseVideoParams(ud, b, 8, &vi), -1);
    EXPECT_EQ(SetParameterSetData(ud, b, 8, b, 8), -1);
    EXPECT_EQ(GetParameterSetData(ud, b, 8, &ps), -1);
    EXPECT_EQ(ParseRelease(ud), -1);
    EXPECT_EQ(AddUserData(parse, b, 8, b, 2, &out, &n), -1);
    EXPECT_EQ(GetUserData(parse, b, 8, &out, &n), -1);
    EXPECT_EQ(RemoveUserData(parse, b, 8, &out, &n), -1);
    EXPECT_EQ(UserDataRelease(parse), -1);
    // Null outputs.
    EXPECT_EQ(ParseVideoParams(parse, b, 8, nullptr), -1);
    EXPECT_EQ(VideoSampleTest(parse, b, 8, nullptr), -1);
    EXPECT_EQ(GetParameterSetData(parse, b, 8, nullptr), -1);
    EXPECT_EQ(GetNalUnit(parse, nullptr, &n, nullptr, &n), -1);
    EXPECT_EQ(GetNalFromFrame(parse, b, 8, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(SetParameterSetData(parse, nullptr, 8, b, 8), -1);
    EXPECT_EQ(SetParameterSetData(parse, b, 0, b, 8), -1);
    // Operations that work on either kind.
    VideoPicType t;
    EXPECT_EQ(QueryType(ud, b, 8, t), 0); // needs no parameter sets
    EXPECT_EQ(t, VideoPicIAll);
    unsigned char** nals;
    unsigned* lens;
    EXPECT_EQ(GetNalFromFrame(ud, b, 8, &n, &nals, &lens), 0);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(UserDataRelease(ud), 0);
}

// IDR, then P pictures: small access units whose buffers never grow.
std::vector<Bytes> SmallStream(int pictures) {
    std::vector<Bytes> chunks = {MakeSps({}), MakePps()};
    for (int i = 0; i < pictures; ++i) {
        SliceSpec s;
        s.idr = i == 0;
        s.sliceType = i == 0 ? 7 : 5;
        s.frameNum = i % 16;
        s.pocLsb = (2 * i) % 16;
        chunks.push_back(MakeSlice(s));
    }
    return chunks;
}

TEST(Ring, BuffersAreReusedAfterCount) {
    for (const auto& [count, ring] : std::vector<std::pair<unsigned, unsigned>>{
             {0, 6}, {3, 3}, {1, 2}, {2, 2}}) {
        Handle h(count, count == 1 ? 4096 : 0);
        std::vector<const unsigned char*> ptrs;
        VideoInfo vi;
        for (const auto& c : SmallStream(14)) {
            ASSERT_EQ(ParseVideoParams(h, c.data(), static_cast<unsigned>(c.size()), &vi), 0);
            if (vi.frameReady)
                ptrs.push_back(vi.data);
        }
        ASSERT_EQ(ptrs.size(), 13u);
        for (size_t i = 0; i + ring < ptrs.size(); ++i) {
            EXPECT_EQ(ptrs[i], ptrs[i + ring]) << count;
            for (size_t k = 1; k < ring; ++k)
                EXPECT_NE(ptrs[i], ptrs[i + k]) << count;
        }
    }
}

TEST(Assembly, DelimitedStreamFedUnitByUnit) {
    const Bytes aud = Aud(), sps = MakeSps({}), pps = MakePps();
    const Bytes prefix = Nal(0x6E, {0x80, 0x01}); // type 14
    const Bytes idr = MakeSlice({});
    SliceSpec p;
    p.idr = false;
    p.sliceType = 5;
    p.frameNum = 1;
    p.pocLsb = 2;
    const Bytes slice1 = MakeSlice(p);
    SliceSpec idr2;
    idr2.idrPicId = 1;
    idr2.frameNum = 0;
    const Bytes idrNoParams = MakeSlice(idr2);

    Handle h;
    VideoInfo vi;
    std::vector<Bytes> chunks = {aud, sps, pps, prefix, idr, aud, slice1};
    for (size_t i = 0; i < chunks.size(); ++i) {
        ASSERT_EQ(ParseVideoParams(h, chunks[i].data(), static_cast<unsigned>(chunks[i].size()), &vi), 0);
        if (i + 1 < chunks.size()) {
            EXPECT_EQ(vi.frameReady, 0) << i;
        }
    }
    ASSERT_EQ(vi.frameReady, 1);
    EXPECT_EQ(vi.key, 1);
    EXPECT_EQ(vi.hasParams, 1);
    EXPECT_EQ(Bytes(vi.data, vi.data + vi.size), Cat({aud, sps, pps, prefix, idr}));
    EXPECT_EQ(vi.width, 1920);
    EXPECT_EQ(vi.height, 1080);

    // The next IDR comes without SPS and PPS: they are put in behind its delimiter.
    for (const Bytes* c : {&aud, &idrNoParams})
        ASSERT_EQ(ParseVideoParams(h, c->data(), static_cast<unsigned>(c->size()), &vi), 0);
    ASSERT_EQ(vi.frameReady, 1);
    EXPECT_EQ(vi.key, 0);
    EXPECT_EQ(vi.hasParams, 0);
    EXPECT_EQ(Bytes(vi.data, vi.data + vi.size), Cat({aud, slice1}));
    ASSERT_EQ(ParseVideoParams(h, nullptr, 0, &vi), 0);
    ASSERT_EQ(vi.frameReady, 1);
    EXPECT_EQ(vi.key, 1);
    EXPECT_EQ(vi.hasParams, 1);
    EXPECT_EQ(vi.height, 1080);
    EXPECT_EQ(Bytes(vi.data, vi.data + vi.size), Cat({aud, sps, pps, idrNoParams}));
}

TEST(Assembly, SlicesOfOnePictureInSeparateCallsReportNothingBetween) {
    Handle h;
    SliceSpec a, b;
    b.firstMb = 60;
    VideoInfo vi;
    for (const Bytes& c : {MakeSps({}), MakePps(), MakeSlice(a), MakeSlice(b)}) {
        ASSERT_EQ(ParseVideoParams(h, c.data(), static_cast<unsigned>(c.size()), &vi), 0);
        EXPECT_EQ(vi.frameReady, 0);
    }
    ASSERT_EQ(ParseVideoParams(h, nullptr, 0, &vi), 0);
    EXPECT_EQ(vi.frameReady, 1);
    EXPECT_EQ(vi.size, MakeSps({}).size() + MakePps().size() + MakeSlice(a).size() + MakeSlice(b).size());
}

TEST(Assembly, FlushOnFreshHandleAndSecondFlushReportNothing) {
    Handle h;
    VideoInfo vi;
    EXPECT_EQ(ParseVideoParams(h, nullptr, 0, &vi), 0);
    EXPECT_EQ(vi.frameReady, 0);
    const auto aus = Feed(h, SmallStream(3));
    EXPECT_EQ(aus.size(), 3u);
    EXPECT_EQ(ParseVideoParams(h, nullptr, 0, &vi), 0);
    EXPECT_EQ(vi.frameReady, 0);
    const unsigned char one = 0;
    EXPECT_EQ(ParseVideoParams(h, &one, 0, &vi), 0);
    EXPECT_EQ(vi.frameReady, 0);
    // Data after a flush starts afresh: its parameter sets are not reported as
    // a picture of their own.
    const auto again = Feed(h, SmallStream(3));
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(again[0].bytes, Cat({MakeSps({}), MakePps(), MakeSlice({})}));
    EXPECT_EQ(again[0].info.key, 1);
}

TEST(Assembly, ShortChunksAndBadInput) {
    Handle h;
    VideoInfo vi;
    const Bytes four = {0, 0, 1, 0x65};
    EXPECT_EQ(ParseVideoParams(h, four.data(), 4, &vi), 0);
    EXPECT_EQ(vi.frameReady, 0);
    const Bytes noStart = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(ParseVideoParams(h, noStart.data(), 8, &vi), -1);
    const Bytes forbidden = {0, 0, 1, 0xE5, 1, 2};
    EXPECT_EQ(ParseVideoParams(h, forbidden.data(), 6, &vi), -1);
    // Bytes in front of the first start code are skipped.
    auto chunks = SmallStream(3);
    chunks[0].insert(chunks[0].begin(), {7, 7, 7});
    const auto aus = Feed(h, chunks);
    ASSERT_EQ(aus.size(), 3u);
    EXPECT_EQ(aus[0].info.height, 1080);
}

TEST(Assembly, OversizedAccessUnitIsDropped) {
    Handle h;
    VideoInfo vi;
    const auto start = SmallStream(1);
    for (const auto& c : start)
        ASSERT_EQ(ParseVideoParams(h, c.data(), static_cast<unsigned>(c.size()), &vi), 0);
    // Filler data (type 12) travels with the current access unit.
    Bytes filler((32u << 20) + 4096, 0xFF);
    filler[0] = 0, filler[1] = 0, filler[2] = 1, filler[3] = 0x0C;
    EXPECT_EQ(ParseVideoParams(h, filler.data(), static_cast<unsigned>(filler.size()), &vi), 0);
    EXPECT_EQ(ParseVideoParams(h, filler.data(), static_cast<unsigned>(filler.size()), &vi), -1);
    EXPECT_EQ(ParseVideoParams(h, nullptr, 0, &vi), 0);
    EXPECT_EQ(vi.frameReady, 0);
    // The handle goes on with the next pictures.
    const auto aus = Feed(h, SmallStream(3));
    EXPECT_EQ(aus.size(), 3u);
}

TEST(NalListing, WalkGoesPastUnreadableUnitsAndEndsWithNullUnit) {
    SliceSpec unknownPps;
    unknownPps.pps = 5;
    SliceSpec p;
    p.idr = false, p.sliceType = 5, p.frameNum = 1, p.pocLsb = 2;
    const Bytes forbidden = {0, 0, 0, 1, 0xE5, 0x88, 0x84, 0x21};
    struct Unit {
        Bytes bytes;
        int64_t result;
        bool slice;
    };
    // On a fresh handle: a slice before any parameter set, one with a PPS the
    // data never brings, and a unit with the forbidden bit set.
    const Unit units[] = {
        {MakeSlice({}), -1, true},   {Aud(), 0, false},          {MakeSps({}), 0, false},
        {MakePps(), 0, false},       {MakeSlice({}), 0, true},   {forbidden, -1, false},
        {MakeSlice(unknownPps), -1, true}, {MakeSlice(p), 0, true},
    };
    Bytes data;
    for (const Unit& u : units)
        data.insert(data.end(), u.bytes.begin(), u.bytes.end());
    Handle h;
    ASSERT_EQ(SetVideoData(h, data.data(), unsigned(data.size())), 0);
    size_t pos = 0;
    int i = 0;
    for (const Unit& u : units) {
        SCOPED_TRACE(i++);
        unsigned char* nal = nullptr;
        unsigned len = 0, headerLen = 0;
        bool isSlice = false;
        EXPECT_EQ(GetNalUnit(h, &nal, &len, &isSlice, &headerLen), u.result);
        ASSERT_EQ(nal, data.data() + pos);
        EXPECT_EQ(len, u.bytes.size());
        EXPECT_EQ(isSlice, u.slice);
        EXPECT_EQ(headerLen != 0, u.slice && u.result == 0);
        pos += u.bytes.size();
    }
    for (int end = 0; end < 2; ++end) {
        unsigned char* nal = data.data();
        unsigned len = 7, headerLen = 7;
        bool isSlice = true;
        EXPECT_EQ(GetNalUnit(h, &nal, &len, &isSlice, &headerLen), -1);
        EXPECT_EQ(nal, nullptr);
        EXPECT_EQ(len, 0u);
        EXPECT_FALSE(isSlice);
        EXPECT_EQ(headerLen, 0u);
    }
}

TEST(Assembly, UnknownParameterSetsDropTheSlice) {
    Handle h;
    std::vector<int64_t> results;
    const auto aus = Feed(h, {MakeSlice({}), MakeSlice({})}, true, &results);
    EXPECT_TRUE(aus.empty());
    EXPECT_EQ(results[0], -1);
}

} // namespace
