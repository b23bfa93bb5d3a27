#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "player/conversion.h"
#include "player/frame_ring.h"
#include "player/player_state.h"
#include "player/tests/player_testing.h"

namespace {

using playertest::I420Image;
using playertest::makeUyvy;
using playertest::referenceConversion;
using playertest::slotPlanes;

class FrameRing : public ::testing::Test {
protected:
    void SetUp() override { playertest::resetPlayerState(); }
    void TearDown() override { playertest::resetPlayerState(); }

    // As the receiver does on a new format.
    bool reinit(const UyvyPicture& picture, int screen_w, int screen_h)
    {
        isRendered = 1;
        isInitVideo = 1;
        return reinitOutput(picture, screen_w, screen_h, nullptr);
    }
    static int newestSlot() { return (cur_converter_index.load() + 2) % 3; }
};

void expectSame(const I420Image& got, const I420Image& want)
{
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    EXPECT_TRUE(got.y == want.y);
    EXPECT_TRUE(got.u == want.u);
    EXPECT_TRUE(got.v == want.v);
}

struct ConversionCase {
    int width, height, stride, screen_w, screen_h;
    int out_w, out_h;
};

void PrintTo(const ConversionCase& c, std::ostream* os)
{
    *os << c.width << "x" << c.height << " stride " << c.stride << " on " << c.screen_w << "x" << c.screen_h;
}


class RingConversion : public FrameRing, public ::testing::WithParamInterface<ConversionCase> {};

// The slot holds what libswscale gives for the frame into exactly sized planes; odd
// output heights get their last chroma row (an overflow under AddressSanitizer otherwise).
TEST_P(RingConversion, SlotEqualsLibswscaleIntoExactPlanes)
{
    const ConversionCase& c = GetParam();
    auto image = makeUyvy(c.width, c.height, c.stride, [](int x, int y) { return static_cast<uint8_t>(16 + (x * 7 + y * 3) % 220); },
                          90, 170);
    ASSERT_TRUE(reinit(image.picture(kFrameProgressive), c.screen_w, c.screen_h));
    EXPECT_EQ(outvideo_width.load(), c.out_w);
    EXPECT_EQ(outvideo_height.load(), c.out_h);
    EXPECT_EQ(isInitVideo.load(), 0);
    EXPECT_EQ(isNeededOpenglReset.load(), 1);
    EXPECT_EQ(outLineSize[0], c.out_w);
    EXPECT_EQ(outLineSize[1], c.out_w / 2);

    convertIntoRing(image.picture(kFrameProgressive));
    EXPECT_EQ(cur_converter_index.load(), 1);
    EXPECT_EQ(isRendered.load(), 0);
    EXPECT_EQ(isInitUploaded.load(), 1);
    expectSame(slotPlanes(0), referenceConversion(image.bytes.data(), c.width, c.height, c.stride, c.out_w, c.out_h));
    EXPECT_EQ(converter_buffers[0].frame_format, kFrameProgressive);
}

INSTANTIATE_TEST_SUITE_P(Cases, RingConversion,
                         ::testing::Values(ConversionCase{704, 480, 1408, 1280, 1024, 1280, 873},
                                           ConversionCase{704, 480, 1536, 1280, 1024, 1280, 873},
                                           ConversionCase{320, 180, 640, 640, 360, 640, 360},
                                           ConversionCase{720, 576, 1440, 1920, 1080, 1344, 1080},
                                           ConversionCase{1920, 1080, 3840, 1280, 720, 1280, 720}));

// At the same size libswscale skips the last chroma row of an odd height.
TEST_F(FrameRing, OddHeightAtTheSameSizeHasItsLastChromaRow)
{
    auto image = makeUyvy(80, 45, 160, [](int x, int) { return static_cast<uint8_t>(40 + x); }, 90, 170);
    ASSERT_TRUE(reinit(image.picture(kFrameProgressive), 80, 45));
    ASSERT_EQ(outvideo_height.load(), 45);
    convertIntoRing(image.picture(kFrameProgressive));
    I420Image slot = slotPlanes(0);
    ASSERT_EQ(slot.u.size(), 40u * 23u);
    for (size_t i = 0; i < slot.u.size(); ++i) {
        ASSERT_EQ(slot.u[i], 90) << "U sample " << i;
        ASSERT_EQ(slot.v[i], 170) << "V sample " << i;
    }
    for (size_t i = 0; i < slot.y.size(); ++i)
        ASSERT_EQ(slot.y[i], 40 + static_cast<int>(i % 80));
}

TEST_F(FrameRing, WovenFieldsGiveAlternatingLines)
{
    // 64x8 fields with padded lines (stride beyond twice the width) on a 64x16 screen:
    // woven 64x16, scaled 1:1.
    const int w = 64, h = 8, stride = 2 * w + 96;
    auto field0 = makeUyvy(w, h, stride, [](int, int) { return uint8_t(50); });
    auto field1 = makeUyvy(w, h, stride, [](int, int) { return uint8_t(200); });
    ASSERT_TRUE(reinit(field0.picture(kFrameField0), 64, 16));
    ASSERT_EQ(outvideo_width.load(), 64);
    ASSERT_EQ(outvideo_height.load(), 16);
    ASSERT_NE(converter_buffers[0].weave, nullptr);
    EXPECT_EQ(converter_buffers[0].weave_stride, stride);

    // A field 0 alone does not advance the ring, nor offer anything to draw.
    convertIntoRing(field0.picture(kFrameField0));
    EXPECT_EQ(cur_converter_index.load(), 0);
    EXPECT_EQ(isInitUploaded.load(), 0);
    EXPECT_EQ(acquireNewestSlot(), nullptr);

    convertIntoRing(field1.picture(kFrameField1));
    EXPECT_EQ(cur_converter_index.load(), 1);
    EXPECT_EQ(converter_buffers[0].frame_format, kFrameField1);
    I420Image slot = slotPlanes(0);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(slot.y[y * 64 + x], y % 2 == 0 ? 50 : 200) << "line " << y << " column " << x;
}

TEST_F(FrameRing, LoneFieldOneShowsBlackBetweenItsLines)
{
    const int w = 32, h = 4, stride = 2 * w;
    auto field1 = makeUyvy(w, h, stride, [](int, int) { return uint8_t(180); });
    ASSERT_TRUE(reinit(field1.picture(kFrameField1), 32, 8));
    convertIntoRing(field1.picture(kFrameField1));
    ASSERT_EQ(cur_converter_index.load(), 1);
    I420Image slot = slotPlanes(0);
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(slot.y[y * 32], y % 2 == 0 ? 16 : 180) << "line " << y;
}

TEST_F(FrameRing, InterleavedFrameIsOneFrameOfFullHeight)
{
    const int w = 64, h = 36;
    auto frame = makeUyvy(w, h, 2 * w, [](int, int y) { return static_cast<uint8_t>(y % 2 ? 60 : 160); });
    ASSERT_TRUE(reinit(frame.picture(kFrameInterleaved), 64, 36));
    EXPECT_EQ(outvideo_height.load(), 36);  // not doubled as fields would be
    EXPECT_EQ(converter_buffers[0].weave, nullptr);
    convertIntoRing(frame.picture(kFrameInterleaved));
    ASSERT_EQ(cur_converter_index.load(), 1);
    expectSame(slotPlanes(0), referenceConversion(frame.bytes.data(), w, h, 2 * w, 64, 36));
}

TEST_F(FrameRing, ZeroScreenSizeSkipsReinitialisationAndConversion)
{
    auto frame = makeUyvy(64, 36, 128, [](int, int) { return uint8_t(100); });
    EXPECT_FALSE(reinit(frame.picture(kFrameProgressive), 0, 0));
    EXPECT_EQ(isInitVideo.load(), 1);
    EXPECT_EQ(sws_ctx, nullptr);
    convertIntoRing(frame.picture(kFrameProgressive));
    EXPECT_EQ(cur_converter_index.load(), 0);
    EXPECT_EQ(isInitUploaded.load(), 0);
}

TEST_F(FrameRing, FrameOfAnotherSizeOrNoDataIsNotConverted)
{
    auto frame = makeUyvy(64, 36, 128, [](int, int) { return uint8_t(100); });
    ASSERT_TRUE(reinit(frame.picture(kFrameProgressive), 64, 36));
    auto other = makeUyvy(64, 48, 128, [](int, int) { return uint8_t(100); });
    convertIntoRing(other.picture(kFrameProgressive));
    UyvyPicture empty = frame.picture(kFrameProgressive);
    empty.data = nullptr;
    convertIntoRing(empty);
    EXPECT_EQ(cur_converter_index.load(), 0);
    exit_loop = true;
    convertIntoRing(frame.picture(kFrameProgressive));
    EXPECT_EQ(cur_converter_index.load(), 0);
}

// The render loop's view: the slot written last, and never a slot it holds overwritten.
TEST_F(FrameRing, HeldSlotIsNeverWritten)
{
    auto frameOf = [](int value) {
        return makeUyvy(32, 16, 64, [value](int, int) { return static_cast<uint8_t>(value); });
    };
    auto first = frameOf(30);
    ASSERT_TRUE(reinit(first.picture(kFrameProgressive), 32, 16));
    EXPECT_EQ(acquireNewestSlot(), nullptr);  // a new ring holds nothing to draw

    convertIntoRing(first.picture(kFrameProgressive));
    CONVERTER_BUFFER* held = acquireNewestSlot();
    ASSERT_EQ(held, &converter_buffers[0]);
    EXPECT_EQ(render_slot_in_use.load(), 0);

    for (int i = 1; i <= 7; ++i) {
        auto next = frameOf(30 + 20 * i);
        convertIntoRing(next.picture(kFrameProgressive));
        EXPECT_EQ(held->planes[0][0], 30) << "after frame " << i;
        // The newest slot is always the one just written.
        EXPECT_EQ(converter_buffers[newestSlot()].planes[0][0], 30 + 20 * i);
    }
    releaseSlot(held, true);
    EXPECT_EQ(render_slot_in_use.load(), -1);

    CONVERTER_BUFFER* newest = acquireNewestSlot();
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(newest->planes[0][0], 30 + 20 * 7);
    releaseSlot(newest, true);
    EXPECT_EQ(isRendered.load(), 1);
    // Drawn: nothing new until the next frame.
    EXPECT_EQ(acquireNewestSlot(), nullptr);
    EXPECT_EQ(render_slot_in_use.load(), -1);
}

TEST_F(FrameRing, NothingToDrawWhileReinitialising)
{
    auto frame = makeUyvy(32, 16, 64, [](int, int) { return uint8_t(77); });
    ASSERT_TRUE(reinit(frame.picture(kFrameProgressive), 32, 16));
    convertIntoRing(frame.picture(kFrameProgressive));
    isInitVideo = 1;
    EXPECT_EQ(acquireNewestSlot(), nullptr);
    EXPECT_EQ(render_slot_in_use.load(), -1);
}

TEST_F(FrameRing, ReinitialisationWaitsForTheReaderToLetGo)
{
    auto frame = makeUyvy(32, 16, 64, [](int, int) { return uint8_t(77); });
    ASSERT_TRUE(reinit(frame.picture(kFrameProgressive), 32, 16));
    convertIntoRing(frame.picture(kFrameProgressive));
    CONVERTER_BUFFER* held = acquireNewestSlot();
    ASSERT_NE(held, nullptr);
    // A receiver being stopped gives up instead of waiting, and frees nothing.
    std::atomic<bool> stop{true};
    isInitVideo = 1;
    auto bigger = makeUyvy(64, 32, 128, [](int, int) { return uint8_t(77); });
    EXPECT_FALSE(reinitOutput(bigger.picture(kFrameProgressive), 64, 32, &stop));
    EXPECT_NE(held->i420, nullptr);
    EXPECT_EQ(held->planes[0][0], 77);
    EXPECT_EQ(video_width.load(), 0);  // the next receiver starts over
    releaseSlot(held, false);
    EXPECT_TRUE(reinitOutput(bigger.picture(kFrameProgressive), 64, 32, nullptr));
    EXPECT_EQ(converter_buffers[0].width, 64);
}

} // namespace
