// YV12 re-matrixing: new Y, Cb, Cr from a 3 x 3 matrix, row pairs, 32 pixels a step.
// Chroma outputs would use the luma of the top-left pixel of each 2 x 2 block; in every
// row of the tables they do not depend on luma at all.
#include <cstdlib>

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

// Rows with 64 on the diagonal whose chroma outputs ignore luma are a plane plus a delta
// per chroma sample: ((64 * (Y - o) + c) >> 6) + o == Y + (c >> 6) exactly, and likewise
// for the _sony form and the chroma planes. Such a row is applied with saturating byte
// adds, the delta from pmaddubsw on the (U, V) bytes.
struct DeltaRow {
  int a[3], b[3], k[3], e[3];  // delta_c = ((a * U + b * V + k) >> 6) + e
  bool copy[3];                // delta_c is 0 for every input
};

bool delta_form(const ccvt_yuv_coef& c, bool sony_form, DeltaRow* d) {
  if (c.m[0][0] != 64 || c.m[1][1] != 64 || c.m[2][2] != 64 || c.m[1][0] != 0 || c.m[2][0] != 0)
    return false;
  const int off[3] = {c.off_y, c.off_cb, c.off_cr};
  const int a[3] = {c.m[0][1], 0, c.m[2][1]}, b[3] = {c.m[0][2], c.m[1][2], 0};
  for (int ch = 0; ch < 3; ++ch) {
    // a * Cb + b * Cr + k == a * U + b * V + k - 128 * (a + b)
    const int k_full = (sony_form ? off[ch] : 0) - 128 * (a[ch] + b[ch]);
    // Whole multiples of 64 leave the shift: ((s + 64 q + r) >> 6) == ((s + r) >> 6) + q.
    const int q = k_full >> 6;
    const int k = k_full - 64 * q;
    const int e = (ch == 0 ? 0 : (sony_form ? -128 : off[ch] - 128)) + q;
    // Coefficients must be signed bytes, sums must fit int16 (also with e folded in before
    // the shift, as the kernel applies it) and the delta a signed byte.
    const int reach = 255 * (std::abs(a[ch]) + std::abs(b[ch])) + std::abs(k);
    const int reach_folded = 255 * (std::abs(a[ch]) + std::abs(b[ch])) + std::abs(k + 64 * e);
    if (a[ch] < -128 || a[ch] > 127 || b[ch] < -128 || b[ch] > 127 || reach > 32767 ||
        reach_folded > 32767 || reach / 64 + 1 + std::abs(e) > 127)
      return false;
    d->a[ch] = a[ch];
    d->b[ch] = b[ch];
    d->k[ch] = k;
    d->e[ch] = e;
    d->copy[ch] = a[ch] == 0 && b[ch] == 0 && e == 0;  // k is then below 64
  }
  return true;
}

struct DeltaKernel {
  __m128i coef[3], k[3];  // k holds k + 64 * e: ((s + k) >> 6) + e == (s + k + 64 e) >> 6
  bool copy[3];
};

CCVT_INLINE __m128i byte_pairs(int a, int b) {
  return _mm_set1_epi16(static_cast<int16_t>((static_cast<uint8_t>(b) << 8) | static_cast<uint8_t>(a)));
}

// Deltas of 16 chroma samples as signed bytes.
CCVT_INLINE __m128i deltas16(__m128i uv_lo, __m128i uv_hi, const DeltaKernel& k, int ch) {
  const __m128i lo = _mm_srai_epi16(_mm_add_epi16(_mm_maddubs_epi16(uv_lo, k.coef[ch]), k.k[ch]), 6);
  const __m128i hi = _mm_srai_epi16(_mm_add_epi16(_mm_maddubs_epi16(uv_hi, k.coef[ch]), k.k[ch]), 6);
  return _mm_packs_epi16(lo, hi);
}

// clamp(v + d) for unsigned v and signed d: a signed saturating add around 128.
CCVT_INLINE __m128i add_delta(__m128i v, __m128i d, __m128i flip) {
  return _mm_xor_si128(_mm_adds_epi8(_mm_xor_si128(v, flip), d), flip);
}

void rematrix_delta(int width, int height, const Planes& p, const DeltaRow& d) {
  DeltaKernel k;
  for (int ch = 0; ch < 3; ++ch) {
    k.coef[ch] = byte_pairs(d.a[ch], d.b[ch]);
    k.k[ch] = splat16(d.k[ch] + 64 * d.e[ch]);
    k.copy[ch] = d.copy[ch];
  }
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
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
      const __m128i uv_lo = _mm_unpacklo_epi8(u8, v8);
      const __m128i uv_hi = _mm_unpackhi_epi8(u8, v8);
      const __m128i a0 = load16(y0 + x), a1 = load16(y0 + x + 16);
      const __m128i b0 = load16(y1 + x), b1 = load16(y1 + x + 16);
      if (k.copy[0]) {
        store16(dy0 + x, a0);
        store16(dy0 + x + 16, a1);
        store16(dy1 + x, b0);
        store16(dy1 + x + 16, b1);
      } else {
        // Each chroma sample's delta serves two luma columns.
        const __m128i dl = deltas16(uv_lo, uv_hi, k, 0);
        const __m128i d0 = _mm_unpacklo_epi8(dl, dl), d1 = _mm_unpackhi_epi8(dl, dl);
        store16(dy0 + x, add_delta(a0, d0, flip));
        store16(dy0 + x + 16, add_delta(a1, d1, flip));
        store16(dy1 + x, add_delta(b0, d0, flip));
        store16(dy1 + x + 16, add_delta(b1, d1, flip));
      }
      store16(du + x / 2, k.copy[1] ? u8 : add_delta(u8, deltas16(uv_lo, uv_hi, k, 1), flip));
      store16(dv + x / 2, k.copy[2] ? v8 : add_delta(v8, deltas16(uv_lo, uv_hi, k, 2), flip));
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
  // Every row of the table has this form; the exhaustive tests would show one that had not.
  if (vomf_ccvt::delta_form(row, false, &d)) vomf_ccvt::rematrix_delta(width, height, p, d);
}

void vomf_ccvt_yv12_sony(VOMF_CCVT_REMATRIX_ARGS) {
  if (!vomf_ccvt::valid_yuv_type(yuv_type)) return;
  const vomf_ccvt::Planes p{srcY, srcU, srcV, srcY_stride, srcU_stride, srcV_stride,
                            dstY, dstU, dstV, dstY_stride, dstU_stride, dstV_stride};
  const vomf_ccvt::ccvt_yuv_coef& row = vomf_ccvt::ccvt_sony_yuv_coefs[yuv_type];
  vomf_ccvt::DeltaRow d;
  // Every row of the table has this form; the exhaustive tests would show one that had not.
  if (vomf_ccvt::delta_form(row, true, &d)) vomf_ccvt::rematrix_delta(width, height, p, d);
}

}  // extern "C"
