// Number parsing, environment settings, string tests, plane filling and colour helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "xqv/helpers.h"

namespace {

using namespace XqvUtils;

TEST(XqvParse, ParseUintTable) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t value;  // also the value stored on a stop
  };
  const Case cases[] = {
      {"0", true, 0},
      {"", true, 0},
      {"42", true, 42},
      {"007", true, 7},
      {"4294967295", true, 4294967295u},
      {"4294967296", false, 429496729u},  // the digit that overflows stops the parse
      {"99999999999", false, 999999999u},
      {"12a", false, 12},
      {"-1", false, 0},
      {" 1", false, 0},
      {"0x", false, 0},
      {"0X", false, 0},
      {"0x1f", true, 0x1F},
      {"0XaB", true, 0xAB},
      {"0xFFFFFFFF", true, 0xFFFFFFFFu},
      {"0x0FFFFFFFF", true, 0xFFFFFFFFu},  // leading zero: still eight significant digits
      {"0x100000000", false, 0x10000000u},
      {"0x12g", false, 0x12},
      {"x12", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t v = 12345;
    EXPECT_EQ(parse_uint(c.text, &v), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(v, c.value) << '"' << c.text << '"';
  }
}

TEST(XqvParse, ParseWithDefaultAndEnvironment) {
  EXPECT_EQ(parse_uint_or("17", 5), 17u);
  EXPECT_EQ(parse_uint_or("0x10", 5), 16u);
  EXPECT_EQ(parse_uint_or("nope", 5), 5u);
  EXPECT_EQ(parse_uint_or("4294967296", 5), 5u);

  unsetenv("XQV_TEST_VALUE");
  EXPECT_EQ(env_get_int("XQV_TEST_VALUE", -3), -3);
  setenv("XQV_TEST_VALUE", "6", 1);
  EXPECT_EQ(env_get_int("XQV_TEST_VALUE", -3), 6);
  setenv("XQV_TEST_VALUE", "0x20", 1);
  EXPECT_EQ(env_get_int("XQV_TEST_VALUE", -3), 32);
  setenv("XQV_TEST_VALUE", "six", 1);
  EXPECT_EQ(env_get_int("XQV_TEST_VALUE", -3), -3);
  unsetenv("XQV_TEST_VALUE");
}

TEST(XqvStrings, StartsWithAndCaseInsensitiveSearch) {
  struct Case {
    const char* text;
    const char* other;
    bool starts, contains;
  };
  const Case cases[] = {
      {"video0", "video", true, true}, {"video0", "", true, true},     {"", "", true, true},
      {"vid", "video", false, false},  {"Capture Card", "card", false, true},
      {"Capture Card", "CAPTURE", false, true}, {"abc", "abd", false, false},
      {"", "a", false, false},         {"aaab", "aab", false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(str_starts_with(c.text, c.other), c.starts) << c.text << " / " << c.other;
    EXPECT_EQ(str_contains_nocase(c.text, c.other), c.contains) << c.text << " / " << c.other;
  }
}

TEST(XqvFill, FillPlanesSetsEachPlaneAndSkipsNullPlanes) {
  // NV12-like picture: two planes, the other two null.
  std::vector<uint8_t> p0(10 * 4, 0xEE), p1(12 * 4, 0xEE);
  uint8_t* planes[4] = {p0.data(), p1.data(), nullptr, nullptr};
  int strides[4] = {10, 12, 0, 0};
  uint8_t values[4] = {16, 128, 1, 2};
  fill_planes(planes, strides, 8, 3, values);
  for (int r = 0; r < 4; ++r)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(p0[r * 10 + x], (r < 3 && x < 8) ? 16 : 0xEE) << r << "," << x;
  for (int r = 0; r < 4; ++r)
    for (int x = 0; x < 12; ++x) EXPECT_EQ(p1[r * 12 + x], (r < 3 && x < 8) ? 128 : 0xEE) << r << "," << x;
}

TEST(XqvFill, FillWords) {
  std::vector<uint32_t> w(6, 7);
  fill_u32(w.data(), 4, 0xDEADBEEF);
  EXPECT_EQ(w, (std::vector<uint32_t>{0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF, 7, 7}));
  fill_u32(w.data(), 0, 1);
  EXPECT_EQ(w[0], 0xDEADBEEF);
}

TEST(XqvColour, RgbToYuvTable) {
  struct Case {
    int rgb, y, cb, cr;
  };
  // Double products in the written order, truncated: white gives 254, 127, 127.
  const Case cases[] = {
      {0xFFFFFF, 254, 127, 127}, {0x000000, 0, 127, 127},  {0xFF0000, 76, 84, 255},
      {0x00FF00, 149, 43, 20},   {0x0000FF, 29, 255, 106}, {0x808080, 128, 127, 127},
      {0x123456, 45, 150, 107},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(color_rgb_to_yuv(c.rgb), (c.cr << 16) | (c.cb << 8) | c.y) << std::hex << c.rgb;
  }
}

TEST(XqvColour, SwapAndPack) {
  EXPECT_EQ(color_swap_gb(0x112233), 0x113322);
  EXPECT_EQ(color_swap_gb(0xFF00AA), 0xFFAA00);
  EXPECT_EQ(color_pack3(0x12, 0x34, 0x56), 0x123456);
  EXPECT_EQ(color_pack3(0, 0, 0), 0);
}

}  // namespace
