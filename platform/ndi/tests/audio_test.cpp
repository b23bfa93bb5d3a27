// Planar float to interleaved 16-bit at a reference level.
#include <cmath>
#include <limits>

#include "standin_fixture.h"

namespace {

struct ConversionCase {
  int reference_level;
  float sample;
  int16_t expected;  // worked out by hand from 32767 x 10^(-level / 20), rounded, saturated
};

class ConversionTest : public testing::TestWithParam<ConversionCase> {};

}  // namespace

TEST_P(ConversionTest, OneSample) {
  const ConversionCase& param = GetParam();
  float planar[1] = {param.sample};
  NDIlib_audio_frame_v2_t source;
  source.sample_rate = 44100;
  source.no_channels = 1;
  source.no_samples = 1;
  source.channel_stride_in_bytes = sizeof(float);
  source.p_data = planar;
  int16_t out[1] = {1};
  NDIlib_audio_frame_interleaved_16s_t target;
  target.sample_rate = 0;
  target.no_channels = 0;
  target.no_samples = 0;
  target.reference_level = param.reference_level;
  target.p_data = out;
  NDIlib_util_audio_to_interleaved_16s_v2(&source, &target);
  EXPECT_EQ(target.sample_rate, 44100);
  EXPECT_EQ(target.no_channels, 1);
  EXPECT_EQ(target.no_samples, 1);
  EXPECT_EQ(out[0], param.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, ConversionTest,
    testing::Values(ConversionCase{0, 1.0f, 32767},     // full scale at 0 dB
                    ConversionCase{0, -1.0f, -32767},
                    ConversionCase{0, 0.5f, 16384},     // 16383.5 rounds away from zero
                    ConversionCase{0, -0.5f, -16384},
                    ConversionCase{0, 0.0f, 0},
                    ConversionCase{20, 1.0f, 3277},     // the receiver's usual 20 dB: a tenth
                    ConversionCase{20, -1.0f, -3277},
                    ConversionCase{20, 10.0f, 32767},
                    ConversionCase{20, 10.5f, 32767},   // saturates
                    ConversionCase{20, -10.5f, -32768},
                    ConversionCase{0, 1.5f, 32767},     // saturates
                    ConversionCase{0, -1.5f, -32768},
                    ConversionCase{0, 1e30f, 32767},
                    ConversionCase{6, 1.0f, 16422},     // 16422.40
                    ConversionCase{-6, 0.5f, 32689},    // 32689.38
                    ConversionCase{-6, 1.0f, 32767}),  // louder than full scale: saturates
    [](const testing::TestParamInfo<ConversionCase>& info) {
      const int level = info.param.reference_level;
      return (level < 0 ? "minus" + std::to_string(-level) : std::to_string(level)) + "dB_case" +
             std::to_string(info.index);
    });

TEST(Conversion, InterleavesChannelsFromTheirStrides) {
  // Three channels of four samples, each channel padded to six floats.
  const int channels = 3, samples = 4, stride_floats = 6;
  std::vector<float> planar(channels * stride_floats, 99.0f);
  for (int c = 0; c < channels; ++c) {
    for (int s = 0; s < samples; ++s) planar[c * stride_floats + s] = (c * 10 + s) / 100.0f;
  }
  NDIlib_audio_frame_v2_t source;
  source.no_channels = channels;
  source.no_samples = samples;
  source.channel_stride_in_bytes = stride_floats * sizeof(float);
  source.p_data = planar.data();
  std::vector<int16_t> out(channels * samples + 1, 12345);
  NDIlib_audio_frame_interleaved_16s_t target;
  target.reference_level = 0;
  target.p_data = out.data();
  NDIlib_util_audio_to_interleaved_16s_v2(&source, &target);
  for (int s = 0; s < samples; ++s) {
    for (int c = 0; c < channels; ++c) {
      EXPECT_EQ(out[s * channels + c], std::lround((c * 10 + s) / 100.0f * 32767.0)) << s << " " << c;
    }
  }
  EXPECT_EQ(out.back(), 12345);  // nothing written past the frame
}

TEST(Conversion, NotANumberBecomesSilence) {
  float planar[3] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                     -std::numeric_limits<float>::infinity()};
  NDIlib_audio_frame_v2_t source;
  source.no_channels = 1;
  source.no_samples = 3;
  source.channel_stride_in_bytes = sizeof planar;
  source.p_data = planar;
  int16_t out[3] = {7, 7, 7};
  NDIlib_audio_frame_interleaved_16s_t target;
  target.reference_level = 20;
  target.p_data = out;
  NDIlib_util_audio_to_interleaved_16s_v2(&source, &target);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 32767);
  EXPECT_EQ(out[2], -32768);
}

TEST(Conversion, FrameWithoutDataWritesNothing) {
  NDIlib_audio_frame_v2_t source;
  source.no_channels = 2;
  source.no_samples = 4;
  int16_t out[8] = {5, 5, 5, 5, 5, 5, 5, 5};
  NDIlib_audio_frame_interleaved_16s_t target;
  target.p_data = out;
  NDIlib_util_audio_to_interleaved_16s_v2(&source, &target);
  EXPECT_EQ(target.no_samples, 4);
  for (int16_t value : out) EXPECT_EQ(value, 5);
}
