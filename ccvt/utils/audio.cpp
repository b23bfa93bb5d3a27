#include "xqv/audio.h"

#include <emmintrin.h>

#include <cstddef>
#include <cstring>

#include "xqv/log.h"

namespace XqvUtils {

void audio_scale_s16(const int16_t* src, int16_t* dst, int count, int16_t gain) {
  if (count <= 0) return;
  int i = 0;
  const auto s = reinterpret_cast<uintptr_t>(src), d = reinterpret_cast<uintptr_t>(dst);
  const bool apart = (s > d ? s - d : d - s) >= 16;
  if (apart && count >= 8) {
    const __m128i g = _mm_set1_epi16(gain);
    for (; i + 8 <= count; i += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
      // Low 16 bits of the 32-bit product shifted right by 5.
      const __m128i lo = _mm_mullo_epi16(v, g), hi = _mm_mulhi_epi16(v, g);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                       _mm_or_si128(_mm_srli_epi16(lo, 5), _mm_slli_epi16(hi, 11)));
    }
  }
  for (; i < count; ++i) dst[i] = static_cast<int16_t>((int32_t{gain} * src[i]) >> 5);
}

void audio_mix_s16(const int16_t* src, int16_t* dst, int count) {
  for (int i = 0; i < count; ++i) dst[i] = static_cast<int16_t>(static_cast<uint16_t>(dst[i]) + static_cast<uint16_t>(src[i]));
}

void volume_db_16s(int16_t*, int, double) { XQV_ERROR("not supported"); }
void volume_db_16s(const int16_t*, int16_t*, int, double) { XQV_ERROR("not supported"); }
void volume_db_32f(float*, int, double) { XQV_ERROR("not supported"); }

audio_sampler::~audio_sampler() = default;

namespace {
// Bytes: one sample step of a plane; Planes: 1 or 2.
template <int Bytes, int Planes>
void dup_planes(const void* const* src, int src_offset, void* const* dst, int dst_offset, int count) {
  if (count <= 0) return;
  for (int p = 0; p < Planes; ++p)
    memmove(static_cast<uint8_t*>(dst[p]) + static_cast<ptrdiff_t>(dst_offset) * Bytes,
            static_cast<const uint8_t*>(src[p]) + static_cast<ptrdiff_t>(src_offset) * Bytes,
            static_cast<size_t>(count) * Bytes);
}
}  // namespace

void audio_dup_u8c1::process(const void* const* src, int src_offset, void* const* dst, int dst_offset, int count) {
  dup_planes<1, 1>(src, src_offset, dst, dst_offset, count);
}
void audio_dup_u8c2::process(const void* const* src, int src_offset, void* const* dst, int dst_offset, int count) {
  dup_planes<2, 1>(src, src_offset, dst, dst_offset, count);
}
void audio_dup_s16c1::process(const void* const* src, int src_offset, void* const* dst, int dst_offset, int count) {
  dup_planes<2, 1>(src, src_offset, dst, dst_offset, count);
}
void audio_dup_s16c2::process(const void* const* src, int src_offset, void* const* dst, int dst_offset, int count) {
  dup_planes<4, 1>(src, src_offset, dst, dst_offset, count);
}
void audio_dup_s16p2::process(const void* const* src, int src_offset, void* const* dst, int dst_offset, int count) {
  dup_planes<2, 2>(src, src_offset, dst, dst_offset, count);
}
void audio_dup_fltc1::process(const void* const* src, int src_offset, void* const* dst, int dst_offset, int count) {
  dup_planes<4, 1>(src, src_offset, dst, dst_offset, count);
}
void audio_dup_fltc2::process(const void* const* src, int src_offset, void* const* dst, int dst_offset, int count) {
  dup_planes<8, 1>(src, src_offset, dst, dst_offset, count);
}
void audio_dup_fltp2::process(const void* const* src, int src_offset, void* const* dst, int dst_offset, int count) {
  dup_planes<4, 2>(src, src_offset, dst, dst_offset, count);
}

namespace {
const int16_t* plane_in(const void* const* src, int p, int offset) {
  return static_cast<const int16_t*>(src[p]) + offset;
}
int16_t* plane_out(void* const* dst, int p, int offset) { return static_cast<int16_t*>(dst[p]) + offset; }
}  // namespace

void audio_scaler_s16c1::process(const void* const* src, int src_offset, void* const* dst,
                                 int dst_offset, int count) {
  audio_scale_s16(plane_in(src, 0, src_offset), plane_out(dst, 0, dst_offset), count, gain_);
}

void audio_scaler_s16c2::process(const void* const* src, int src_offset, void* const* dst,
                                 int dst_offset, int count) {
  if (count <= 0) return;
  audio_scale_s16(plane_in(src, 0, src_offset * 2), plane_out(dst, 0, dst_offset * 2), count * 2, gain_);
}

void audio_scaler_s16p2::process(const void* const* src, int src_offset, void* const* dst,
                                 int dst_offset, int count) {
  for (int p = 0; p < 2; ++p)
    audio_scale_s16(plane_in(src, p, src_offset), plane_out(dst, p, dst_offset), count, gain_[p]);
}

}  // namespace XqvUtils
