// Table rows broadcast to vector lanes, once per call.
#pragma once

#include "simd.h"
#include "tables.h"

namespace vomf_ccvt {

CCVT_INLINE MatrixCoefs load_matrix_coefs(const ccvt_yuv_coef& c) {
  const int16_t off[3] = {c.off_y, c.off_cb, c.off_cr};
  MatrixCoefs k;
  for (int ch = 0; ch < 3; ++ch) {
    k.luma[ch] = pair16(c.m[ch][0], 0);
    k.chroma[ch] = pair16(c.m[ch][1], c.m[ch][2]);
    k.offset[ch] = _mm_set1_epi32(off[ch]);
  }
  return k;
}

}  // namespace vomf_ccvt
