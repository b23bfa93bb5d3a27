// Converters against an independent double-precision BT.601/709/2020 formula (derived
// from Kr and Kb) and against libyuv as a peer.
#include <gtest/gtest.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "converters.h"
#include "pictures.h"

namespace ccvt_test {
namespace {

struct Matrix {
  double kr, kb;
  bool limited;
};

// yuv_type 0..6.
const Matrix kMatrices[7] = {
    {0.299, 0.114, false},   {0.299, 0.114, true},    {0.2126, 0.0722, true},
    {0.299, 0.114, false},   {0.2126, 0.0722, false}, {0.2627, 0.0593, true},
    {0.2627, 0.0593, false},
};

int to_level(double v) { return static_cast<int>(std::lround(std::fmin(255.0, std::fmax(0.0, v)))); }

ref::Rgb exact(int t, int y8, int u8, int v8) {
  const Matrix& m = kMatrices[t];
  const double y = m.limited ? (y8 - 16) * 255.0 / 219.0 : y8;
  const double cs = m.limited ? 255.0 / 224.0 : 1.0;
  const double cb = (u8 - 128) * cs, cr = (v8 - 128) * cs;
  const double kg = 1.0 - m.kr - m.kb;
  return {to_level(y + 2 * (1 - m.kr) * cr),
          to_level(y - 2 * m.kb * (1 - m.kb) / kg * cb - 2 * m.kr * (1 - m.kr) / kg * cr),
          to_level(y + 2 * (1 - m.kb) * cb)};
}

TEST(CcvtFormula, EveryRowIsWithinThreeLevelsOfTheDoubleFormula) {
  std::mt19937 rng(21);
  const int w = 1920, h = 1080;
  Yv12 in = random_yv12(w, h, rng);
  std::vector<uint8_t> out(static_cast<size_t>(w) * h * 3);
  for (int t = 0; t < 7; ++t) {
    vomf_ccvt_yv12_rgb24(w, h, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride,
                         in.v.stride, out.data(), w * 3, t);
    int worst = 0;
    for (int r = 0; r < h; ++r)
      for (int x = 0; x < w; ++x) {
        const ref::Rgb e = exact(t, in.y.row(r)[x], in.u.row(r / 2)[x / 2], in.v.row(r / 2)[x / 2]);
        const uint8_t* d = &out[(static_cast<size_t>(r) * w + x) * 3];
        worst = std::max({worst, std::abs(d[0] - e.r), std::abs(d[1] - e.g), std::abs(d[2] - e.b)});
      }
    EXPECT_LE(worst, 3) << "yuv_type " << t;
  }
}

// libyuv's own BT.709 and BT.2020 limited paths are further off, so only these rows.
struct Peer {
  int yuv_type;
  const libyuv::YuvConstants* constants;
};
const Peer kPeers[] = {
    {1, &libyuv::kYuvI601Constants},
    {3, &libyuv::kYuvJPEGConstants},
    {4, &libyuv::kYuvF709Constants},
    {6, &libyuv::kYuvV2020Constants},
};

int max_diff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int bpp) {
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i)
    if (bpp != 4 || i % 4 != 3) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

TEST(CcvtPeer, Yv12IsWithinTwoLevelsOfLibyuv) {
  std::mt19937 rng(22);
  const int w = 1920, h = 1080;
  Yv12 in = random_yv12(w, h, rng);
  for (const Peer& p : kPeers) {
    std::vector<uint8_t> ours(static_cast<size_t>(w) * h * 4), theirs(ours.size());
    vomf_ccvt_yv12_bgr32(w, h, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride,
                         in.v.stride, ours.data(), w * 4, p.yuv_type);
    libyuv::I420ToARGBMatrix(in.y.data(), in.y.stride, in.u.data(), in.u.stride, in.v.data(),
                             in.v.stride, theirs.data(), w * 4, p.constants, w, h);
    EXPECT_LE(max_diff(ours, theirs, 4), 2) << "ARGB, yuv_type " << p.yuv_type;

    std::vector<uint8_t> ours24(static_cast<size_t>(w) * h * 3), theirs24(ours24.size());
    vomf_ccvt_yv12_bgr24(w, h, in.y.data(), in.u.data(), in.v.data(), in.y.stride, in.u.stride,
                         in.v.stride, ours24.data(), w * 3, p.yuv_type);
    libyuv::I420ToRGB24Matrix(in.y.data(), in.y.stride, in.u.data(), in.u.stride, in.v.data(),
                              in.v.stride, theirs24.data(), w * 3, p.constants, w, h);
    EXPECT_LE(max_diff(ours24, theirs24, 3), 2) << "RGB24, yuv_type " << p.yuv_type;
  }
}

TEST(CcvtPeer, Yuy2Bt601IsWithinTwoLevelsOfLibyuv) {
  std::mt19937 rng(23);
  const int w = 1920, h = 64;
  Plane src = make_plane(w * 2, h);
  randomize(src, rng);
  std::vector<uint8_t> ours(static_cast<size_t>(w) * h * 4), theirs(ours.size());
  vomf_ccvt_yuy2_bgr32(w, h, src.data(), src.stride, ours.data(), w * 4, 1);
  libyuv::YUY2ToARGB(src.data(), src.stride, theirs.data(), w * 4, w, h);
  EXPECT_LE(max_diff(ours, theirs, 4), 2);
}

}  // namespace
}  // namespace ccvt_test
