// YUY2 (packed 4:2:2, Y0 U Y1 V) to packed RGB/BGR, 24 and 32 bits: row by row, in
// blocks of 32 pixels (24-bit) or 16 pixels (32-bit).
#include "coefs.h"
#include "vomf_ccvt.h"

namespace vomf_ccvt {
namespace {

// Eight pixels (16 source bytes): luma as 16-bit lanes, and (Cb, Cr) pairs per group.
struct Yuy2Px8 {
  __m128i y;   // Y0 Y1 Y0' Y1' ...
  __m128i uv;  // Cb0 Cr0 Cb1 Cr1 ... (signed)
};

CCVT_INLINE Yuy2Px8 split8(const uint8_t* s) {
  const __m128i v = load16(s);
  return {_mm_and_si128(v, splat16(0x00FF)), _mm_sub_epi16(_mm_srli_epi16(v, 8), splat16(128))};
}

// Plain rows: one 16-bit channel of eight pixels.
CCVT_INLINE void plain8(const Yuy2Px8& p, const RgbCoefs& k, __m128i br, __m128i gg,
                        __m128i* r, __m128i* g, __m128i* b) {
  // Lane pairs: (cb_b * Cb, cr_r * Cr) and (cb_g * Cb, cr_g * Cr) per group.
  const __m128i dup_even = _mm_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13);
  const __m128i dup_odd = _mm_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15);
  const __m128i swap = _mm_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
  const __m128i p1 = _mm_mullo_epi16(p.uv, br);
  const __m128i p2 = _mm_mullo_epi16(p.uv, gg);
  const __m128i tr = _mm_add_epi16(_mm_shuffle_epi8(p1, dup_odd), k.y_bias);
  const __m128i tb = _mm_add_epi16(_mm_shuffle_epi8(p1, dup_even), k.y_bias);
  const __m128i tg = _mm_add_epi16(_mm_add_epi16(p2, _mm_shuffle_epi8(p2, swap)), k.y_bias);
  const __m128i yg = _mm_mullo_epi16(p.y, k.gain);
  *r = _mm_srai_epi16(_mm_adds_epi16(yg, tr), 6);
  *g = _mm_srai_epi16(_mm_adds_epi16(yg, tg), 6);
  *b = _mm_srai_epi16(_mm_adds_epi16(yg, tb), 6);
}

template <bool kBgr, int kBpp>
CCVT_INLINE void plain_px16(const uint8_t* s, uint8_t* d, const RgbCoefs& k, __m128i br,
                            __m128i gg) {
  __m128i r0, g0, b0, r1, g1, b1;
  plain8(split8(s), k, br, gg, &r0, &g0, &b0);
  plain8(split8(s + 16), k, br, gg, &r1, &g1, &b1);
  store_px<kBgr, kBpp>(d, _mm_packus_epi16(r0, r1), _mm_packus_epi16(g0, g1),
                       _mm_packus_epi16(b0, b1));
}

// _sony rows: one channel of eight pixels from 32-bit sums.
CCVT_INLINE __m128i matrix8(const Yuy2Px8& p, const MatrixCoefs& k, int ch) {
  const __m128i t = _mm_add_epi32(_mm_madd_epi16(p.uv, k.chroma[ch]), k.offset[ch]);
  return shift_pack32(_mm_add_epi32(luma_products_lo(p.y, k.luma[ch]), _mm_unpacklo_epi32(t, t)),
                      _mm_add_epi32(luma_products_hi(p.y, k.luma[ch]), _mm_unpackhi_epi32(t, t)));
}

template <bool kBgr, int kBpp>
CCVT_INLINE void matrix_px16(const uint8_t* s, uint8_t* d, const MatrixCoefs& k) {
  const Yuy2Px8 a = split8(s);
  const Yuy2Px8 b = split8(s + 16);
  store_px<kBgr, kBpp>(d, _mm_packus_epi16(matrix8(a, k, 0), matrix8(b, k, 0)),
                       _mm_packus_epi16(matrix8(a, k, 1), matrix8(b, k, 1)),
                       _mm_packus_epi16(matrix8(a, k, 2), matrix8(b, k, 2)));
}

// Pixels a row covers: whole blocks of 32 (24-bit) or 16 (32-bit) pixels.
template <int kBpp>
CCVT_INLINE int covered_width(int width) {
  constexpr int kBlock = kBpp == 3 ? 32 : 16;
  return width >= kBlock ? width / kBlock * kBlock : 0;
}

template <bool kBgr, int kBpp>
void yuy2_plain(int width, int height, const uint8_t* src, int src_stride, uint8_t* dst,
                int dst_stride, int yuv_type) {
  if (!valid_yuv_type(yuv_type)) return;
  const RgbCoefs k = load_rgb_coefs(yuv_type);
  const ccvt_rgb_coef& c = ccvt_rgb_coefs[yuv_type];
  const __m128i br = pair16(c.cb_b, c.cr_r);
  const __m128i gg = pair16(c.cb_g, c.cr_g);
  const int covered = covered_width<kBpp>(width);
  for (int i = 0; i < height; ++i) {
    const uint8_t* s = row_at(src, i, src_stride);
    uint8_t* d = row_at(dst, i, dst_stride);
    for (int x = 0; x < covered; x += 16) plain_px16<kBgr, kBpp>(s + 2 * x, d + kBpp * x, k, br, gg);
  }
}

template <bool kBgr, int kBpp>
void yuy2_sony(int width, int height, const uint8_t* src, int src_stride, uint8_t* dst,
               int dst_stride, int yuv_type) {
  if (!valid_yuv_type(yuv_type)) return;
  const MatrixCoefs k = load_matrix_coefs(ccvt_sony_rgb_coefs[yuv_type]);
  const int covered = covered_width<kBpp>(width);
  for (int i = 0; i < height; ++i) {
    const uint8_t* s = row_at(src, i, src_stride);
    uint8_t* d = row_at(dst, i, dst_stride);
    for (int x = 0; x < covered; x += 16) matrix_px16<kBgr, kBpp>(s + 2 * x, d + kBpp * x, k);
  }
}

}  // namespace
}  // namespace vomf_ccvt

using vomf_ccvt::yuy2_plain;
using vomf_ccvt::yuy2_sony;

#define CCVT_YUY2_PASS width, height, src, src_stride, dst, dst_stride, yuv_type

extern "C" {

void vomf_ccvt_yuy2_rgb24(VOMF_CCVT_YUY2_ARGS) { yuy2_plain<false, 3>(CCVT_YUY2_PASS); }
void vomf_ccvt_yuy2_bgr24(VOMF_CCVT_YUY2_ARGS) { yuy2_plain<true, 3>(CCVT_YUY2_PASS); }
void vomf_ccvt_yuy2_rgb32(VOMF_CCVT_YUY2_ARGS) { yuy2_plain<false, 4>(CCVT_YUY2_PASS); }
void vomf_ccvt_yuy2_bgr32(VOMF_CCVT_YUY2_ARGS) { yuy2_plain<true, 4>(CCVT_YUY2_PASS); }
void vomf_ccvt_yuy2_rgb24_sony(VOMF_CCVT_YUY2_ARGS) { yuy2_sony<false, 3>(CCVT_YUY2_PASS); }
void vomf_ccvt_yuy2_bgr24_sony(VOMF_CCVT_YUY2_ARGS) { yuy2_sony<true, 3>(CCVT_YUY2_PASS); }
void vomf_ccvt_yuy2_rgb32_sony(VOMF_CCVT_YUY2_ARGS) { yuy2_sony<false, 4>(CCVT_YUY2_PASS); }
void vomf_ccvt_yuy2_bgr32_sony(VOMF_CCVT_YUY2_ARGS) { yuy2_sony<true, 4>(CCVT_YUY2_PASS); }

}  // extern "C"
