// YV12 re-matrixing: new Y, Cb, Cr from a 3 x 3 matrix, row pairs, 32 pixels a step.
// Chroma outputs use the luma of the top-left pixel of each 2 x 2 block.
#include "coefs.h"
#include "vomf_ccvt.h"

namespace vomf_ccvt {
namespace {

struct Planes {
  const uint8_t *sy, *su, *sv;
  int sys, sus, svs;
  uint8_t *dy, *du, *dv;
  int dys, dus, dvs;
};

// ccvt_bt2020_coefs: ((m . (Y - off_y, Cb, Cr)) >> 6) + off_c on 16-bit lanes. The table's
// rows keep every term and sum inside int16 (|64 * 255| + 127 + 5 * 128 at most).
struct Bt2020Coefs {
  __m128i m[3][3];
  __m128i off[3];
};

CCVT_INLINE __m128i bt2020_luma16(const uint8_t* y, __m128i t0, __m128i t1, const Bt2020Coefs& k) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i yb = load16(y);
  const __m128i lo = _mm_mullo_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(yb, zero), k.off[0]), k.m[0][0]);
  const __m128i hi = _mm_mullo_epi16(_mm_sub_epi16(_mm_unpackhi_epi8(yb, zero), k.off[0]), k.m[0][0]);
  return _mm_packus_epi16(_mm_add_epi16(_mm_srai_epi16(_mm_adds_epi16(lo, t0), 6), k.off[0]),
                          _mm_add_epi16(_mm_srai_epi16(_mm_adds_epi16(hi, t1), 6), k.off[0]));
}

// Eight chroma samples of output channel ch (1 Cb', 2 Cr') from the block's top-left luma.
CCVT_INLINE __m128i bt2020_chroma8(__m128i ytl, __m128i cb, __m128i cr, const Bt2020Coefs& k, int ch) {
  const __m128i s = _mm_adds_epi16(
      _mm_adds_epi16(_mm_mullo_epi16(ytl, k.m[ch][0]), _mm_mullo_epi16(cb, k.m[ch][1])),
      _mm_mullo_epi16(cr, k.m[ch][2]));
  return _mm_add_epi16(_mm_srai_epi16(s, 6), k.off[ch]);
}

void rematrix_bt2020(int width, int height, const Planes& p, const ccvt_yuv_coef& c) {
  Bt2020Coefs k;
  const int16_t off[3] = {c.off_y, c.off_cb, c.off_cr};
  for (int r = 0; r < 3; ++r) {
    for (int col = 0; col < 3; ++col) k.m[r][col] = splat16(c.m[r][col]);
    k.off[r] = splat16(off[r]);
  }
  const __m128i zero = _mm_setzero_si128();
  const __m128i c128 = splat16(128);
  const __m128i even = splat16(0x00FF);
  const int covered = width >= 32 ? width / 32 * 32 : 0;
  for (int i = 0; i + 1 < height; i += 2) {
    const uint8_t* y0 = row_at(p.sy, i, p.sys);
    const uint8_t* y1 = row_at(p.sy, i + 1, p.sys);
    const uint8_t* u = row_at(p.su, i / 2, p.sus);
    const uint8_t* v = row_at(p.sv, i / 2, p.svs);
    uint8_t* dy0 = row_at(p.dy, i, p.dys);
    uint8_t* dy1 = row_at(p.dy, i + 1, p.dys);
    uint8_t* du = row_at(p.du, i / 2, p.dus);
    uint8_t* dv = row_at(p.dv, i / 2, p.dvs);
    for (int x = 0; x < covered; x += 32) {
      const __m128i u8 = load16(u + x / 2);
      const __m128i v8 = load16(v + x / 2);
      __m128i cbo[2], cro[2];
      for (int h = 0; h < 2; ++h) {
        const __m128i cb = _mm_sub_epi16(h ? _mm_unpackhi_epi8(u8, zero) : _mm_unpacklo_epi8(u8, zero), c128);
        const __m128i cr = _mm_sub_epi16(h ? _mm_unpackhi_epi8(v8, zero) : _mm_unpacklo_epi8(v8, zero), c128);
        const __m128i ty = _mm_adds_epi16(_mm_mullo_epi16(cb, k.m[0][1]), _mm_mullo_epi16(cr, k.m[0][2]));
        const __m128i t0 = _mm_unpacklo_epi16(ty, ty);
        const __m128i t1 = _mm_unpackhi_epi16(ty, ty);
        const int xo = x + 16 * h;
        const __m128i ytl = _mm_sub_epi16(_mm_and_si128(load16(y0 + xo), even), k.off[0]);
        cbo[h] = bt2020_chroma8(ytl, cb, cr, k, 1);
        cro[h] = bt2020_chroma8(ytl, cb, cr, k, 2);
        store16(dy0 + xo, bt2020_luma16(y0 + xo, t0, t1, k));
        store16(dy1 + xo, bt2020_luma16(y1 + xo, t0, t1, k));
      }
      store16(du + x / 2, _mm_packus_epi16(cbo[0], cbo[1]));
      store16(dv + x / 2, _mm_packus_epi16(cro[0], cro[1]));
    }
  }
}

// ccvt_sony_yuv_coefs: (m . (Y, Cb, Cr) + off_c) >> 6 with 32-bit sums.
CCVT_INLINE __m128i sony_luma16(const uint8_t* y, const __m128i t[4], const MatrixCoefs& k) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i yb = load16(y);
  const __m128i lo = _mm_unpacklo_epi8(yb, zero);
  const __m128i hi = _mm_unpackhi_epi8(yb, zero);
  const __m128i a = shift_pack32(_mm_add_epi32(luma_products_lo(lo, k.luma[0]), t[0]),
                                 _mm_add_epi32(luma_products_hi(lo, k.luma[0]), t[1]));
  const __m128i b = shift_pack32(_mm_add_epi32(luma_products_lo(hi, k.luma[0]), t[2]),
                                 _mm_add_epi32(luma_products_hi(hi, k.luma[0]), t[3]));
  return _mm_packus_epi16(a, b);
}

CCVT_INLINE __m128i sony_chroma8(__m128i ytl, __m128i cb, __m128i cr, const MatrixCoefs& k, int ch) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_add_epi32(
      _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(ytl, cb), k.luma_cb[ch]),
                    _mm_madd_epi16(_mm_unpacklo_epi16(cr, zero), k.cr_only[ch])),
      k.offset[ch]);
  const __m128i hi = _mm_add_epi32(
      _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(ytl, cb), k.luma_cb[ch]),
                    _mm_madd_epi16(_mm_unpackhi_epi16(cr, zero), k.cr_only[ch])),
      k.offset[ch]);
  return shift_pack32(lo, hi);
}

void rematrix_sony(int width, int height, const Planes& p, const ccvt_yuv_coef& c) {
  const MatrixCoefs k = load_matrix_coefs(c);
  const __m128i zero = _mm_setzero_si128();
  const __m128i c128 = splat16(128);
  const __m128i even = splat16(0x00FF);
  const int covered = width >= 32 ? width / 32 * 32 : 0;
  for (int i = 0; i + 1 < height; i += 2) {
    const uint8_t* y0 = row_at(p.sy, i, p.sys);
    const uint8_t* y1 = row_at(p.sy, i + 1, p.sys);
    const uint8_t* u = row_at(p.su, i / 2, p.sus);
    const uint8_t* v = row_at(p.sv, i / 2, p.svs);
    uint8_t* dy0 = row_at(p.dy, i, p.dys);
    uint8_t* dy1 = row_at(p.dy, i + 1, p.dys);
    uint8_t* du = row_at(p.du, i / 2, p.dus);
    uint8_t* dv = row_at(p.dv, i / 2, p.dvs);
    for (int x = 0; x < covered; x += 32) {
      const __m128i u8 = load16(u + x / 2);
      const __m128i v8 = load16(v + x / 2);
      __m128i cbo[2], cro[2];
      for (int h = 0; h < 2; ++h) {
        const __m128i cb = _mm_sub_epi16(h ? _mm_unpackhi_epi8(u8, zero) : _mm_unpacklo_epi8(u8, zero), c128);
        const __m128i cr = _mm_sub_epi16(h ? _mm_unpackhi_epi8(v8, zero) : _mm_unpacklo_epi8(v8, zero), c128);
        const __m128i slo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cb, cr), k.chroma[0]), k.offset[0]);
        const __m128i shi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cb, cr), k.chroma[0]), k.offset[0]);
        const __m128i t[4] = {_mm_unpacklo_epi32(slo, slo), _mm_unpackhi_epi32(slo, slo),
                              _mm_unpacklo_epi32(shi, shi), _mm_unpackhi_epi32(shi, shi)};
        const int xo = x + 16 * h;
        const __m128i ytl = _mm_and_si128(load16(y0 + xo), even);
        cbo[h] = sony_chroma8(ytl, cb, cr, k, 1);
        cro[h] = sony_chroma8(ytl, cb, cr, k, 2);
        store16(dy0 + xo, sony_luma16(y0 + xo, t, k));
        store16(dy1 + xo, sony_luma16(y1 + xo, t, k));
      }
      store16(du + x / 2, _mm_packus_epi16(cbo[0], cbo[1]));
      store16(dv + x / 2, _mm_packus_epi16(cro[0], cro[1]));
    }
  }
}

// Rows with 64 on the diagonal whose chroma outputs ignore luma are a plane plus a delta
// per chroma sample: ((64 * (Y - o) + c) >> 6) + o == Y + (c >> 6) exactly, and likewise
// for the _sony form and the chroma planes. Such a row is applied with byte adds.
struct DeltaRow {
  int a[3], b[3], k[3], e[3];  // delta_c = ((a * Cb + b * Cr + k) >> 6) + e
  bool copy[3];                // delta_c is 0 for every input
};

bool delta_form(const ccvt_yuv_coef& c, bool sony_form, DeltaRow* d) {
  if (c.m[0][0] != 64 || c.m[1][1] != 64 || c.m[2][2] != 64 || c.m[1][0] != 0 || c.m[2][0] != 0)
    return false;
  const int off[3] = {c.off_y, c.off_cb, c.off_cr};
  *d = {{c.m[0][1], 0, c.m[2][1]}, {c.m[0][2], c.m[1][2], 0}, {}, {}, {}};
  for (int ch = 0; ch < 3; ++ch) {
    d->k[ch] = sony_form ? off[ch] : 0;
    d->e[ch] = ch == 0 ? 0 : (sony_form ? -128 : off[ch] - 128);
    // 16-bit lanes must hold every sum.
    if ((d->a[ch] < 0 ? -d->a[ch] : d->a[ch]) * 128 + (d->b[ch] < 0 ? -d->b[ch] : d->b[ch]) * 128 +
            (d->k[ch] < 0 ? -d->k[ch] : d->k[ch]) > 32767)
      return false;
    d->copy[ch] = d->a[ch] == 0 && d->b[ch] == 0 && (d->k[ch] >> 6) + d->e[ch] == 0;
  }
  return true;
}

// Delta of eight chroma samples split into its positive and negative parts (bytes, two
// halves packed: 16 samples).
CCVT_INLINE void delta_parts(const __m128i cb[2], const __m128i cr[2], const DeltaRow& d, int ch,
                             __m128i* pos, __m128i* neg) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i a = splat16(d.a[ch]), b = splat16(d.b[ch]), k = splat16(d.k[ch]), e = splat16(d.e[ch]);
  __m128i dv[2];
  for (int h = 0; h < 2; ++h) {
    const __m128i s = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(cb[h], a), _mm_mullo_epi16(cr[h], b)), k);
    dv[h] = _mm_add_epi16(_mm_srai_epi16(s, 6), e);
  }
  *pos = _mm_packus_epi16(_mm_max_epi16(dv[0], zero), _mm_max_epi16(dv[1], zero));
  *neg = _mm_packus_epi16(_mm_max_epi16(_mm_sub_epi16(zero, dv[0]), zero),
                          _mm_max_epi16(_mm_sub_epi16(zero, dv[1]), zero));
}

CCVT_INLINE __m128i apply_delta(__m128i v, __m128i pos, __m128i neg) {
  return _mm_subs_epu8(_mm_adds_epu8(v, pos), neg);
}

void rematrix_delta(int width, int height, const Planes& p, const DeltaRow& d) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i c128 = splat16(128);
  const int covered = width >= 32 ? width / 32 * 32 : 0;
  for (int i = 0; i + 1 < height; i += 2) {
    const uint8_t* y0 = row_at(p.sy, i, p.sys);
    const uint8_t* y1 = row_at(p.sy, i + 1, p.sys);
    const uint8_t* u = row_at(p.su, i / 2, p.sus);
    const uint8_t* v = row_at(p.sv, i / 2, p.svs);
    uint8_t* dy0 = row_at(p.dy, i, p.dys);
    uint8_t* dy1 = row_at(p.dy, i + 1, p.dys);
    uint8_t* du = row_at(p.du, i / 2, p.dus);
    uint8_t* dv = row_at(p.dv, i / 2, p.dvs);
    for (int x = 0; x < covered; x += 32) {
      const __m128i u8 = load16(u + x / 2);
      const __m128i v8 = load16(v + x / 2);
      const __m128i cb[2] = {_mm_sub_epi16(_mm_unpacklo_epi8(u8, zero), c128),
                             _mm_sub_epi16(_mm_unpackhi_epi8(u8, zero), c128)};
      const __m128i cr[2] = {_mm_sub_epi16(_mm_unpacklo_epi8(v8, zero), c128),
                             _mm_sub_epi16(_mm_unpackhi_epi8(v8, zero), c128)};
      __m128i pos[3], neg[3];
      for (int ch = 0; ch < 3; ++ch)
        if (!d.copy[ch]) delta_parts(cb, cr, d, ch, &pos[ch], &neg[ch]);
      const __m128i a0 = load16(y0 + x), a1 = load16(y0 + x + 16);
      const __m128i b0 = load16(y1 + x), b1 = load16(y1 + x + 16);
      if (d.copy[0]) {
        store16(dy0 + x, a0);
        store16(dy0 + x + 16, a1);
        store16(dy1 + x, b0);
        store16(dy1 + x + 16, b1);
      } else {
        // Each chroma sample's delta serves two luma columns.
        const __m128i plo = _mm_unpacklo_epi8(pos[0], pos[0]), phi = _mm_unpackhi_epi8(pos[0], pos[0]);
        const __m128i nlo = _mm_unpacklo_epi8(neg[0], neg[0]), nhi = _mm_unpackhi_epi8(neg[0], neg[0]);
        store16(dy0 + x, apply_delta(a0, plo, nlo));
        store16(dy0 + x + 16, apply_delta(a1, phi, nhi));
        store16(dy1 + x, apply_delta(b0, plo, nlo));
        store16(dy1 + x + 16, apply_delta(b1, phi, nhi));
      }
      store16(du + x / 2, d.copy[1] ? u8 : apply_delta(u8, pos[1], neg[1]));
      store16(dv + x / 2, d.copy[2] ? v8 : apply_delta(v8, pos[2], neg[2]));
    }
  }
}

}  // namespace
}  // namespace vomf_ccvt

extern "C" {

void vomf_ccvt_yv12_bt2020(VOMF_CCVT_REMATRIX_ARGS) {
  if (!vomf_ccvt::valid_yuv_type(yuv_type)) return;
  const vomf_ccvt::Planes p{srcY, srcU, srcV, srcY_stride, srcU_stride, srcV_stride,
                            dstY, dstU, dstV, dstY_stride, dstU_stride, dstV_stride};
  const vomf_ccvt::ccvt_yuv_coef& row = vomf_ccvt::ccvt_bt2020_coefs[yuv_type];
  vomf_ccvt::DeltaRow d;
  if (vomf_ccvt::delta_form(row, false, &d))
    vomf_ccvt::rematrix_delta(width, height, p, d);
  else
    vomf_ccvt::rematrix_bt2020(width, height, p, row);
}

void vomf_ccvt_yv12_sony(VOMF_CCVT_REMATRIX_ARGS) {
  if (!vomf_ccvt::valid_yuv_type(yuv_type)) return;
  const vomf_ccvt::Planes p{srcY, srcU, srcV, srcY_stride, srcU_stride, srcV_stride,
                            dstY, dstU, dstV, dstY_stride, dstU_stride, dstV_stride};
  const vomf_ccvt::ccvt_yuv_coef& row = vomf_ccvt::ccvt_sony_yuv_coefs[yuv_type];
  vomf_ccvt::DeltaRow d;
  if (vomf_ccvt::delta_form(row, true, &d))
    vomf_ccvt::rematrix_delta(width, height, p, d);
  else
    vomf_ccvt::rematrix_sony(width, height, p, row);
}

}  // extern "C"
