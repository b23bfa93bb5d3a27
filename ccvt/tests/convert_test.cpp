// Converters against the scalar reference: worked examples, an exhaustive Y x U x V grid
// for every yuv_type, coverage on marker-filled destinations, unaligned pointers, odd and
// negative strides, and out-of-range yuv_type.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>

#include "converters.h"
#include "pictures.h"

namespace ccvt_test {
namespace {

// --- Worked examples: a uniform 32 x 2 picture through every converter. ---

struct Example {
  int yuv_type, y, u, v;
  int r, g, b;
};

const Example kExamples[] = {
    {1, 16, 128, 128, 0, 0, 0},        // black
    {1, 235, 128, 128, 255, 255, 255},  // white: (219 * 75) >> 6 = 256, clamped
    {3, 128, 128, 255, 255, 36, 128},  // R 306 clamped; G (8192 - 46 * 127) >> 6
    {1, 16, 128, 0, 0, 104, 0},        // R (102 * -128) >> 6 = -204 floors, stored 0
    {1, 255, 255, 128, 255, 230, 255},  // blue sum above 32767 clamps, no wrap-around
    {0, 128, 128, 255, 255, 36, 128},  // row 0 has the integers of row 3
};

TEST(CcvtExamples, Yv12AndYuy2ConvertersGiveTheWorkedValues) {
  for (const Example& e : kExamples) {
    std::vector<uint8_t> y(64, static_cast<uint8_t>(e.y)), u(16, static_cast<uint8_t>(e.u)),
        v(16, static_cast<uint8_t>(e.v));
    std::vector<uint8_t> yuy2(128);
    for (int k = 0; k < 32; ++k) {
      yuy2[4 * k] = yuy2[4 * k + 2] = static_cast<uint8_t>(e.y);
      yuy2[4 * k + 1] = static_cast<uint8_t>(e.u);
      yuy2[4 * k + 3] = static_cast<uint8_t>(e.v);
    }
    auto check = [&](const char* name, const ref::Layout& l, const std::vector<uint8_t>& out, int pixels) {
      for (int p = 0; p < pixels; ++p) {
        const uint8_t* d = &out[static_cast<size_t>(p) * l.bpp];
        const int r = l.bgr ? d[2] : d[0], b = l.bgr ? d[0] : d[2];
        ASSERT_EQ(r, e.r) << name << " type " << e.yuv_type << " pixel " << p;
        ASSERT_EQ(d[1], e.g) << name << " type " << e.yuv_type << " pixel " << p;
        ASSERT_EQ(b, e.b) << name << " type " << e.yuv_type << " pixel " << p;
        if (l.bpp == 4) {
          ASSERT_EQ(d[3], 0) << name;
        }
      }
    };
    for (const Yv12Conv& c : yv12_converters()) {
      std::vector<uint8_t> out(64 * 4, kMarker);
      c.fn(32, 2, y.data(), u.data(), v.data(), 32, 16, 16, out.data(), 32 * c.layout.bpp, e.yuv_type);
      check(c.name, c.layout, out, 64);
    }
    for (const Yuy2Conv& c : yuy2_converters()) {
      std::vector<uint8_t> out(32 * 4, kMarker);
      c.fn(32, 1, yuy2.data(), 64, out.data(), 32 * c.layout.bpp, e.yuv_type);
      check(c.name, c.layout, out, 32);
    }
  }
}

TEST(CcvtExamples, Yuy2GroupWithTwoLumas) {
  // Row 1, group 16, 128, 235, 128: black then white.
  std::vector<uint8_t> src(64);
  for (int k = 0; k < 16; ++k) {
    src[4 * k] = 16;
    src[4 * k + 1] = 128;
    src[4 * k + 2] = 235;
    src[4 * k + 3] = 128;
  }
  std::vector<uint8_t> out(32 * 4, kMarker);
  vomf_ccvt_yuy2_rgb32(32, 1, src.data(), 64, out.data(), 128, 1);
  for (int p = 0; p < 32; ++p) {
    const uint8_t want = (p % 2) ? 255 : 0;
    EXPECT_EQ(out[4 * p], want);
    EXPECT_EQ(out[4 * p + 1], want);
    EXPECT_EQ(out[4 * p + 2], want);
    EXPECT_EQ(out[4 * p + 3], 0);
  }
}

TEST(CcvtExamples, LumaAloneSeparatesPixelsThatShareChroma) {
  // A 2 x 2 block with four lumas and one chroma sample: pixels differ only through luma.
  std::vector<uint8_t> y(64), u(16, 90), v(16, 200);
  for (int x = 0; x < 32; ++x) {
    y[x] = static_cast<uint8_t>(40 + x * 5);
    y[32 + x] = static_cast<uint8_t>(250 - x * 6);
  }
  std::vector<uint8_t> out(64 * 3);
  vomf_ccvt_yv12_rgb24(32, 2, y.data(), u.data(), v.data(), 32, 16, 16, out.data(), 96, 2);
  for (int p = 0; p < 64; ++p) {
    const ref::Rgb want = ref::plain(2, y[p], 90, 200);
    EXPECT_EQ(out[3 * p], want.r);
    EXPECT_EQ(out[3 * p + 1], want.g);
    EXPECT_EQ(out[3 * p + 2], want.b);
  }
}

TEST(CcvtExamples, Bt2020RematrixRow4) {
  struct Case {
    int y, u, v, y2, u2, v2;
  };
  const Case cases[] = {
      {100, 128, 200, 94, 131, 200},  // (6400 - 360) >> 6, (216 >> 6) + 128, V unchanged
      {77, 128, 128, 77, 128, 128},   // neutral chroma: unchanged
      {0, 128, 128, 0, 128, 128},
      {255, 128, 128, 255, 128, 128},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> y(64, static_cast<uint8_t>(c.y)), u(16, static_cast<uint8_t>(c.u)),
        v(16, static_cast<uint8_t>(c.v));
    std::vector<uint8_t> oy(64), ou(16), ov(16);
    vomf_ccvt_yv12_bt2020(32, 2, y.data(), u.data(), v.data(), 32, 16, 16, oy.data(), ou.data(),
                          ov.data(), 32, 16, 16, 4);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(oy[i], c.y2) << c.y;
    for (int i = 0; i < 16; ++i) {
      ASSERT_EQ(ou[i], c.u2) << c.y;
      ASSERT_EQ(ov[i], c.v2) << c.y;
    }
  }
}

// --- Exhaustive grid: every (Y, U, V) for every yuv_type. ---
// One page per V: a 512 x 128 picture whose chroma column k has U = k and whose 2 x 2
// blocks hold four consecutive lumas, so 64 block rows cover Y 0..255 for each U.

constexpr int kPageW = 512, kPageH = 128;

int page_luma(int row, int col) { return (row / 2) * 4 + (row % 2) * 2 + col % 2; }

class CcvtGrid : public ::testing::TestWithParam<int> {};

TEST_P(CcvtGrid, Yv12ConvertersMatchReferenceForEveryYuv) {
  const int t = GetParam();
  std::vector<uint8_t> y(kPageW * kPageH), u(kPageW / 2 * kPageH / 2), v(u.size());
  for (int r = 0; r < kPageH; ++r)
    for (int c = 0; c < kPageW; ++c) y[r * kPageW + c] = static_cast<uint8_t>(page_luma(r, c));
  for (int r = 0; r < kPageH / 2; ++r)
    for (int k = 0; k < kPageW / 2; ++k) u[r * kPageW / 2 + k] = static_cast<uint8_t>(k);
  std::vector<ref::Rgb> plain(kPageW * kPageH), sony(plain.size());
  std::vector<uint8_t> expect(kPageW * kPageH * 4), out(expect.size());
  for (int vv = 0; vv < 256; ++vv) {
    std::fill(v.begin(), v.end(), static_cast<uint8_t>(vv));
    for (int r = 0; r < kPageH; ++r)
      for (int c = 0; c < kPageW; ++c) {
        plain[r * kPageW + c] = ref::plain(t, page_luma(r, c), c / 2, vv);
        sony[r * kPageW + c] = ref::sony(t, page_luma(r, c), c / 2, vv);
      }
    for (const Yv12Conv& conv : yv12_converters()) {
      const ref::Layout& l = conv.layout;
      const std::vector<ref::Rgb>& want = l.sony ? sony : plain;
      for (int p = 0; p < kPageW * kPageH; ++p) ref::put(&expect[static_cast<size_t>(p) * l.bpp], l, want[p]);
      conv.fn(kPageW, kPageH, y.data(), u.data(), v.data(), kPageW, kPageW / 2, kPageW / 2, out.data(),
              kPageW * l.bpp, t);
      ASSERT_EQ(0, memcmp(out.data(), expect.data(), static_cast<size_t>(kPageW) * kPageH * l.bpp))
          << conv.name << " V " << vv;
    }
  }
}

TEST_P(CcvtGrid, Yuy2ConvertersMatchReferenceForEveryYuv) {
  // Group k of a row has U = k; row r holds lumas 2r and 2r + 1 (128 rows: Y 0..255).
  const int t = GetParam();
  constexpr int kRows = 128;
  std::vector<uint8_t> src(kPageW * 2 * kRows);
  std::vector<ref::Rgb> plain(kPageW * kRows), sony(plain.size());
  std::vector<uint8_t> expect(kPageW * kRows * 4), out(expect.size());
  for (int vv = 0; vv < 256; ++vv) {
    for (int r = 0; r < kRows; ++r)
      for (int k = 0; k < kPageW / 2; ++k) {
        uint8_t* g = &src[r * kPageW * 2 + 4 * k];
        g[0] = static_cast<uint8_t>(2 * r);
        g[1] = static_cast<uint8_t>(k);
        g[2] = static_cast<uint8_t>(2 * r + 1);
        g[3] = static_cast<uint8_t>(vv);
      }
    for (int r = 0; r < kRows; ++r)
      for (int x = 0; x < kPageW; ++x) {
        plain[r * kPageW + x] = ref::plain(t, 2 * r + x % 2, x / 2, vv);
        sony[r * kPageW + x] = ref::sony(t, 2 * r + x % 2, x / 2, vv);
      }
    for (const Yuy2Conv& conv : yuy2_converters()) {
      const ref::Layout& l = conv.layout;
      const std::vector<ref::Rgb>& want = l.sony ? sony : plain;
      for (int p = 0; p < kPageW * kRows; ++p) ref::put(&expect[static_cast<size_t>(p) * l.bpp], l, want[p]);
      conv.fn(kPageW, kRows, src.data(), kPageW * 2, out.data(), kPageW * l.bpp, t);
      ASSERT_EQ(0, memcmp(out.data(), expect.data(), static_cast<size_t>(kPageW) * kRows * l.bpp))
          << conv.name << " V " << vv;
    }
  }
}

TEST_P(CcvtGrid, RematrixMatchesReferenceForEveryYuv) {
  const int t = GetParam();
  std::vector<uint8_t> y(kPageW * kPageH), u(kPageW / 2 * kPageH / 2), v(u.size());
  for (int r = 0; r < kPageH; ++r)
    for (int c = 0; c < kPageW; ++c) y[r * kPageW + c] = static_cast<uint8_t>(page_luma(r, c));
  for (int r = 0; r < kPageH / 2; ++r)
    for (int k = 0; k < kPageW / 2; ++k) u[r * kPageW / 2 + k] = static_cast<uint8_t>(k);
  std::vector<uint8_t> oy(y.size()), ou(u.size()), ov(u.size());
  std::vector<uint8_t> ey(y.size()), eu(u.size()), ev(u.size());
  for (int vv = 0; vv < 256; ++vv) {
    std::fill(v.begin(), v.end(), static_cast<uint8_t>(vv));
    for (const RematrixConv& conv : rematrix_converters()) {
      ref::rematrix(conv.sony, kPageW, kPageH, y.data(), u.data(), v.data(), kPageW, kPageW / 2,
                    kPageW / 2, ey.data(), eu.data(), ev.data(), kPageW, kPageW / 2, kPageW / 2, t);
      conv.fn(kPageW, kPageH, y.data(), u.data(), v.data(), kPageW, kPageW / 2, kPageW / 2, oy.data(),
              ou.data(), ov.data(), kPageW, kPageW / 2, kPageW / 2, t);
      ASSERT_EQ(oy, ey) << conv.name << " V " << vv;
      ASSERT_EQ(ou, eu) << conv.name << " V " << vv;
      ASSERT_EQ(ov, ev) << conv.name << " V " << vv;
      if (t != 4 || conv.sony) {  // the identity rows copy the picture
        ASSERT_EQ(oy, y);
        ASSERT_EQ(ou, u);
        ASSERT_EQ(ov, v);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllRows, CcvtGrid, ::testing::Range(0, 7));

// --- Coverage on marker-filled destinations, random pictures. ---

struct Size {
  int w, h;
};
// Small pictures take several rows of the table; a large one takes one row per
// converter, in turn, so that the eight converters of a family cover all seven rows.
std::vector<int> types_for(int w, int h, std::vector<int> small, size_t converter) {
  if (static_cast<long>(w) * h > 100000) return {static_cast<int>(converter % 7)};
  return small;
}

const Size kSizes[] = {{1920, 1080}, {1366, 769}, {33, 3}, {31, 4}, {32, 1},
                       {64, 2},      {100, 5},    {0, 0},  {1, 1},  {47, 2}};

TEST(CcvtCoverage, Yv12WritesExactlyTheCoveredBytes) {
  std::mt19937 rng(9);
  for (const Size& s : kSizes) {
    Yv12 in = random_yv12(s.w, s.h, rng, 7);
    for (size_t n = 0; n < yv12_converters().size(); ++n) {
      const Yv12Conv& c = yv12_converters()[n];
      for (int t : types_for(s.w, s.h, {1, 4, 6}, n + 1)) {
        const int stride = s.w * c.layout.bpp + 13;
        Plane out = make_plane(stride, s.h), expect = make_plane(stride, s.h);
        ref::yv12(c.layout, s.w, s.h, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride,
                  in.v.stride, expect.data(), stride, t);
        c.fn(s.w, s.h, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride, in.v.stride,
             out.data(), stride, t);
        ASSERT_EQ(out.mem, expect.mem) << c.name << " " << s.w << "x" << s.h << " type " << t;
      }
    }
  }
}

TEST(CcvtCoverage, Yuy2WritesExactlyTheCoveredBytes) {
  std::mt19937 rng(10);
  const Size sizes[] = {{1920, 1080}, {1366, 3}, {16, 2}, {15, 2}, {31, 1}, {32, 1}, {47, 1}, {0, 1}, {64, 0}};
  for (const Size& s : sizes) {
    Plane in = make_plane(s.w * 2 + 6, s.h);
    randomize(in, rng);
    for (size_t n = 0; n < yuy2_converters().size(); ++n) {
      const Yuy2Conv& c = yuy2_converters()[n];
      for (int t : types_for(s.w, s.h, {0, 2, 5}, n)) {
        const int stride = s.w * c.layout.bpp + 5;
        Plane out = make_plane(stride, s.h), expect = make_plane(stride, s.h);
        ref::yuy2(c.layout, s.w, s.h, in.data(), in.stride, expect.data(), stride, t);
        c.fn(s.w, s.h, in.data(), in.stride, out.data(), stride, t);
        ASSERT_EQ(out.mem, expect.mem) << c.name << " " << s.w << "x" << s.h << " type " << t;
      }
    }
  }
}

TEST(CcvtCoverage, RematrixWritesExactlyTheCoveredBytes) {
  std::mt19937 rng(11);
  for (const Size& s : kSizes) {
    Yv12 in = random_yv12(s.w, s.h, rng, 3);
    for (const RematrixConv& c : rematrix_converters()) {
      for (int t = 0; t < 7; ++t) {
        Yv12 out{make_plane(s.w + 9, s.h), make_plane((s.w + 1) / 2 + 5, (s.h + 1) / 2),
                 make_plane((s.w + 1) / 2 + 5, (s.h + 1) / 2)};
        Yv12 expect = out;
        ref::rematrix(c.sony, s.w, s.h, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride,
                      in.v.stride, expect.y.data(), expect.u.data(), expect.v.data(), expect.y.stride,
                      expect.u.stride, expect.v.stride, t);
        c.fn(s.w, s.h, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride, in.v.stride,
             out.y.data(), out.u.data(), out.v.data(), out.y.stride, out.u.stride, out.v.stride, t);
        ASSERT_EQ(out.y.mem, expect.y.mem) << c.name << " " << s.w << "x" << s.h << " type " << t;
        ASSERT_EQ(out.u.mem, expect.u.mem) << c.name << " " << s.w << "x" << s.h << " type " << t;
        ASSERT_EQ(out.v.mem, expect.v.mem) << c.name << " " << s.w << "x" << s.h << " type " << t;
      }
    }
  }
}

TEST(CcvtCoverage, FourthByteIsZeroWhateverTheDestinationHeld) {
  std::mt19937 rng(12);
  Yv12 in = random_yv12(64, 4, rng);
  std::vector<uint8_t> out(64 * 4 * 4, 0xFF);
  vomf_ccvt_yv12_bgr32(64, 4, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride,
                       in.v.stride, out.data(), 256, 1);
  for (size_t i = 3; i < out.size(); i += 4) ASSERT_EQ(out[i], 0) << i;
}

// --- Unaligned pointers, odd strides, bottom-up pictures. ---

TEST(CcvtLayout, UnalignedPointersAndOddStridesGiveTheAlignedBytes) {
  std::mt19937 rng(13);
  const int w = 1366, h = 10;
  Yv12 aligned = random_yv12(w, h, rng);
  for (int off : {1, 3, 7, 15}) {
    // The same picture at an odd address with odd strides.
    Yv12 odd{make_plane(w + off + 2, h, off), make_plane(w / 2 + off, h / 2, off + 2),
             make_plane(w / 2 + 3, h / 2, off + 5)};
    for (int r = 0; r < h; ++r) memcpy(odd.y.row(r), aligned.y.row(r), w);
    for (int r = 0; r < h / 2; ++r) {
      memcpy(odd.u.row(r), aligned.u.row(r), w / 2);
      memcpy(odd.v.row(r), aligned.v.row(r), w / 2);
    }
    for (const Yv12Conv& c : yv12_converters()) {
      const int bpp = c.layout.bpp;
      Plane a = make_plane(w * bpp, h), b = make_plane(w * bpp + off, h, off);
      c.fn(w, h, aligned.y.data(), aligned.u.data(), aligned.v.data(), aligned.y.stride,
           aligned.u.stride, aligned.v.stride, a.data(), a.stride, 2);
      c.fn(w, h, odd.y.data(), odd.u.data(), odd.v.data(), odd.y.stride, odd.u.stride, odd.v.stride,
           b.data(), b.stride, 2);
      for (int r = 0; r < h; ++r) ASSERT_EQ(0, memcmp(a.row(r), b.row(r), static_cast<size_t>(w) * bpp)) << c.name << off;
    }
    std::vector<uint8_t> yuy2(static_cast<size_t>(w) * 2 * h + 64);
    for (auto& x : yuy2) x = static_cast<uint8_t>(rng());
    for (const Yuy2Conv& c : yuy2_converters()) {
      const int bpp = c.layout.bpp;
      Plane a = make_plane(w * bpp, h), b = make_plane(w * bpp + off, h, off);
      Plane src = make_plane(w * 2 + off, h, off);
      for (int r = 0; r < h; ++r) memcpy(src.row(r), &yuy2[static_cast<size_t>(r) * w * 2], w * 2);
      c.fn(w, h, yuy2.data(), w * 2, a.data(), a.stride, 5);
      c.fn(w, h, src.data(), src.stride, b.data(), b.stride, 5);
      for (int r = 0; r < h; ++r) ASSERT_EQ(0, memcmp(a.row(r), b.row(r), static_cast<size_t>(w) * bpp)) << c.name << off;
    }
    for (const RematrixConv& c : rematrix_converters()) {
      Yv12 a{make_plane(w, h), make_plane(w / 2, h / 2), make_plane(w / 2, h / 2)};
      Yv12 b{make_plane(w + off, h, off), make_plane(w / 2 + 1, h / 2, off + 1), make_plane(w / 2 + off, h / 2, 3)};
      c.fn(w, h, aligned.y.data(), aligned.u.data(), aligned.v.data(), aligned.y.stride,
           aligned.u.stride, aligned.v.stride, a.y.data(), a.u.data(), a.v.data(), a.y.stride,
           a.u.stride, a.v.stride, 4);
      c.fn(w, h, odd.y.data(), odd.u.data(), odd.v.data(), odd.y.stride, odd.u.stride, odd.v.stride,
           b.y.data(), b.u.data(), b.v.data(), b.y.stride, b.u.stride, b.v.stride, 4);
      for (int r = 0; r < h; ++r) ASSERT_EQ(0, memcmp(a.y.row(r), b.y.row(r), w)) << c.name;
      for (int r = 0; r < h / 2; ++r) {
        ASSERT_EQ(0, memcmp(a.u.row(r), b.u.row(r), w / 2)) << c.name;
        ASSERT_EQ(0, memcmp(a.v.row(r), b.v.row(r), w / 2)) << c.name;
      }
    }
  }
}

TEST(CcvtLayout, NegativeStridesConvertBottomUp) {
  std::mt19937 rng(14);
  const int w = 96, h = 8;
  Yv12 in = random_yv12(w, h, rng);
  for (const Yv12Conv& c : yv12_converters()) {
    const int bpp = c.layout.bpp;
    Plane top = make_plane(w * bpp, h), flipped = make_plane(w * bpp, h);
    c.fn(w, h, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride, in.v.stride,
         top.data(), top.stride, 3);
    // Source and destination both addressed from their last row upwards: row r of the call
    // is row h - 1 - r of memory; chroma row r / 2 is chroma row h / 2 - 1 - r / 2.
    c.fn(w, h, in.y.row(h - 1), in.u.row(h / 2 - 1), in.v.row(h / 2 - 1), -in.y.stride,
         -in.u.stride, -in.v.stride, flipped.row(h - 1), -flipped.stride, 3);
    ASSERT_EQ(top.mem, flipped.mem) << c.name;
  }
  Plane src = make_plane(w * 2, h);
  randomize(src, rng);
  for (const Yuy2Conv& c : yuy2_converters()) {
    const int bpp = c.layout.bpp;
    Plane top = make_plane(w * bpp, h), flipped = make_plane(w * bpp, h);
    c.fn(w, h, src.data(), src.stride, top.data(), top.stride, 1);
    c.fn(w, h, src.row(h - 1), -src.stride, flipped.row(h - 1), -flipped.stride, 1);
    ASSERT_EQ(top.mem, flipped.mem) << c.name;
  }
  for (const RematrixConv& c : rematrix_converters()) {
    Yv12 a{make_plane(w, h), make_plane(w / 2, h / 2), make_plane(w / 2, h / 2)};
    Yv12 b = a;
    c.fn(w, h, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride, in.v.stride,
         a.y.data(), a.u.data(), a.v.data(), a.y.stride, a.u.stride, a.v.stride, 4);
    c.fn(w, h, in.y.row(h - 1), in.u.row(h / 2 - 1), in.v.row(h / 2 - 1), -in.y.stride, -in.u.stride,
         -in.v.stride, b.y.row(h - 1), b.u.row(h / 2 - 1), b.v.row(h / 2 - 1), -b.y.stride,
         -b.u.stride, -b.v.stride, 4);
    // The same row pairs and chroma rows, addressed from the other end.
    ASSERT_EQ(a.y.mem, b.y.mem) << c.name;
    ASSERT_EQ(a.u.mem, b.u.mem) << c.name;
    ASSERT_EQ(a.v.mem, b.v.mem) << c.name;
  }
}

TEST(CcvtLayout, YuvTypeOutsideTheTableWritesNothing) {
  std::mt19937 rng(15);
  Yv12 in = random_yv12(64, 4, rng);
  Plane yuy2 = make_plane(128, 4);
  randomize(yuy2, rng);
  for (int t : {-1, 7, 8, 1000, INT_MIN, INT_MAX}) {
    for (const Yv12Conv& c : yv12_converters()) {
      Plane out = make_plane(64 * 4, 4);
      const auto before = out.mem;
      c.fn(64, 4, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride, in.v.stride,
           out.data(), out.stride, t);
      ASSERT_EQ(out.mem, before) << c.name << " " << t;
    }
    for (const Yuy2Conv& c : yuy2_converters()) {
      Plane out = make_plane(64 * 4, 4);
      const auto before = out.mem;
      c.fn(64, 4, yuy2.data(), yuy2.stride, out.data(), out.stride, t);
      ASSERT_EQ(out.mem, before) << c.name << " " << t;
    }
    for (const RematrixConv& c : rematrix_converters()) {
      Yv12 out{make_plane(64, 4), make_plane(32, 2), make_plane(32, 2)};
      const Yv12 before = out;
      c.fn(64, 4, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride, in.v.stride,
           out.y.data(), out.u.data(), out.v.data(), out.y.stride, out.u.stride, out.v.stride, t);
      ASSERT_EQ(out.y.mem, before.y.mem) << c.name << " " << t;
      ASSERT_EQ(out.u.mem, before.u.mem) << c.name << " " << t;
      ASSERT_EQ(out.v.mem, before.v.mem) << c.name << " " << t;
    }
  }
}

}  // namespace
}  // namespace ccvt_test
