#include "tables.h"

#include <cstring>

namespace vomf_ccvt {

ccvt_rgb_coef ccvt_rgb_coefs[kYuvTypes];
ccvt_yuv_coef ccvt_sony_rgb_coefs[kYuvTypes];
ccvt_yuv_coef ccvt_sony_yuv_coefs[kYuvTypes];
ccvt_yuv_coef ccvt_bt2020_coefs[kYuvTypes];

void ccvt_init_tables() {
  memset(ccvt_rgb_coefs, 0, sizeof ccvt_rgb_coefs);
  memset(ccvt_sony_rgb_coefs, 0, sizeof ccvt_sony_rgb_coefs);
  memset(ccvt_sony_yuv_coefs, 0, sizeof ccvt_sony_yuv_coefs);
  memset(ccvt_bt2020_coefs, 0, sizeof ccvt_bt2020_coefs);

  static const ccvt_rgb_coef kRgb[kYuvTypes] = {
      {0, 64, 90, -22, -46, 113},    // same integers as row 3
      {16, 75, 102, -25, -52, 129},  // BT.601 limited
      {16, 75, 115, -14, -34, 135},  // BT.709 limited
      {0, 64, 90, -22, -46, 113},    // BT.601 full
      {0, 64, 101, -12, -30, 119},   // BT.709 full
      {16, 75, 107, -12, -42, 137},  // BT.2020 limited
      {0, 64, 94, -11, -37, 120},    // BT.2020 full
  };
  for (int t = 0; t < kYuvTypes; ++t) {
    const ccvt_rgb_coef& c = kRgb[t];
    ccvt_rgb_coefs[t] = c;

    // (Y - y_offset) * y_gain == Y * y_gain - y_offset * y_gain, so the 3 x 3 form gives the
    // same sums as the plain row.
    const int16_t off = static_cast<int16_t>(-c.y_offset * c.y_gain);
    ccvt_sony_rgb_coefs[t] = {off, off, off,
                              {{c.y_gain, 0, c.cr_r}, {c.y_gain, c.cb_g, c.cr_g}, {c.y_gain, c.cb_b, 0}}};

    ccvt_sony_yuv_coefs[t] = {0, 128 * 64, 128 * 64, {{64, 0, 0}, {0, 64, 0}, {0, 0, 64}}};
    ccvt_bt2020_coefs[t] = {0, 128, 128, {{64, 0, 0}, {0, 64, 0}, {0, 0, 64}}};
  }
  ccvt_bt2020_coefs[4] = {0, 128, 128, {{64, 1, -5}, {0, 64, 3}, {0, 0, 64}}};
}

namespace {
// Runs before any export can be called.
[[maybe_unused]] const bool kTablesBuilt = (ccvt_init_tables(), true);
}  // namespace

}  // namespace vomf_ccvt
