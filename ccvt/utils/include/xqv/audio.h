// Audio sample operations of the capture utility layer: copy, gain and mix behind one
// interface. Offsets and counts are in samples per channel; a count of 0 or less does
// nothing.
#pragma once

#include <cstdint>

#include "xqv/export.h"

namespace XqvUtils {

// dst[i] = low 16 bits of (gain * src[i]) >> 5; gain 32 is unity.
XQV_API void audio_scale_s16(const int16_t* src, int16_t* dst, int count, int16_t gain);
// dst[i] += src[i], wrapping.
XQV_API void audio_mix_s16(const int16_t* src, int16_t* dst, int count);

// Not provided: each reports "not supported".
XQV_API void volume_db_16s(int16_t* samples, int count, double db);
XQV_API void volume_db_16s(const int16_t* src, int16_t* dst, int count, double db);
XQV_API void volume_db_32f(float* samples, int count, double db);

// src and dst are arrays of plane pointers: one for interleaved audio, two for planar
// stereo.
class XQV_API audio_sampler {
 public:
  virtual ~audio_sampler();
  virtual void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
                       int count) = 0;
};

// Copies count samples of each plane, one class per sample layout.
class XQV_API audio_dup_u8c1 : public audio_sampler {  // 8-bit, 1 channel
 public:
  void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
               int count) override;
};
class XQV_API audio_dup_u8c2 : public audio_sampler {  // 8-bit, 2 channels interleaved
 public:
  void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
               int count) override;
};
class XQV_API audio_dup_s16c1 : public audio_sampler {  // 16-bit, 1 channel
 public:
  void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
               int count) override;
};
class XQV_API audio_dup_s16c2 : public audio_sampler {  // 16-bit, 2 channels interleaved
 public:
  void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
               int count) override;
};
class XQV_API audio_dup_s16p2 : public audio_sampler {  // 16-bit, 2 planes
 public:
  void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
               int count) override;
};
class XQV_API audio_dup_fltc1 : public audio_sampler {  // float, 1 channel
 public:
  void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
               int count) override;
};
class XQV_API audio_dup_fltc2 : public audio_sampler {  // float, 2 channels interleaved
 public:
  void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
               int count) override;
};
class XQV_API audio_dup_fltp2 : public audio_sampler {  // float, 2 planes
 public:
  void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
               int count) override;
};

class XQV_API audio_scaler_s16c1 : public audio_sampler {
 public:
  explicit audio_scaler_s16c1(int16_t gain) : gain_(gain) {}
  void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
               int count) override;

 private:
  int16_t gain_;
};

// Two interleaved channels, one gain for both.
class XQV_API audio_scaler_s16c2 : public audio_sampler {
 public:
  explicit audio_scaler_s16c2(int16_t gain) : gain_(gain) {}
  void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
               int count) override;

 private:
  int16_t gain_;
};

// Two planes, a gain per plane.
class XQV_API audio_scaler_s16p2 : public audio_sampler {
 public:
  audio_scaler_s16p2(int16_t gain0, int16_t gain1) : gain_{gain0, gain1} {}
  void process(const void* const* src, int src_offset, void* const* dst, int dst_offset,
               int count) override;

 private:
  int16_t gain_[2];
};

}  // namespace XqvUtils
