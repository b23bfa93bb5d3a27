// Parameter-set parsing, storage and extraction on hand-made units.
#include <gtest/gtest.h>

#include "feed.h"

using namespace vptest;

namespace {

struct SpsCase {
    const char* name;
    SpsSpec sps;
    bool ok;
    int width, height;
};

SpsSpec With(void (*f)(SpsSpec&)) {
    SpsSpec s;
    f(s);
    return s;
}

// Feeds SPS, PPS and an IDR slice, flushes, and returns the reported record.
VideoInfo ParseOne(const Bytes& sps, const Bytes& pps, int64_t* spsResult = nullptr) {
    Handle h;
    std::vector<int64_t> results;
    const auto aus = Feed(h, {sps, pps, MakeSlice({})}, true, &results);
    if (spsResult)
        *spsResult = results[0];
    VideoInfo vi{};
    if (!aus.empty())
        vi = aus.back().info;
    return vi;
}

TEST(Sps, Table) {
    const SpsCase cases[] = {
        {"1088 cropped to 1080", {}, true, 1920, 1080},
        {"no crop", With([](SpsSpec& s) { s.crop[3] = 0; }), true, 1920, 1088},
        {"fields, crop units of 4 rows",
         With([](SpsSpec& s) { s.frameMbsOnly = 0, s.heightUnits = 34, s.crop[3] = 2; }), true, 1920,
         1080},
        {"monochrome, crop unit 1",
         With([](SpsSpec& s) { s.profile = 100, s.chroma = 0, s.crop[1] = 8, s.crop[3] = 8; }), true,
         1912, 1080},
        {"4:2:2", With([](SpsSpec& s) { s.profile = 122, s.chroma = 2, s.crop[3] = 8; }), true,
         1920, 1080},
        {"full 4x4 scaling list", With([](SpsSpec& s) { s.profile = 100, s.scaling = true; }), true,
         1920, 1080},
        {"poc type 1 with 255 offsets", With([](SpsSpec& s) { s.pocType = 1, s.pocCycle = 255; }),
         true, 1920, 1080},
        {"poc type 2", With([](SpsSpec& s) { s.pocType = 2; }), true, 1920, 1080},
        {"sps id 31", With([](SpsSpec& s) { s.id = 31; }), true, 1920, 1080},
        {"sps id 32", With([](SpsSpec& s) { s.id = 32; }), false, 0, 0},
        {"log2_max_frame_num_minus4 13", With([](SpsSpec& s) { s.log2FrameNum = 13; }), false, 0, 0},
        {"log2_max_pic_order_cnt_lsb_minus4 13", With([](SpsSpec& s) { s.log2Poc = 13; }), false, 0,
         0},
        {"poc type 3", With([](SpsSpec& s) { s.pocType = 3; }), false, 0, 0},
        {"256 offsets for ref frames", With([](SpsSpec& s) { s.pocType = 1, s.pocCycle = 256; }),
         false, 0, 0},
        {"chroma_format_idc 4", With([](SpsSpec& s) { s.profile = 100, s.chroma = 4; }), false, 0, 0},
        {"crop as large as the height", With([](SpsSpec& s) { s.crop[3] = 544; }), false, 0, 0},
        {"crop as large as the width", With([](SpsSpec& s) { s.crop[0] = 480, s.crop[1] = 480; }),
         false, 0, 0},
        {"huge width", With([](SpsSpec& s) { s.widthMbs = 0xF0000000u; }), false, 0, 0},
        {"tick of 2^31 units", With([](SpsSpec& s) { s.unitsInTick = 0x80000000u; }), true, 1920, 1080},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes sps = MakeSps(c.sps);
        const Bytes pps = MakePps(0, c.sps.id);
        int64_t r = 0;
        const VideoInfo vi = ParseOne(sps, pps, &r);
        EXPECT_EQ(r, c.ok ? 0 : -1);
        Handle h;
        Bytes s2 = sps, p2 = pps;
        EXPECT_EQ(SetParameterSetData(h, s2.data(), static_cast<unsigned>(s2.size()), p2.data(),
                                      static_cast<unsigned>(p2.size())),
                  c.ok ? 0 : -1);
        if (!c.ok) {
            EXPECT_EQ(vi.hasParams, 0);
            continue;
        }
        EXPECT_EQ(vi.hasParams, 1);
        EXPECT_EQ(vi.width, c.width);
        EXPECT_EQ(vi.height, c.height);
    }
}

TEST(Sps, TruncatedUnitsFail) {
    const Bytes sps = MakeSps({});
    for (size_t len = 5; len < sps.size() - 1; ++len) {
        Bytes cut(sps.begin(), sps.begin() + len);
        Bytes pps = MakePps();
        Handle h;
        EXPECT_EQ(SetParameterSetData(h, cut.data(), static_cast<unsigned>(len), pps.data(),
                                      static_cast<unsigned>(pps.size())),
                  -1)
            << len;
    }
}

TEST(Sps, VuiFields) {
    struct Case {
        const char* name;
        SpsSpec sps;
        uint32_t rateNum, rateDen;
        int present, format, full, desc, prim, trc, mat;
    };
    const Case cases[] = {
        {"timing 1001/60000, BT.709", {}, 60000, 2002, 1, 5, 0, 1, 1, 1, 1},
        {"no signal type", With([](SpsSpec& s) { s.signalType = false; }), 60000, 2002, 0, 5, 0, 0, 2, 2,
         2},
        {"signal type without colour description",
         With([](SpsSpec& s) { s.colourDesc = false, s.videoFormat = 2, s.fullRange = 1; }), 60000,
         2002, 1, 2, 1, 0, 2, 2, 2},
        {"BT.2020 PQ", With([](SpsSpec& s) { s.primaries = 9, s.transfer = 16, s.matrix = 9; }), 60000,
         2002, 1, 5, 0, 1, 9, 16, 9},
        {"timing 1/25", With([](SpsSpec& s) { s.unitsInTick = 1, s.timeScale = 50; }), 50, 2, 1, 5, 0, 1,
         1, 1, 1},
        {"no timing", With([](SpsSpec& s) { s.timing = false; }), 0, 0, 1, 5, 0, 1, 1, 1, 1},
        // 2 x num_units_in_tick does not fit in 32 bits: the rate is unknown.
        {"tick of 2^31 units", With([](SpsSpec& s) { s.unitsInTick = 0x80000000u; }), 0, 0, 1, 5, 0,
         1, 1, 1, 1},
        {"tick of 2^32 - 1 units", With([](SpsSpec& s) { s.unitsInTick = 0xFFFFFFFFu; }), 0, 0, 1, 5,
         0, 1, 1, 1, 1},
        {"tick of 2^31 - 1 units",
         With([](SpsSpec& s) { s.unitsInTick = 0x7FFFFFFFu, s.timeScale = 0xFFFFFFFFu; }),
         0xFFFFFFFFu, 0xFFFFFFFEu, 1, 5, 0, 1, 1, 1, 1},
        {"no VUI", With([](SpsSpec& s) { s.vui = false; }), 0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const VideoInfo vi = ParseOne(MakeSps(c.sps), MakePps());
        EXPECT_EQ(vi.hasParams, 1);
        EXPECT_EQ(vi.rateNum, c.rateNum);
        EXPECT_EQ(vi.rateDen, c.rateDen);
        EXPECT_EQ(vi.videoSignalTypePresent, c.present);
        EXPECT_EQ(vi.videoFormat, c.format);
        EXPECT_EQ(vi.videoFullRange, c.full);
        EXPECT_EQ(vi.colourDescriptionPresent, c.desc);
        EXPECT_EQ(vi.colourPrimaries, c.prim);
        EXPECT_EQ(vi.transferCharacteristics, c.trc);
        EXPECT_EQ(vi.matrixCoefficients, c.mat);
    }
}

TEST(Sps, StreamWithLargeTickKeepsEveryAccessUnit) {
    SpsSpec sps;
    sps.unitsInTick = 0x80000000u;
    std::vector<Bytes> units = {MakeSps(sps), MakePps()};
    std::vector<Bytes> pictures;
    for (uint32_t i = 0; i < 4; ++i) {
        SliceSpec s;
        s.idr = i == 0;
        s.sliceType = i == 0 ? 7 : 5;
        s.frameNum = i;
        s.pocLsb = 2 * i;
        pictures.push_back(MakeSlice(s));
        units.push_back(pictures.back());
    }
    Handle h;
    std::vector<int64_t> results;
    const auto aus = Feed(h, units, true, &results);
    for (int64_t r : results)
        EXPECT_EQ(r, 0);
    ASSERT_EQ(aus.size(), pictures.size());
    EXPECT_EQ(aus[0].bytes, Cat({units[0], units[1], pictures[0]}));
    for (size_t i = 1; i < aus.size(); ++i)
        EXPECT_EQ(aus[i].bytes, pictures[i]) << i;
    EXPECT_EQ(aus[0].info.key, 1);
    EXPECT_EQ(aus[0].info.hasParams, 1);
    EXPECT_EQ(aus[0].info.height, 1080);
    EXPECT_EQ(aus[0].info.rateNum, 0u);
    EXPECT_EQ(aus[0].info.rateDen, 0u);
}

TEST(Pps, IdLimits) {
    const Bytes sps = MakeSps({});
    const std::pair<uint32_t, uint32_t> ok[] = {{0, 0}, {255, 0}, {3, 31}};
    const std::pair<uint32_t, uint32_t> bad[] = {{256, 0}, {0, 32}, {100000, 0}};
    for (auto [id, spsId] : ok) {
        Handle h;
        Bytes s = sps, p = MakePps(id, spsId);
        EXPECT_EQ(SetParameterSetData(h, s.data(), unsigned(s.size()), p.data(), unsigned(p.size())), 0);
    }
    for (auto [id, spsId] : bad) {
        Handle h;
        Bytes s = sps, p = MakePps(id, spsId);
        EXPECT_EQ(SetParameterSetData(h, s.data(), unsigned(s.size()), p.data(), unsigned(p.size())), -1);
    }
}

TEST(ParameterSets, OutOfBandUnitsWithoutStartCodeAreInserted) {
    const Bytes stream = ReadFile(DataPath("h264_slices_noaud.h264"));
    const auto spans = SplitNals(stream);
    Bytes sps, pps;
    std::vector<Bytes> chunks;
    for (const auto& s : spans) {
        Bytes unit(stream.begin() + s.pos, stream.begin() + s.pos + s.size);
        if (s.type == 7 || s.type == 8) {
            ASSERT_EQ(s.size > 4 && unit[2] == 0, true); // 4-byte start code
            Bytes& keep = s.type == 7 ? sps : pps;
            if (keep.empty())
                keep.assign(unit.begin() + 4, unit.end());
            continue;
        }
        chunks.push_back(unit);
    }
    Handle h;
    ASSERT_EQ(SetParameterSetData(h, sps.data(), unsigned(sps.size()), pps.data(), unsigned(pps.size())), 0);
    const auto aus = Feed(h, chunks);
    Bytes joined;
    for (const auto& au : aus) {
        joined.insert(joined.end(), au.bytes.begin(), au.bytes.end());
        if (au.info.key) {
            EXPECT_EQ(au.info.hasParams, 1);
            EXPECT_EQ(au.info.width, 640);
            EXPECT_EQ(au.info.height, 360);
        }
    }
    EXPECT_EQ(joined, stream);
}

TEST(ParameterSets, FailedParseStoresNothing) {
    Handle h;
    Bytes sps = MakeSps({}), pps = MakePps(300);
    EXPECT_EQ(SetParameterSetData(h, sps.data(), unsigned(sps.size()), pps.data(), unsigned(pps.size())), -1);
    // The IDR without parameter sets stays as it is.
    const Bytes idr = MakeSlice({});
    const auto aus = Feed(h, {idr});
    EXPECT_TRUE(aus.empty()); // no SPS known: the slice is dropped
    Bytes bad = {0, 0, 0, 1, 0xE7, 1, 2, 3};
    Bytes good = MakePps();
    EXPECT_EQ(SetParameterSetData(h, bad.data(), unsigned(bad.size()), good.data(), unsigned(good.size())), -1);
}

TEST(ParameterSets, ExtractedFromFrameAndSlotsGrow) {
    const Bytes sps = MakeSps({}), pps = MakePps();
    Bytes bigPps = MakePps(1);
    bigPps.resize(3000, 0x55); // longer than a 1024-byte slot
    Bytes frame = Cat({Aud(), sps, pps, bigPps, MakeSlice({})});
    Handle h;
    ParameterSetData out;
    ASSERT_EQ(GetParameterSetData(h, frame.data(), unsigned(frame.size()), &out), 0);
    EXPECT_EQ(out.slot[0].data, nullptr);
    EXPECT_EQ(out.slot[0].size, 0u);
    ASSERT_EQ(out.slot[1].size, sps.size());
    EXPECT_EQ(Bytes(out.slot[1].data, out.slot[1].data + out.slot[1].size), sps);
    ASSERT_EQ(out.slot[2].size, bigPps.size()); // the later PPS replaces the earlier
    EXPECT_EQ(Bytes(out.slot[2].data, out.slot[2].data + out.slot[2].size), bigPps);

    Bytes noParams = Cat({Aud(), MakeSlice({})});
    ASSERT_EQ(GetParameterSetData(h, noParams.data(), unsigned(noParams.size()), &out), 0);
    EXPECT_EQ(out.slot[1].size, 0u);
    EXPECT_EQ(out.slot[2].data, nullptr);
}

TEST(ParameterSets, FirstParametersSurviveStreamWithoutDelimiters) {
    // SPS, PPS, IDR: the PPS lands in the pending access unit; the stored
    // parameters must still reach a later IDR that carries none.
    SliceSpec p;
    p.idr = false, p.sliceType = 5, p.frameNum = 1, p.pocLsb = 2;
    SliceSpec idr2;
    idr2.idrPicId = 1;
    Handle h;
    const auto aus = Feed(h, {MakeSps({}), MakePps(), MakeSlice({}), MakeSlice(p), MakeSlice(idr2)});
    ASSERT_EQ(aus.size(), 3u);
    EXPECT_EQ(aus[2].info.key, 1);
    EXPECT_EQ(aus[2].info.hasParams, 1);
    EXPECT_EQ(aus[2].info.height, 1080);
    EXPECT_EQ(aus[2].bytes, Cat({MakeSps({}), MakePps(), MakeSlice(idr2)}));
}

TEST(NewPicture, Table) {
    struct Case {
        const char* name;
        SliceSpec a, b;
        bool newPicture;
    };
    SliceSpec idr;
    auto mod = [](SliceSpec s, void (*f)(SliceSpec&)) { f(s); return s; };
    const SliceSpec p = mod(idr, [](SliceSpec& s) { s.idr = false, s.sliceType = 0, s.frameNum = 1; });
    const Case cases[] = {
        {"second slice of an IDR", idr, mod(idr, [](SliceSpec& s) { s.firstMb = 10; }), false},
        {"IDR after IDR, other idr_pic_id", idr, mod(idr, [](SliceSpec& s) { s.idrPicId = 1; }), true},
        {"frame_num differs", p, mod(p, [](SliceSpec& s) { s.frameNum = 2; }), true},
        {"pps differs", p, mod(p, [](SliceSpec& s) { s.pps = 1; }), true},
        {"poc lsb differs", p, mod(p, [](SliceSpec& s) { s.pocLsb = 4; }), true},
        {"nal_ref_idc to 0", p, mod(p, [](SliceSpec& s) { s.refIdc = 0; }), true},
        {"nal_ref_idc 3 to 1", p, mod(p, [](SliceSpec& s) { s.refIdc = 1; }), false},
        {"slice type differs only", p, mod(p, [](SliceSpec& s) { s.sliceType = 1, s.firstMb = 5; }), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Handle h;
        std::vector<int64_t> results;
        const auto aus = Feed(h, {MakeSps({}), MakePps(0), MakePps(1), MakeSlice(c.a), MakeSlice(c.b)},
                              false, &results);
        for (int64_t r : results)
            EXPECT_EQ(r, 0);
        EXPECT_EQ(aus.size(), c.newPicture ? 1u : 0u);
    }
}

TEST(SampleTest, FrameNumberGaps) {
    SliceSpec ref1;
    ref1.idr = false, ref1.sliceType = 5, ref1.frameNum = 1;
    SliceSpec p3 = ref1;
    p3.frameNum = 3;
    for (uint32_t gaps : {0u, 1u}) {
        SCOPED_TRACE(gaps);
        SpsSpec s;
        s.gaps = gaps;
        Handle h;
        Bytes idr = Cat({MakeSps(s), MakePps(), MakeSlice({})});
        VideoInfoEx ex{};
        ASSERT_EQ(VideoSampleTest(h, idr.data(), unsigned(idr.size()), &ex), 0);
        EXPECT_EQ(ex.intra, 1);
        EXPECT_EQ(ex.lost, 0);
        Bytes a = MakeSlice(ref1), b = MakeSlice(p3);
        ASSERT_EQ(VideoSampleTest(h, a.data(), unsigned(a.size()), &ex), 0);
        EXPECT_EQ(ex.lost, 0);
        EXPECT_EQ(ex.intra, 0);
        EXPECT_EQ(ex.frame, 1);
        ASSERT_EQ(VideoSampleTest(h, b.data(), unsigned(b.size()), &ex), 0);
        EXPECT_EQ(ex.lost, gaps ? 0 : 1);
    }
    // Unknown parameter sets: lost, -1.
    Handle h;
    Bytes a = MakeSlice(ref1);
    VideoInfoEx ex{};
    EXPECT_EQ(VideoSampleTest(h, a.data(), unsigned(a.size()), &ex), -1);
    EXPECT_EQ(ex.lost, 1);
    // No slice at all: nothing.
    Bytes sps = MakeSps({});
    EXPECT_EQ(VideoSampleTest(h, sps.data(), unsigned(sps.size()), &ex), 0);
    EXPECT_EQ(ex.lost + ex.frame + ex.intra, 0);
}

TEST(SampleTest, FieldPairs) {
    SpsSpec sps;
    sps.frameMbsOnly = 0, sps.heightUnits = 34, sps.crop[3] = 2;
    enum Kind { Idr, I, P };
    struct Row {
        Kind kind;
        uint32_t frameNum;
        bool bottom;
        int lost;
    };
    // Each field pair shares its frame_num, and the next pair's is one more:
    // a stream without a gap loses nothing.
    struct Case {
        const char* name;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {"IDR/P, P/P, pair after a gap in frame_num (both fields report it), P/P",
         {{Idr, 0, false, 0}, {P, 0, true, 0}, {P, 1, false, 0}, {P, 1, true, 0},
          {P, 3, false, 1}, {P, 3, true, 1}, {P, 4, false, 0}, {P, 4, true, 0}}},
        {"IDR/I, then P/P pairs",
         {{Idr, 0, false, 0}, {I, 0, true, 0}, {P, 1, false, 0}, {P, 1, true, 0},
          {P, 2, false, 0}, {P, 2, true, 0}, {P, 3, false, 0}, {P, 3, true, 0}}},
        {"P/P, I/I, P/P",
         {{Idr, 0, false, 0}, {P, 0, true, 0}, {P, 1, false, 0}, {P, 1, true, 0},
          {I, 2, false, 0}, {I, 2, true, 0}, {P, 3, false, 0}, {P, 3, true, 0},
          {P, 4, false, 0}, {P, 4, true, 0}}},
        {"I/P pairs",
         {{Idr, 0, false, 0}, {P, 0, true, 0}, {I, 1, false, 0}, {P, 1, true, 0},
          {I, 2, false, 0}, {P, 2, true, 0}, {P, 3, false, 0}, {P, 3, true, 0}}},
        {"bottom field first: IDR/I, P/P, I/I",
         {{Idr, 0, true, 0}, {I, 0, false, 0}, {P, 1, true, 0}, {P, 1, false, 0},
          {I, 2, true, 0}, {I, 2, false, 0}, {P, 3, true, 0}, {P, 3, false, 0}}},
        {"IDR/I, I/I after a gap in frame_num (both fields report it), P/P",
         {{Idr, 0, false, 0}, {I, 0, true, 0}, {I, 2, false, 1}, {I, 2, true, 1},
          {P, 3, false, 0}, {P, 3, true, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Handle h;
        Bytes params = Cat({MakeSps(sps), MakePps()});
        VideoInfoEx ex{};
        ASSERT_EQ(VideoSampleTest(h, params.data(), unsigned(params.size()), &ex), 0);
        int i = 0;
        for (const Row& r : c.rows) {
            SCOPED_TRACE(i++);
            SliceSpec s;
            s.idr = r.kind == Idr;
            s.sliceType = r.kind == P ? 5 : 7;
            s.frameNum = r.frameNum;
            s.pocLsb = (2 * r.frameNum + (r.bottom ? 1 : 0)) % 16;
            s.fieldCoding = true;
            s.fieldPic = true;
            s.bottom = r.bottom;
            const Bytes slice = MakeSlice(s);
            ASSERT_EQ(VideoSampleTest(h, slice.data(), unsigned(slice.size()), &ex), 0);
            EXPECT_EQ(ex.frame, 0);
            EXPECT_EQ(ex.lost, r.lost);
            EXPECT_EQ(ex.intra, r.kind == P ? 0 : 1);
        }
    }
}

TEST(QueryType, Table) {
    Handle h;
    const Bytes iFrame = Cat({Aud(), MakeSps({}), MakePps(), MakeSlice({})});
    VideoPicType t = VideoPicP;
    EXPECT_EQ(QueryType(h, iFrame.data(), unsigned(iFrame.size()), t), 0);
    EXPECT_EQ(t, VideoPicIAll);
    const Bytes noSlice = Cat({Aud(), MakeSps({})});
    EXPECT_EQ(QueryType(h, noSlice.data(), unsigned(noSlice.size()), t), -1);
    EXPECT_EQ(t, VideoPicNone);
    EXPECT_EQ(QueryType(h, nullptr, 10, t), -1);
    EXPECT_EQ(t, VideoPicNone);
}

} // namespace
