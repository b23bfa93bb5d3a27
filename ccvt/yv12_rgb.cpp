// YV12 (planar 4:2:0) to packed RGB/BGR, 24 and 32 bits: row pairs, 32 pixels a step,
// chroma replicated over each 2 x 2 block.
#include "ccvt_log.h"
#include "coefs.h"
#include "vomf_ccvt.h"

namespace vomf_ccvt {
namespace {

// Plain rows. Luma products come from pmaddubsw on the luma bytes, even and odd pixels
// apart, so one chroma term serves both pixels of a pair without being repeated; chroma
// products come from pmaddubsw on (Cb, Cr) byte pairs. This needs y_gain <= 127,
// cr_r, cb_b >= 0 and cb_g, cr_g <= 0 with magnitudes below 256 (true of every row), and
// no pair sum leaves int16 (at most 137 * 128).
struct PlainKernel {
  __m128i gain_even, gain_odd;  // (y_gain, 0) and (0, y_gain) byte pairs
  __m128i kr, kg, kb;           // (0, cr_r), (-cb_g, -cr_g), (cb_b, 0) byte pairs
  __m128i bias;                 // -y_offset * y_gain
  __m128i interleave;           // even bytes 0..7 and odd bytes 8..15 back to pixel order
};

CCVT_INLINE __m128i byte_pairs(int a, int b) {
  return _mm_set1_epi16(static_cast<int16_t>((static_cast<uint8_t>(b) << 8) | static_cast<uint8_t>(a)));
}

CCVT_INLINE PlainKernel plain_kernel(int yuv_type) {
  const ccvt_rgb_coef& c = ccvt_rgb_coefs[yuv_type];
  return {byte_pairs(c.y_gain, 0), byte_pairs(0, c.y_gain), byte_pairs(0, c.cr_r),
          byte_pairs(-c.cb_g, -c.cr_g), byte_pairs(c.cb_b, 0), splat16(-c.y_offset * c.y_gain),
          _mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15)};
}

// Chroma terms of eight chroma samples (Cb, Cr centred, as signed byte pairs).
struct PlainTerms {
  __m128i r, g, b;
};

CCVT_INLINE PlainTerms plain_terms(__m128i cbcr, const PlainKernel& k) {
  return {_mm_add_epi16(_mm_maddubs_epi16(k.kr, cbcr), k.bias),
          _mm_sub_epi16(k.bias, _mm_maddubs_epi16(k.kg, cbcr)),
          _mm_add_epi16(_mm_maddubs_epi16(k.kb, cbcr), k.bias)};
}

// One channel of 16 pixels as bytes, even pixels first.
CCVT_INLINE __m128i plain_channel(__m128i ye, __m128i yo, __m128i t) {
  return _mm_packus_epi16(_mm_srai_epi16(_mm_adds_epi16(ye, t), 6),
                          _mm_srai_epi16(_mm_adds_epi16(yo, t), 6));
}

template <bool kBgr, int kBpp>
CCVT_INLINE void plain_px16(const uint8_t* y, uint8_t* d, const PlainTerms& t, const PlainKernel& k) {
  const __m128i yb = load16(y);
  const __m128i ye = _mm_maddubs_epi16(yb, k.gain_even);
  const __m128i yo = _mm_maddubs_epi16(yb, k.gain_odd);
  const __m128i r = plain_channel(ye, yo, t.r);
  const __m128i g = plain_channel(ye, yo, t.g);
  const __m128i b = plain_channel(ye, yo, t.b);
  if constexpr (kBpp == 3) {
    store_px<kBgr, kBpp, Layout::kEvenOdd>(d, r, g, b);  // the gathers reorder
  } else {
    store_px<kBgr, kBpp>(d, _mm_shuffle_epi8(r, k.interleave), _mm_shuffle_epi8(g, k.interleave),
                         _mm_shuffle_epi8(b, k.interleave));
  }
}

template <bool kBgr, int kBpp>
void yv12_plain(int width, int height, const uint8_t* Y, const uint8_t* U, const uint8_t* V,
                int Y_stride, int U_stride, int V_stride, uint8_t* dst, int RGB_stride,
                int yuv_type) {
  if (!valid_yuv_type(yuv_type)) return;
  const PlainKernel k = plain_kernel(yuv_type);
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));  // u - 128 as a signed byte
  const int covered = width >= 32 ? width / 32 * 32 : 0;
  for (int i = 0; i + 1 < height; i += 2) {
    const uint8_t* y0 = row_at(Y, i, Y_stride);
    const uint8_t* y1 = row_at(Y, i + 1, Y_stride);
    const uint8_t* u = row_at(U, i / 2, U_stride);
    const uint8_t* v = row_at(V, i / 2, V_stride);
    uint8_t* d0 = row_at(dst, i, RGB_stride);
    uint8_t* d1 = row_at(dst, i + 1, RGB_stride);
    for (int x = 0; x < covered; x += 32) {
      const __m128i cb = _mm_xor_si128(load16(u + x / 2), flip);
      const __m128i cr = _mm_xor_si128(load16(v + x / 2), flip);
      const PlainTerms lo = plain_terms(_mm_unpacklo_epi8(cb, cr), k);
      plain_px16<kBgr, kBpp>(y0 + x, d0 + x * kBpp, lo, k);
      plain_px16<kBgr, kBpp>(y1 + x, d1 + x * kBpp, lo, k);
      const PlainTerms hi = plain_terms(_mm_unpackhi_epi8(cb, cr), k);
      plain_px16<kBgr, kBpp>(y0 + x + 16, d0 + (x + 16) * kBpp, hi, k);
      plain_px16<kBgr, kBpp>(y1 + x + 16, d1 + (x + 16) * kBpp, hi, k);
    }
  }
}

// One channel's chroma sums (with the offset) for 8 chroma samples, each repeated for the
// two pixels that share it: four vectors of four 32-bit sums, 16 pixels.
struct MatrixTerms {
  __m128i t[3][4];
};

CCVT_INLINE MatrixTerms matrix_terms(__m128i cb, __m128i cr, const MatrixCoefs& k) {
  const __m128i lo = _mm_unpacklo_epi16(cb, cr);
  const __m128i hi = _mm_unpackhi_epi16(cb, cr);
  MatrixTerms m;
  for (int ch = 0; ch < 3; ++ch) {
    const __m128i slo = _mm_add_epi32(_mm_madd_epi16(lo, k.chroma[ch]), k.offset[ch]);
    const __m128i shi = _mm_add_epi32(_mm_madd_epi16(hi, k.chroma[ch]), k.offset[ch]);
    m.t[ch][0] = _mm_unpacklo_epi32(slo, slo);
    m.t[ch][1] = _mm_unpackhi_epi32(slo, slo);
    m.t[ch][2] = _mm_unpacklo_epi32(shi, shi);
    m.t[ch][3] = _mm_unpackhi_epi32(shi, shi);
  }
  return m;
}

CCVT_INLINE __m128i matrix_channel(__m128i ylo, __m128i yhi, const MatrixTerms& m,
                                   const MatrixCoefs& k, int ch) {
  const __m128i a = shift_pack32(_mm_add_epi32(luma_products_lo(ylo, k.luma[ch]), m.t[ch][0]),
                                 _mm_add_epi32(luma_products_hi(ylo, k.luma[ch]), m.t[ch][1]));
  const __m128i b = shift_pack32(_mm_add_epi32(luma_products_lo(yhi, k.luma[ch]), m.t[ch][2]),
                                 _mm_add_epi32(luma_products_hi(yhi, k.luma[ch]), m.t[ch][3]));
  return _mm_packus_epi16(a, b);
}

template <bool kBgr, int kBpp>
CCVT_INLINE void matrix_px16(const uint8_t* y, uint8_t* d, const MatrixTerms& m,
                             const MatrixCoefs& k) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i yb = load16(y);
  const __m128i ylo = _mm_unpacklo_epi8(yb, zero);
  const __m128i yhi = _mm_unpackhi_epi8(yb, zero);
  store_px<kBgr, kBpp>(d, matrix_channel(ylo, yhi, m, k, 0), matrix_channel(ylo, yhi, m, k, 1),
                       matrix_channel(ylo, yhi, m, k, 2));
}

template <bool kBgr, int kBpp>
void yv12_sony(int width, int height, const uint8_t* Y, const uint8_t* U, const uint8_t* V,
               int Y_stride, int U_stride, int V_stride, uint8_t* dst, int RGB_stride,
               int yuv_type) {
  if (!valid_yuv_type(yuv_type)) return;
  const MatrixCoefs k = load_matrix_coefs(ccvt_sony_rgb_coefs[yuv_type]);
  const __m128i zero = _mm_setzero_si128();
  const __m128i c128 = splat16(128);
  const int covered = width >= 32 ? width / 32 * 32 : 0;
  for (int i = 0; i + 1 < height; i += 2) {
    const uint8_t* y0 = row_at(Y, i, Y_stride);
    const uint8_t* y1 = row_at(Y, i + 1, Y_stride);
    const uint8_t* u = row_at(U, i / 2, U_stride);
    const uint8_t* v = row_at(V, i / 2, V_stride);
    uint8_t* d0 = row_at(dst, i, RGB_stride);
    uint8_t* d1 = row_at(dst, i + 1, RGB_stride);
    for (int x = 0; x < covered; x += 32) {
      const __m128i u8 = load16(u + x / 2);
      const __m128i v8 = load16(v + x / 2);
      const MatrixTerms lo = matrix_terms(_mm_sub_epi16(_mm_unpacklo_epi8(u8, zero), c128),
                                          _mm_sub_epi16(_mm_unpacklo_epi8(v8, zero), c128), k);
      matrix_px16<kBgr, kBpp>(y0 + x, d0 + x * kBpp, lo, k);
      matrix_px16<kBgr, kBpp>(y1 + x, d1 + x * kBpp, lo, k);
      const MatrixTerms hi = matrix_terms(_mm_sub_epi16(_mm_unpackhi_epi8(u8, zero), c128),
                                          _mm_sub_epi16(_mm_unpackhi_epi8(v8, zero), c128), k);
      matrix_px16<kBgr, kBpp>(y0 + x + 16, d0 + (x + 16) * kBpp, hi, k);
      matrix_px16<kBgr, kBpp>(y1 + x + 16, d1 + (x + 16) * kBpp, hi, k);
    }
  }
}

}  // namespace
}  // namespace vomf_ccvt

using vomf_ccvt::yv12_plain;
using vomf_ccvt::yv12_sony;

#define CCVT_YV12_PASS width, height, Y, U, V, Y_stride, U_stride, V_stride, dst, RGB_stride, yuv_type

extern "C" {

void vomf_ccvt_yv12_rgb24(VOMF_CCVT_YV12_ARGS) { yv12_plain<false, 3>(CCVT_YV12_PASS); }
void vomf_ccvt_yv12_bgr24(VOMF_CCVT_YV12_ARGS) { yv12_plain<true, 3>(CCVT_YV12_PASS); }
void vomf_ccvt_yv12_rgb32(VOMF_CCVT_YV12_ARGS) {
  vomf_ccvt::ccvt_log_info("%s(%d): Y_stride=%d, U_stride=%d, V_stride=%d, RGB_stride=%d, yuv_type=%d",
                           __func__, 1051, Y_stride, U_stride, V_stride, RGB_stride, yuv_type);
  yv12_plain<false, 4>(CCVT_YV12_PASS);
}
void vomf_ccvt_yv12_bgr32(VOMF_CCVT_YV12_ARGS) { yv12_plain<true, 4>(CCVT_YV12_PASS); }
void vomf_ccvt_yv12_rgb24_sony(VOMF_CCVT_YV12_ARGS) { yv12_sony<false, 3>(CCVT_YV12_PASS); }
void vomf_ccvt_yv12_bgr24_sony(VOMF_CCVT_YV12_ARGS) { yv12_sony<true, 3>(CCVT_YV12_PASS); }
void vomf_ccvt_yv12_rgb32_sony(VOMF_CCVT_YV12_ARGS) { yv12_sony<false, 4>(CCVT_YV12_PASS); }
void vomf_ccvt_yv12_bgr32_sony(VOMF_CCVT_YV12_ARGS) { yv12_sony<true, 4>(CCVT_YV12_PASS); }

}  // extern "C"
