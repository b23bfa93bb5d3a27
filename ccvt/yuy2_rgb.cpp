// YUY2 (packed 4:2:2, Y0 U Y1 V) to packed RGB/BGR, 24 and 32 bits: row by row, in
// blocks of 32 pixels (24-bit) or 16 pixels (32-bit).
#include "coefs.h"
#include "vomf_ccvt.h"

namespace vomf_ccvt {
namespace {

// Plain rows, by pmaddubsw: luma products straight from the (Y, U) and (Y, V) byte pairs,
// chroma products from each pixel's (Cb, Cr) pair gathered by one shuffle. This needs
// y_gain <= 127, cr_r, cb_b >= 0 and cb_g, cr_g <= 0 with magnitudes below 256 (true of
// every row); no pair sum leaves int16.
struct PlainKernel {
  __m128i gain;        // (y_gain, 0) byte pairs
  __m128i kr, kg, kb;  // (0, cr_r), (-cb_g, -cr_g), (cb_b, 0) byte pairs
  __m128i bias;        // -y_offset * y_gain
  __m128i gather_uv;   // U, V of each pixel's group
  __m128i flip;        // u - 128 as a signed byte
};

CCVT_INLINE __m128i byte_pairs(int a, int b) {
  return _mm_set1_epi16(static_cast<int16_t>((static_cast<uint8_t>(b) << 8) | static_cast<uint8_t>(a)));
}

CCVT_INLINE PlainKernel plain_kernel(int yuv_type) {
  const ccvt_rgb_coef& c = ccvt_rgb_coefs[yuv_type];
  return {byte_pairs(c.y_gain, 0), byte_pairs(0, c.cr_r), byte_pairs(-c.cb_g, -c.cr_g),
          byte_pairs(c.cb_b, 0), splat16(-c.y_offset * c.y_gain),
          _mm_setr_epi8(1, 3, 1, 3, 5, 7, 5, 7, 9, 11, 9, 11, 13, 15, 13, 15),
          _mm_set1_epi8(static_cast<char>(0x80))};
}

// Eight pixels (16 source bytes) as 16-bit R, G, B before the clamp.
CCVT_INLINE void plain8(const uint8_t* s, const PlainKernel& k, __m128i* r, __m128i* g, __m128i* b) {
  const __m128i v = load16(s);
  // (Y - y_offset) * y_gain, then one saturating add or subtract of each chroma term:
  // exact up to the clamp, as both terms are exact int16 values.
  const __m128i yt = _mm_add_epi16(_mm_maddubs_epi16(v, k.gain), k.bias);
  const __m128i uv = _mm_xor_si128(_mm_shuffle_epi8(v, k.gather_uv), k.flip);
  *r = _mm_srai_epi16(_mm_adds_epi16(yt, _mm_maddubs_epi16(k.kr, uv)), 6);
  *g = _mm_srai_epi16(_mm_subs_epi16(yt, _mm_maddubs_epi16(k.kg, uv)), 6);
  *b = _mm_srai_epi16(_mm_adds_epi16(yt, _mm_maddubs_epi16(k.kb, uv)), 6);
}

template <bool kBgr, int kBpp>
CCVT_INLINE void plain_px16(const uint8_t* s, uint8_t* d, const PlainKernel& k) {
  __m128i r0, g0, b0, r1, g1, b1;
  plain8(s, k, &r0, &g0, &b0);
  plain8(s + 16, k, &r1, &g1, &b1);
  store_px<kBgr, kBpp>(d, _mm_packus_epi16(r0, r1), _mm_packus_epi16(g0, g1),
                       _mm_packus_epi16(b0, b1));
}

// Eight pixels (16 source bytes): luma as 16-bit lanes, and (Cb, Cr) pairs per group.
struct Yuy2Px8 {
  __m128i y;   // Y0 Y1 Y0' Y1' ...
  __m128i uv;  // Cb0 Cr0 Cb1 Cr1 ... (signed)
};

CCVT_INLINE Yuy2Px8 split8(const uint8_t* s) {
  const __m128i v = load16(s);
  return {_mm_and_si128(v, splat16(0x00FF)), _mm_sub_epi16(_mm_srli_epi16(v, 8), splat16(128))};
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
  const PlainKernel k = plain_kernel(yuv_type);
  const int covered = covered_width<kBpp>(width);
  for (int i = 0; i < height; ++i) {
    const uint8_t* s = row_at(src, i, src_stride);
    uint8_t* d = row_at(dst, i, dst_stride);
    for (int x = 0; x < covered; x += 16) plain_px16<kBgr, kBpp>(s + 2 * x, d + kBpp * x, k);
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
