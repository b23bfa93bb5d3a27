// Colour tables of libvomf_ccvt, built once at load by ccvt_init_tables and read-only
// afterwards. Coefficients are scaled by 64.
#pragma once

#include <cstdint>

namespace vomf_ccvt {

inline constexpr int kYuvTypes = 7;

struct ccvt_rgb_coef {
  int16_t y_offset;  // black level subtracted from Y
  int16_t y_gain;
  int16_t cr_r;
  int16_t cb_g;
  int16_t cr_g;
  int16_t cb_b;
};

// Offsets, then a 3 x 3 matrix row by row: row c gives output channel c, columns
// multiply luma, Cb, Cr.
struct ccvt_yuv_coef {
  int16_t off_y;
  int16_t off_cb;
  int16_t off_cr;
  int16_t m[3][3];
};

// YUV to RGB, per yuv_type.
extern ccvt_rgb_coef ccvt_rgb_coefs[kYuvTypes];
// _sony converters: each row is the 3 x 3 form of the same row of ccvt_rgb_coefs, R, G, B
// offsets -y_offset * y_gain in units of 1/64, so each _sony converter gives the same
// bytes as its plain twin.
extern ccvt_yuv_coef ccvt_sony_rgb_coefs[kYuvTypes];
// vomf_ccvt_yv12_sony: every row the identity (offsets 0, 128 * 64, 128 * 64), which copies.
extern ccvt_yuv_coef ccvt_sony_yuv_coefs[kYuvTypes];
// vomf_ccvt_yv12_bt2020: row 4 re-matrixes; every other row the identity (offsets 0, 128,
// 128), which copies.
extern ccvt_yuv_coef ccvt_bt2020_coefs[kYuvTypes];

void ccvt_init_tables();

inline bool valid_yuv_type(int yuv_type) { return yuv_type >= 0 && yuv_type < kYuvTypes; }

}  // namespace vomf_ccvt
