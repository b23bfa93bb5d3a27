// SSE2/SSSE3 building blocks shared by the converters: unaligned access, broadcast
// constants and packed-pixel stores.
#pragma once

#include <emmintrin.h>
#include <tmmintrin.h>

#include <cstddef>
#include <cstdint>

#define CCVT_INLINE inline __attribute__((always_inline))

namespace vomf_ccvt {

CCVT_INLINE __m128i load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
CCVT_INLINE void store16(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

CCVT_INLINE __m128i splat16(int v) { return _mm_set1_epi16(static_cast<int16_t>(v)); }

// Two int16 lanes (a, b) repeated: the coefficient pair of one _mm_madd_epi16.
CCVT_INLINE __m128i pair16(int a, int b) {
  return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16) |
                                             static_cast<uint16_t>(a)));
}

// Row address for any sign of stride (bottom-up pictures).
template <typename T>
CCVT_INLINE T* row_at(T* base, int row, int stride) {
  return base + static_cast<ptrdiff_t>(row) * stride;
}

// 16 pixels of channels c0, c1, c2 (one byte each) as c0 c1 c2 0, 64 bytes.
CCVT_INLINE void store_px32(uint8_t* dst, __m128i c0, __m128i c1, __m128i c2) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo01 = _mm_unpacklo_epi8(c0, c1);
  const __m128i hi01 = _mm_unpackhi_epi8(c0, c1);
  const __m128i lo2z = _mm_unpacklo_epi8(c2, zero);
  const __m128i hi2z = _mm_unpackhi_epi8(c2, zero);
  store16(dst, _mm_unpacklo_epi16(lo01, lo2z));
  store16(dst + 16, _mm_unpackhi_epi16(lo01, lo2z));
  store16(dst + 32, _mm_unpacklo_epi16(hi01, hi2z));
  store16(dst + 48, _mm_unpackhi_epi16(hi01, hi2z));
}

// Where pixel p of 16 sits in a channel vector: in pixel order, or with the even pixels
// in bytes 0..7 and the odd ones in bytes 8..15 (as the YV12 kernel packs them).
enum class Layout { kPixel, kEvenOdd };

constexpr int byte_of(Layout layout, int p) {
  return layout == Layout::kPixel ? p : (p % 2 == 0 ? p / 2 : 8 + p / 2);
}

// pshufb masks that gather channel c of the 16 pixels into output vector o of the 48
// packed bytes (-128 writes a zero byte).
struct Px24Masks {
  alignas(16) int8_t m[3][3][16];  // [o][c][byte]
};

constexpr Px24Masks px24_masks(Layout layout) {
  Px24Masks t{};
  for (int o = 0; o < 3; ++o)
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 16; ++i) {
        const int j = 16 * o + i;
        t.m[o][c][i] = static_cast<int8_t>(j % 3 == c ? byte_of(layout, j / 3) : -128);
      }
  return t;
}

template <Layout kLayout>
inline constexpr Px24Masks kPx24Masks = px24_masks(kLayout);

// 16 pixels of channels c0, c1, c2 as c0 c1 c2, 48 bytes: each output vector is three
// pshufb gathers OR-ed, which also undoes the even/odd layout for free.
template <Layout kLayout>
CCVT_INLINE void store_px24(uint8_t* dst, __m128i c0, __m128i c1, __m128i c2) {
  const auto& t = kPx24Masks<kLayout>;
  #pragma GCC unroll 3
  for (int o = 0; o < 3; ++o) {
    const auto gather = [&](__m128i c, int ch) {
      return _mm_shuffle_epi8(c, _mm_load_si128(reinterpret_cast<const __m128i*>(t.m[o][ch])));
    };
    store16(dst + 16 * o, _mm_or_si128(_mm_or_si128(gather(c0, 0), gather(c1, 1)), gather(c2, 2)));
  }
}

template <bool kBgr, int kBpp, Layout kLayout = Layout::kPixel>
CCVT_INLINE void store_px(uint8_t* dst, __m128i r, __m128i g, __m128i b) {
  static_assert(kBpp == 3 || kLayout == Layout::kPixel, "32-bit stores take pixel order");
  if constexpr (kBpp == 4) {
    if constexpr (kBgr) store_px32(dst, b, g, r); else store_px32(dst, r, g, b);
  } else {
    if constexpr (kBgr) store_px24<kLayout>(dst, b, g, r); else store_px24<kLayout>(dst, r, g, b);
  }
}

// _sony rows: 32-bit sums of four terms of mixed sign.
struct MatrixCoefs {
  __m128i luma[3];     // (m[c][0], 0) pairs
  __m128i chroma[3];   // (m[c][1], m[c][2]) pairs
  __m128i offset[3];   // off_c as int32
};

// (luma, 0) pairs times Y gives 32-bit luma products for four pixels.
CCVT_INLINE __m128i luma_products_lo(__m128i y16, __m128i coef) {
  return _mm_madd_epi16(_mm_unpacklo_epi16(y16, _mm_setzero_si128()), coef);
}
CCVT_INLINE __m128i luma_products_hi(__m128i y16, __m128i coef) {
  return _mm_madd_epi16(_mm_unpackhi_epi16(y16, _mm_setzero_si128()), coef);
}

// Four 32-bit sums of eight pixels, shifted by 6 and clamped to int16 lanes.
CCVT_INLINE __m128i shift_pack32(__m128i lo, __m128i hi) {
  return _mm_packs_epi32(_mm_srai_epi32(lo, 6), _mm_srai_epi32(hi, 6));
}

}  // namespace vomf_ccvt
