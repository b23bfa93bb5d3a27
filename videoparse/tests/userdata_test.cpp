// SEI user data: add, get and remove on hand-made frames and the committed streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
}

#include "feed.h"

using namespace vptest;

namespace {

const Bytes kUuid = {0x99, 0xAE, 0xD3, 0x1B, 0xB8, 0x94, 0x4B, 0x97,
                     0xAD, 0x39, 0xFB, 0x4E, 0xD5, 0x90, 0x2B, 0xA1};

struct UserHandle {
    void* h = nullptr;
    explicit UserHandle(VideoCodecType codec = VideoCodecH264) {
        EXPECT_EQ(UserDataCreate(&h, codec), 0);
    }
    ~UserHandle() { UserDataRelease(h); }
    operator void*() const { return h; }
};

Bytes Add(void* h, const Bytes& frame, const Bytes& user, int64_t* r = nullptr) {
    const unsigned char* out = nullptr;
    unsigned len = 0;
    const int64_t res = AddUserData(h, frame.data(), unsigned(frame.size()), user.data(),
                                    unsigned(user.size()), &out, &len);
    if (r)
        *r = res;
    return out ? Bytes(out, out + len) : Bytes{};
}

bool Get(void* h, const Bytes& frame, Bytes* user) {
    const unsigned char* out = nullptr;
    unsigned len = 0;
    EXPECT_EQ(GetUserData(h, frame.data(), unsigned(frame.size()), &out, &len), 0);
    if (!out)
        return false;
    user->assign(out, out + len);
    return true;
}

Bytes Remove(void* h, const Bytes& frame) {
    const unsigned char* out = nullptr;
    unsigned len = 0;
    EXPECT_EQ(RemoveUserData(h, frame.data(), unsigned(frame.size()), &out, &len), 0);
    return out ? Bytes(out, out + len) : Bytes{};
}

bool IsSei(const Bytes& frame, const Span& s, bool hevc) {
    const size_t sc = frame[s.pos + 2] == 1 ? 3 : 4;
    return hevc ? ((frame[s.pos + sc] >> 1) & 63) == 39 : s.type == 6;
}

// Independent reading of a frame's SEI messages (prefix SEI for H.265):
// payload types in order.
std::vector<int> SeiTypes(const Bytes& frame, bool hevc = false) {
    std::vector<int> types;
    for (const auto& s : SplitNals(frame)) {
        if (!IsSei(frame, s, hevc))
            continue;
        const size_t sc = frame[s.pos + 2] == 1 ? 3 : 4;
        Bytes rbsp;
        int zeros = 0;
        for (size_t i = s.pos + sc + (hevc ? 2 : 1); i < s.pos + s.size; ++i) {
            if (zeros >= 2 && frame[i] == 3) {
                zeros = 0;
                continue;
            }
            rbsp.push_back(frame[i]);
            zeros = frame[i] == 0 ? zeros + 1 : 0;
        }
        size_t i = 0;
        while (i + 1 < rbsp.size()) {
            int type = 0, size = 0;
            while (rbsp[i] == 0xFF)
                type += 255, ++i;
            type += rbsp[i++];
            while (rbsp[i] == 0xFF)
                size += 255, ++i;
            size += rbsp[i++];
            types.push_back(type);
            i += size;
        }
    }
    return types;
}

Bytes Pattern(size_t n, unsigned seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = (i % 7 < 3) ? 0 : static_cast<uint8_t>((i * 31 + seed) % 5);
    return b;
}

TEST(UserData, MessageLayout) {
    const Bytes aud = Aud(), sps = MakeSps({}), pps = MakePps(), idr = MakeSlice({});
    const Bytes frame = Cat({aud, sps, pps, idr});
    UserHandle h;
    struct Case {
        size_t len;
        Bytes sizeBytes;
    };
    for (const Case& c : {Case{100, {0x74}}, Case{300, {0xFF, 0x3D}}, Case{0, {0x10}},
                          Case{239, {0xFF, 0x00}}}) {
        Bytes user(c.len, 0x42);
        int64_t r = -9;
        const Bytes out = Add(h, frame, user, &r);
        EXPECT_EQ(r, 0);
        // The new SEI unit lands between the PPS and the slice.
        const Bytes sei = Cat({{0, 0, 0, 1, 0x06, 0x05}, c.sizeBytes, kUuid, user, {0x80}});
        EXPECT_EQ(out, Cat({aud, sps, pps, sei, idr})) << c.len;
    }
}

TEST(UserData, EscapedInFrameAndReturnedWithout) {
    const Bytes frame = Cat({Aud(), MakeSlice({})});
    const Bytes user = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00};
    UserHandle h;
    const Bytes out = Add(h, frame, user);
    const Bytes escaped = {0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x00, 0x07, 0x00, 0x00, 0x80};
    EXPECT_NE(std::search(out.begin(), out.end(), escaped.begin(), escaped.end()), out.end());
    Bytes back;
    ASSERT_TRUE(Get(h, out, &back));
    EXPECT_EQ(back, user);
}

TEST(UserData, AppendedToExistingSeiUnit) {
    // Recovery point SEI (type 6, 1 byte).
    const Bytes sei = Nal(0x06, {0x06, 0x01, 0x84, 0x80});
    const Bytes slice = MakeSlice({});
    const Bytes frame = Cat({Aud(), sei, slice});
    UserHandle h;
    const Bytes user = {1, 2, 3};
    const Bytes out = Add(h, frame, user);
    const Bytes grown = Cat({{0, 0, 0, 1, 0x06, 0x06, 0x01, 0x84}, {0x05, 19}, kUuid, user, {0x80}});
    EXPECT_EQ(out, Cat({Aud(), grown, slice}));
    EXPECT_EQ(SeiTypes(out), (std::vector<int>{6, 5}));
    // Removing gives the SEI unit back as it was.
    EXPECT_EQ(Remove(h, out), frame);
}

TEST(UserData, FailuresAndOutputs) {
    UserHandle h;
    const Bytes user = {1};
    int64_t r = 0;
    // Neither an SEI unit nor a slice: the copy is there, but -1.
    const Bytes params = Cat({MakeSps({}), MakePps()});
    EXPECT_EQ(Add(h, params, user, &r), params);
    EXPECT_EQ(r, -1);
    // An SEI unit without its trailing 80: -1 and no output.
    const Bytes noTrail = Cat({Nal(0x06, {0x06, 0x01, 0x84}), MakeSlice({})});
    const unsigned char* out = nullptr;
    unsigned len = 0;
    EXPECT_EQ(AddUserData(h, noTrail.data(), unsigned(noTrail.size()), user.data(), 1, &out, &len), -1);
    EXPECT_EQ(out, nullptr);
    // Nothing found: null and 0.
    Bytes got;
    EXPECT_FALSE(Get(h, MakeSlice({}), &got));
    const Bytes junk = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(GetUserData(h, junk.data(), unsigned(junk.size()), &out, &len), -1);
    EXPECT_EQ(out, nullptr);
    // User data past the bound is refused.
    Bytes huge(17u << 20, 1);
    const Bytes frame = MakeSlice({});
    EXPECT_EQ(AddUserData(h, frame.data(), unsigned(frame.size()), huge.data(), unsigned(huge.size()),
                          &out, &len),
              -1);
}

TEST(UserData, SecondMatchingMessageWinsAndShortOnesNeverMatch) {
    UserHandle h;
    auto message = [](const Bytes& user) {
        return Cat({{0x05, uint8_t(user.size() + 16)}, kUuid, user});
    };
    const Bytes frame = Cat({Nal(0x06, Cat({message({1, 1}), message({2, 2, 2}), {0x80}})), MakeSlice({})});
    Bytes got;
    ASSERT_TRUE(Get(h, frame, &got));
    EXPECT_EQ(got, (Bytes{2, 2, 2}));
    // Type 5 with a size below 16, and a size past the end.
    const Bytes shortMsg = Cat({Nal(0x06, Cat({{0x05, 0x04}, {0x99, 0xAE, 0xD3, 0x1B}, {0x80}})), MakeSlice({})});
    EXPECT_FALSE(Get(h, shortMsg, &got));
    const Bytes pastEnd = Cat({Nal(0x06, Cat({{0x05, 0xFF, 0xFF, 0x40}, kUuid, {0x80}})), MakeSlice({})});
    EXPECT_FALSE(Get(h, pastEnd, &got));
    const Bytes ffRun = Cat({Nal(0x06, Bytes(200, 0xFF)), MakeSlice({})});
    EXPECT_FALSE(Get(h, ffRun, &got));
    EXPECT_EQ(Remove(h, ffRun), MakeSlice({})); // nothing kept: the unit goes
}

TEST(UserData, RemoveDropsEveryUserDataMessageAndKeepsOthers) {
    UserHandle h;
    const Bytes otherUuid(16, 0x11);
    const Bytes sei = Nal(0x06, Cat({{0x06, 0x01, 0x84}, {0x05, 18}, otherUuid, {7, 7}, {0x05, 16}, kUuid, {0x80}}));
    const Bytes frame = Cat({Aud(), sei, MakeSlice({})});
    const Bytes out = Remove(h, frame);
    EXPECT_EQ(SeiTypes(out), (std::vector<int>{6}));
    EXPECT_EQ(out, Cat({Aud(), Nal(0x06, {0x06, 0x01, 0x84, 0x80}), MakeSlice({})}));
}

class UserDataStreams : public ::testing::TestWithParam<const char*> {};

TEST_P(UserDataStreams, RoundTripsOnEveryAccessUnit) {
    const std::string name = GetParam();
    const bool hevc = name.rfind("h265", 0) == 0;
    const Bytes stream = ReadFile(DataPath(name + (hevc ? ".h265" : ".h264")));
    const Expected e = ReadExpected(name);
    UserHandle h(hevc ? VideoCodecH265 : VideoCodecH264);
    const std::vector<Bytes> users = {{}, {0x5A}, Pattern(100, 1), Pattern(300, 2), Pattern(70000, 3),
                                      {0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 0, 3}};
    for (const Packet& p : e.packets) {
        const Bytes frame(stream.begin() + p.pos, stream.begin() + p.pos + p.size);
        bool ownSei = false;
        for (const auto& s : SplitNals(frame))
            ownSei |= IsSei(frame, s, hevc);
        for (const Bytes& user : users) {
            int64_t r = -9;
            const Bytes added = Add(h, frame, user, &r);
            ASSERT_EQ(r, 0);
            Bytes got;
            ASSERT_TRUE(Get(h, added, &got));
            ASSERT_EQ(got, user);
            const Bytes removed = Remove(h, added);
            if (!ownSei) {
                ASSERT_EQ(removed, frame);
            } else {
                std::vector<int> want;
                for (int t : SeiTypes(frame, hevc))
                    if (t != 5)
                        want.push_back(t);
                ASSERT_EQ(SeiTypes(removed, hevc), want);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(H264, UserDataStreams,
                         ::testing::Values("h264_aud_1080", "h264_slices_noaud", "h264_mp4_annexb",
                                           "h264_interlaced", "h264_fullrange", "h264_peer_sei",
                                           "h265_aud", "h265_slices", "h265_mp4_annexb", "h265_hdr10",
                                           "h265_window"));

TEST(UserData, PeerMessageIsReadAndEveryUserDataMessageRemoved) {
    const Bytes stream = ReadFile(DataPath("h264_peer_sei.h264"));
    std::ifstream f(DataPath("h264_peer_sei.expected"));
    std::string line, text;
    std::map<int, std::vector<int>> sei;
    while (std::getline(f, line)) {
        std::istringstream s(line);
        std::string key;
        s >> key;
        if (key == "peer_user_data") {
            s >> text;
        } else if (key == "sei") {
            int i, t;
            s >> i;
            while (s >> t)
                sei[i].push_back(t);
        }
    }
    ASSERT_FALSE(text.empty());
    const Expected e = ReadExpected("h264_peer_sei");
    UserHandle h;
    for (size_t i = 0; i < e.packets.size(); ++i) {
        const Packet& p = e.packets[i];
        const Bytes frame(stream.begin() + p.pos, stream.begin() + p.pos + p.size);
        ASSERT_EQ(SeiTypes(frame), sei[int(i)]);
        if (i == 0) {
            Bytes got;
            ASSERT_TRUE(Get(h, frame, &got));
            // The peer writes the text with its terminating NUL.
            EXPECT_EQ(std::string(got.begin(), got.end()), text + std::string(1, '\0'));
        }
        std::vector<int> want;
        for (int t : sei[int(i)])
            if (t != 5)
                want.push_back(t);
        const Bytes removed = Remove(h, frame);
        EXPECT_EQ(SeiTypes(removed), want) << i;
        Bytes got;
        EXPECT_FALSE(Get(h, removed, &got));
        // Every other unit is kept as it was.
        Bytes others, othersAfter;
        for (const auto& s : SplitNals(frame))
            if (s.type != 6)
                others.insert(others.end(), frame.begin() + s.pos, frame.begin() + s.pos + s.size);
        for (const auto& s : SplitNals(removed))
            if (s.type != 6)
                othersAfter.insert(othersAfter.end(), removed.begin() + s.pos, removed.begin() + s.pos + s.size);
        EXPECT_EQ(others, othersAfter);
    }
}

// Decodes each access unit with libavcodec and returns the pictures' bytes in
// output order (the decoder runs on one thread, so the order is fixed).
std::vector<Bytes> DecodePictures(const std::vector<Bytes>& units, bool hevc) {
    std::vector<Bytes> pictures;
    const AVCodec* codec = avcodec_find_decoder(hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    EXPECT_NE(codec, nullptr);
    if (!codec)
        return pictures;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (!ctx || !pkt || !frame) {
        ADD_FAILURE() << "libavcodec allocation failed";
    } else {
        ctx->thread_count = 1;
        EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
        auto drain = [&] {
            while (avcodec_receive_frame(ctx, frame) == 0) {
                const auto fmt = static_cast<AVPixelFormat>(frame->format);
                const int size = av_image_get_buffer_size(fmt, frame->width, frame->height, 1);
                EXPECT_GT(size, 0);
                Bytes pic(size_t(size > 0 ? size : 0));
                if (size > 0)
                    av_image_copy_to_buffer(pic.data(), size, frame->data, frame->linesize, fmt,
                                            frame->width, frame->height, 1);
                pictures.push_back(std::move(pic));
                av_frame_unref(frame);
            }
        };
        for (const Bytes& u : units) {
            // av_new_packet pads and zeroes the tail the decoder may read.
            EXPECT_EQ(av_new_packet(pkt, int(u.size())), 0);
            std::memcpy(pkt->data, u.data(), u.size());
            EXPECT_EQ(avcodec_send_packet(ctx, pkt), 0);
            av_packet_unref(pkt);
            drain();
        }
        EXPECT_EQ(avcodec_send_packet(ctx, nullptr), 0);
        drain();
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return pictures;
}

// The decoded pictures stay the same after Add and after Remove.
class DecodedPictures : public ::testing::TestWithParam<const char*> {};

TEST_P(DecodedPictures, UnchangedAfterAddAndRemove) {
    const std::string name = GetParam();
    const bool hevc = name.rfind("h265", 0) == 0;
    const Bytes stream = ReadFile(DataPath(name + (hevc ? ".h265" : ".h264")));
    const Expected e = ReadExpected(name);
    ASSERT_FALSE(e.packets.empty());
    UserHandle h(hevc ? VideoCodecH265 : VideoCodecH264);
    std::vector<Bytes> original, added, removed;
    const Bytes user = Pattern(300, 9);
    for (const Packet& p : e.packets) {
        const Bytes frame(stream.begin() + p.pos, stream.begin() + p.pos + p.size);
        original.push_back(frame);
        added.push_back(Add(h, frame, user));
        EXPECT_NE(added.back(), frame);
        removed.push_back(Remove(h, added.back()));
    }
    const std::vector<Bytes> want = DecodePictures(original, hevc);
    EXPECT_EQ(want.size(), e.packets.size());
    EXPECT_TRUE(DecodePictures(added, hevc) == want);
    EXPECT_TRUE(DecodePictures(removed, hevc) == want);
}

INSTANTIATE_TEST_SUITE_P(Both, DecodedPictures, ::testing::Values("h264_slices_noaud", "h265_slices"));

} // namespace
