// Planar float to interleaved signed 16-bit at a reference level.
#include <cmath>
#include <cstring>

#include "Processing.NDI.Lib.h"
#include "call_log.h"

extern "C" NDILIB_API void NDIlib_util_audio_to_interleaved_16s_v2(const NDIlib_audio_frame_v2_t* p_src,
                                                                   NDIlib_audio_frame_interleaved_16s_t* p_dst) {
  ndistandin::Call("NDIlib_util_audio_to_interleaved_16s_v2")
      .number("no_channels", p_src ? p_src->no_channels : 0)
      .number("no_samples", p_src ? p_src->no_samples : 0)
      .number("reference_level", p_dst ? p_dst->reference_level : 0);
  if (!p_src || !p_dst) return;
  p_dst->sample_rate = p_src->sample_rate;
  p_dst->no_channels = p_src->no_channels;
  p_dst->no_samples = p_src->no_samples;
  if (!p_src->p_data || !p_dst->p_data || p_src->no_channels <= 0 || p_src->no_samples <= 0) return;

  // The level is headroom: full scale lies reference_level dB above a sample of 1.0.
  const double scale = 32767.0 * std::pow(10.0, -p_dst->reference_level / 20.0);
  const auto* planes = reinterpret_cast<const unsigned char*>(p_src->p_data);
  int16_t* out = p_dst->p_data;
  for (int s = 0; s < p_src->no_samples; ++s) {
    for (int c = 0; c < p_src->no_channels; ++c) {
      float sample;
      std::memcpy(&sample, planes + static_cast<size_t>(c) * p_src->channel_stride_in_bytes + s * sizeof(float),
                  sizeof sample);
      double value = std::isnan(sample) ? 0.0 : std::round(sample * scale);
      value = std::fmin(32767.0, std::fmax(-32768.0, value));
      *out++ = static_cast<int16_t>(value);
    }
  }
}
