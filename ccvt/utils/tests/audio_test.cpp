// Audio copy, gain and mix, as tables; the 16-bit wrap-around is kept on purpose.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <type_traits>
#include <vector>

#include "child_output.h"
#include "xqv/audio.h"
#include "xqv/log.h"

namespace {

using namespace XqvUtils;

int16_t scaled(int16_t s, int16_t gain) { return static_cast<int16_t>((gain * s) >> 5); }

TEST(XqvAudio, ScaleTable) {
  struct Case {
    int16_t in, gain, out;
  };
  const Case cases[] = {
      {1000, 64, 2000},     {20000, 64, -25536},  // low 16 bits of 40000
      {1234, 32, 1234},     {-1000, 1, -32},      // arithmetic shift floors
      {-32768, 32, -32768}, {32767, -32, -32767}, {7, 0, 0},
  };
  for (const Case& c : cases) {
    int16_t out = 0;
    audio_scale_s16(&c.in, &out, 1, c.gain);
    EXPECT_EQ(out, c.out) << c.in << " * " << c.gain;
    // The same through the eight-sample path.
    std::vector<int16_t> in(16, c.in), outs(16);
    audio_scale_s16(in.data(), outs.data(), 16, c.gain);
    for (int16_t v : outs) EXPECT_EQ(v, c.out) << "vector " << c.in << " * " << c.gain;
  }
}

TEST(XqvAudio, ScaleVectorAndTailAndInPlaceAgree) {
  std::vector<int16_t> in(29);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(i * 2311 - 30000);
  for (int16_t gain : {int16_t{48}, int16_t{-77}, int16_t{32767}}) {
    std::vector<int16_t> out(in.size()), inplace = in;
    audio_scale_s16(in.data(), out.data(), static_cast<int>(in.size()), gain);
    audio_scale_s16(inplace.data(), inplace.data(), static_cast<int>(in.size()), gain);
    for (size_t i = 0; i < in.size(); ++i) {
      EXPECT_EQ(out[i], scaled(in[i], gain)) << i;
      EXPECT_EQ(inplace[i], scaled(in[i], gain)) << i;
    }
    // Overlapping by one sample: element by element, front to back.
    std::vector<int16_t> shifted = in;
    shifted.push_back(0);
    audio_scale_s16(shifted.data(), shifted.data() + 1, static_cast<int>(in.size()), gain);
    int16_t expect = in[0];
    for (size_t i = 0; i < in.size(); ++i) {
      expect = scaled(expect, gain);
      EXPECT_EQ(shifted[i + 1], expect) << i;
    }
  }
}

TEST(XqvAudio, MixWrapsAround) {
  std::vector<int16_t> dst = {30000, -30000, 5, 0}, src = {10000, -10000, -5, 1};
  audio_mix_s16(src.data(), dst.data(), 3);
  EXPECT_EQ(dst, (std::vector<int16_t>{-25536, 25536, 0, 0}));
}

TEST(XqvAudio, CountZeroOrLessDoesNothing) {
  std::vector<int16_t> a = {1, 2}, b = {3, 4};
  audio_scale_s16(a.data(), b.data(), 0, 64);
  audio_scale_s16(a.data(), b.data(), -5, 64);
  audio_mix_s16(a.data(), b.data(), -1);
  EXPECT_EQ(b, (std::vector<int16_t>{3, 4}));
  audio_dup_s16c2 dup;
  const void* src[1] = {a.data()};
  void* dst[1] = {b.data()};
  dup.process(src, 0, dst, 0, 0);
  audio_scaler_s16c2 sc(64);
  sc.process(src, 0, dst, 0, -3);
  EXPECT_EQ(b, (std::vector<int16_t>{3, 4}));
}

// The eight copy members are eight classes: no two names stand for one type.
template <typename T, typename... Rest>
constexpr bool all_distinct() {
  if constexpr (sizeof...(Rest) == 0) {
    return true;
  } else {
    return (!std::is_same_v<T, Rest> && ...) && all_distinct<Rest...>();
  }
}
static_assert(all_distinct<audio_dup_u8c1, audio_dup_u8c2, audio_dup_s16c1, audio_dup_s16c2, audio_dup_s16p2,
                           audio_dup_fltc1, audio_dup_fltc2, audio_dup_fltp2>());
static_assert(std::is_base_of_v<audio_sampler, audio_dup_u8c2> && std::is_base_of_v<audio_sampler, audio_dup_fltp2>);

TEST(XqvAudio, DupFamilyCopiesAtOffsets) {
  struct Case {
    const char* name;
    audio_sampler* s;
    int step;  // bytes per sample step in a plane
    int planes;
  };
  audio_dup_u8c1 u8c1;
  audio_dup_u8c2 u8c2;
  audio_dup_s16c1 s16c1;
  audio_dup_s16c2 s16c2;
  audio_dup_s16p2 s16p2;
  audio_dup_fltc1 fltc1;
  audio_dup_fltc2 fltc2;
  audio_dup_fltp2 fltp2;
  const Case cases[] = {{"u8c1", &u8c1, 1, 1},   {"u8c2", &u8c2, 2, 1},   {"s16c1", &s16c1, 2, 1},
                        {"s16c2", &s16c2, 4, 1}, {"s16p2", &s16p2, 2, 2}, {"fltc1", &fltc1, 4, 1},
                        {"fltc2", &fltc2, 8, 1}, {"fltp2", &fltp2, 4, 2}};
  for (const Case& c : cases) {
    std::vector<uint8_t> src[2], dst[2];
    const void* sp[2];
    void* dp[2];
    for (int p = 0; p < 2; ++p) {
      src[p].resize(64);
      std::iota(src[p].begin(), src[p].end(), static_cast<uint8_t>(p * 100));
      dst[p].assign(64, 0xEE);
      sp[p] = src[p].data();
      dp[p] = dst[p].data();
    }
    c.s->process(sp, 2, dp, 1, 3);  // 3 samples from sample 2 to sample 1
    for (int p = 0; p < 2; ++p) {
      for (int i = 0; i < 64; ++i) {
        const bool written = p < c.planes && i >= c.step && i < 4 * c.step;
        const uint8_t want = written ? src[p][i + c.step] : 0xEE;
        ASSERT_EQ(dst[p][i], want) << c.name << " plane " << p << " byte " << i;
      }
    }
  }
}

TEST(XqvAudio, ScalersUseTheirPlanesAndGains) {
  std::vector<int16_t> l = {100, 200, 300, 400, 500, 600}, r = {-100, -200, -300, -400, -500, -600};
  std::vector<int16_t> ol(6, 0), orr(6, 0);
  const void* src[2] = {l.data(), r.data()};
  void* dst[2] = {ol.data(), orr.data()};

  audio_scaler_s16p2(64, 16).process(src, 1, dst, 0, 2);
  EXPECT_EQ(ol, (std::vector<int16_t>{400, 600, 0, 0, 0, 0}));
  EXPECT_EQ(orr, (std::vector<int16_t>{-100, -150, 0, 0, 0, 0}));

  std::fill(ol.begin(), ol.end(), 0);
  audio_scaler_s16c2(96).process(src, 1, dst, 0, 2);  // interleaved: samples 2..5
  EXPECT_EQ(ol, (std::vector<int16_t>{900, 1200, 1500, 1800, 0, 0}));

  std::fill(ol.begin(), ol.end(), 0);
  audio_scaler_s16c1(16).process(src, 4, dst, 1, 2);
  EXPECT_EQ(ol, (std::vector<int16_t>{0, 250, 300, 0, 0, 0}));
}

TEST(XqvAudio, VolumeInDecibelsIsNotSupported) {
  const std::string out = testsupport_ccvt::child_stdout([] {
    int16_t s[2] = {1, 2};
    float f[1] = {1};
    volume_db_16s(s, 2, -6.0);
    volume_db_16s(s, s, 2, -6.0);
    volume_db_32f(f, 1, -6.0);
  });
  const auto lines = testsupport_ccvt::log_lines(out);
  ASSERT_EQ(lines.size(), 3u) << out;
  const char* names[3] = {"volume_db_16s", "volume_db_16s", "volume_db_32f"};
  for (int i = 0; i < 3; ++i) {
    long long ms = 0;
    std::string rest;
    ASSERT_TRUE(testsupport_ccvt::split_stamp(lines[i], &ms, &rest));
    EXPECT_EQ(rest.rfind(std::string("\033[1;31mERROR[XqvUtils]: ") + names[i] + "(", 0), 0u) << rest;
    EXPECT_NE(rest.find("): not supported"), std::string::npos) << rest;
  }
}

}  // namespace
