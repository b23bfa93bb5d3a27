#include <gtest/gtest.h>

#include "player/frame_ring.h"

namespace {

struct SizeCase {
    int src_w, src_h, dst_w, dst_h, progressive;
    int out_w, out_h;
};

void PrintTo(const SizeCase& c, std::ostream* os)
{
    *os << c.src_w << "x" << c.src_h << (c.progressive ? "p" : "i") << " on " << c.dst_w << "x" << c.dst_h;
}


class OutputSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(OutputSize, KeepsAspectRatioWithWidthOfEight)
{
    const SizeCase& c = GetParam();
    int out_h = -1;
    int out_w = -1;
    ResizeAndKeepAspectRatio(c.src_h, c.src_w, c.dst_h, c.dst_w, out_h, out_w, c.progressive);
    EXPECT_EQ(out_w, c.out_w);
    EXPECT_EQ(out_h, c.out_h);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputSize,
    ::testing::Values(
        // Same aspect as the screen: the whole screen.
        SizeCase{1920, 1080, 1920, 1080, 1, 1920, 1080},
        SizeCase{3840, 2160, 1920, 1080, 1, 1920, 1080},
        // Relatively taller screen: full width, letter-boxed.
        SizeCase{1920, 1080, 1920, 1200, 1, 1920, 1080},
        SizeCase{1920, 1080, 1280, 1024, 1, 1280, 720},
        // 720x576 on 16:9: full height, width ceil(1350) rounded down to 1344.
        SizeCase{720, 576, 1920, 1080, 1, 1344, 1080},
        // 4:3 on 16:9, pillar-boxed.
        SizeCase{640, 480, 1920, 1080, 1, 1440, 1080},
        // An odd output height: ceil(1280 * 480 / 704) = 873.
        SizeCase{704, 480, 1280, 1024, 1, 1280, 873},
        // Fields: the source height is doubled (weave mode).
        SizeCase{1920, 540, 1920, 1080, 0, 1920, 1080},
        SizeCase{720, 288, 1920, 1080, 0, 1344, 1080},
        // Portrait screen.
        SizeCase{1920, 1080, 1080, 1920, 1, 1080, 608},
        // Zero sizes give no output size instead of dividing by zero.
        SizeCase{1920, 1080, 0, 0, 1, 0, 0},
        SizeCase{0, 0, 1920, 1080, 1, 0, 0},
        SizeCase{1920, 1080, 1920, 0, 1, 0, 0}));

} // namespace
