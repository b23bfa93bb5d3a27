// Table rows broadcast to vector lanes, once per call.
#pragma once

#include "simd.h"
#include "tables.h"

namespace vomf_ccvt {

CCVT_INLINE RgbCoefs load_rgb_coefs(int yuv_type) {
  const ccvt_rgb_coef& c = ccvt_rgb_coefs[yuv_type];
  return {splat16(c.y_gain), splat16(c.cr_r), splat16(c.cb_g), splat16(c.cr_g), splat16(c.cb_b),
          splat16(-c.y_offset * c.y_gain)};
}

CCVT_INLINE MatrixCoefs load_matrix_coefs(const ccvt_yuv_coef& c) {
  const int16_t off[3] = {c.off_y, c.off_cb, c.off_cr};
  MatrixCoefs k;
  for (int ch = 0; ch < 3; ++ch) {
    k.luma[ch] = pair16(c.m[ch][0], 0);
    k.chroma[ch] = pair16(c.m[ch][1], c.m[ch][2]);
    k.offset[ch] = _mm_set1_epi32(off[ch]);
    k.luma_cb[ch] = pair16(c.m[ch][0], c.m[ch][1]);
    k.cr_only[ch] = pair16(c.m[ch][2], 0);
  }
  return k;
}

}  // namespace vomf_ccvt
