// Annex-B helpers on streams made with ffmpeg/x264/x265 (parameter sets extracted by
// ffmpeg as the peer's answer) and on hand-made buffers; AAC config; pixel-format names.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "xqv/codec.h"

namespace {

using namespace XqvUtils;
using Bytes = std::vector<uint8_t>;

Bytes fixture(const char* name) {
  std::ifstream f(std::string(XQV_FIXTURES) + "/" + name, std::ios::binary);
  EXPECT_TRUE(f.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes k4 = {0, 0, 0, 1}, k3 = {0, 0, 1};
const Bytes kSps = {0x67, 0x42, 0xC0, 0x0A, 0xDA}, kPps = {0x68, 0xCE, 0x0F, 0xC8};
const Bytes kIdr = {0x65, 0x88, 0x84, 0x00, 0x10}, kSlice = {0x41, 0x9A, 0x20, 0x11};
const Bytes kSei = {0x06, 0x05, 0x01, 0x80};

TEST(XqvAnnexB, FindStartCode) {
  struct Case {
    Bytes data;
    int want;
  };
  const Case cases[] = {
      {{0, 0, 1, 0x67, 1}, 3}, {{0, 0, 0, 1, 0x67}, 4}, {{9, 9, 0, 0, 1, 5}, 5},
      {{0, 0, 2, 0, 0, 3}, 6}, {{0, 0, 1}, 3},           {{}, 0},
      {{1, 2, 3, 4, 0, 0}, 6},
  };
  for (const Case& c : cases)
    EXPECT_EQ(find_start_code(c.data.data(), c.data.data() + c.data.size()), c.want);
}

TEST(XqvAnnexB, IdrDetectionOnEncoderStreams) {
  const Bytes h264 = fixture("h264_3frames.264"), h264p = fixture("h264_non_idr.264");
  const Bytes hevc = fixture("hevc_3frames.265"), hevcp = fixture("hevc_non_idr.265");
  EXPECT_TRUE(is_h264_idr(h264.data(), static_cast<int>(h264.size())));
  EXPECT_FALSE(is_h264_idr(h264p.data(), static_cast<int>(h264p.size())));
  EXPECT_TRUE(is_hevc_idr(hevc.data(), static_cast<int>(hevc.size())));
  EXPECT_FALSE(is_hevc_idr(hevcp.data(), static_cast<int>(hevcp.size())));
  // The H.264 stream read as H.265 and back do not find each other's IDR.
  EXPECT_FALSE(is_h264_idr(hevcp.data(), static_cast<int>(hevcp.size())));
}

TEST(XqvAnnexB, IdrDetectionTable) {
  struct Case {
    Bytes data;
    bool h264;
  };
  const Case cases[] = {
      {cat({k4, kSps, k4, kPps, k3, kIdr}), true},
      {cat({k4, kSps, k3, kPps, k3, kSei, k4, kIdr}), true},
      {cat({k4, kSlice}), false},
      {cat({k4, kSlice, k3, kSlice}), false},
      {cat({k4, kSps, k4, kPps, k4, {0x65, 0x88, 0x84}}), false},  // a last NAL unit below 4 bytes ends the walk
      {cat({k4, kSps, k4, kPps, k4, {0x65, 0x88, 0x84, 0x00}}), true},
      {kIdr, false},  // no start code
      {{}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_h264_idr(c.data.data(), static_cast<int>(c.data.size())), c.h264);
  // H.265: type in bits 1..6 of the first byte: 19 IDR_W_RADL (0x26), 20 IDR_N_LP (0x28).
  EXPECT_TRUE(is_hevc_idr(cat({k4, {0x26, 0x01, 0xAF, 0x00}}).data(), 8));
  EXPECT_TRUE(is_hevc_idr(cat({k4, {0x28, 0x01, 0xAF, 0x00}}).data(), 8));
  EXPECT_FALSE(is_hevc_idr(cat({k4, {0x02, 0x01, 0xAF, 0x00}}).data(), 8));
  EXPECT_FALSE(is_hevc_idr(cat({k4, {0x2A, 0x01, 0xAF, 0x00}}).data(), 8));  // CRA is 21
}

TEST(XqvExtraData, MatchesFfmpegExtractionOnEncoderStreams) {
  const Bytes h264 = fixture("h264_3frames.264"), hevc = fixture("hevc_3frames.265");
  Bytes out;
  ASSERT_TRUE(make_h264_extra_data(h264.data(), static_cast<int>(h264.size()), &out));
  EXPECT_EQ(out, fixture("h264_param_sets.264"));
  ASSERT_TRUE(make_hevc_extra_data(hevc.data(), static_cast<int>(hevc.size()), &out));
  EXPECT_EQ(out, fixture("hevc_param_sets.265"));
  // Parameter sets alone: the last one runs to the end of the buffer.
  const Bytes ps = fixture("h264_param_sets.264");
  Bytes again;
  ASSERT_TRUE(make_h264_extra_data(ps.data(), static_cast<int>(ps.size()), &again));
  EXPECT_EQ(again, ps);
  const Bytes hps = fixture("hevc_param_sets.265");
  ASSERT_TRUE(make_hevc_extra_data(hps.data(), static_cast<int>(hps.size()), &again));
  EXPECT_EQ(again, hps);
}

TEST(XqvExtraData, H264Table) {
  const Bytes kSps2 = {0x67, 0x64, 0x00, 0x28};
  struct Case {
    const char* name;
    Bytes data;
    bool ok;
    Bytes want;
  };
  const Case cases[] = {
      {"3-byte codes", cat({k3, kSps, k3, kPps, k3, kIdr}), true, cat({k4, kSps, k4, kPps})},
      {"4-byte codes drop the fourth zero", cat({k4, kSps, k4, kPps, k4, kIdr}), true, cat({k4, kSps, k4, kPps})},
      {"later SPS replaces", cat({k4, kSps, k4, kSps2, k4, kPps}), true, cat({k4, kSps2, k4, kPps})},
      {"stops once both are held", cat({k4, kSps, k4, kPps, k4, kSps2}), true, cat({k4, kSps, k4, kPps})},
      {"PPS first", cat({k4, kPps, k3, kSei, k4, kSps, k4, kIdr}), true, cat({k4, kSps, k4, kPps})},
      {"no PPS", cat({k4, kSps, k4, kIdr}), false, {}},
      {"no SPS", cat({k4, kPps, k4, kIdr}), false, {}},
      {"empty", {}, false, {}},
  };
  for (const Case& c : cases) {
    Bytes out = {0xAB};
    EXPECT_EQ(make_h264_extra_data(c.data.data(), static_cast<int>(c.data.size()), &out), c.ok) << c.name;
    EXPECT_EQ(out, c.ok ? c.want : Bytes{0xAB}) << c.name;  // untouched on failure
  }
}

TEST(XqvExtraData, HevcNeedsAllThree) {
  const Bytes vps = {0x40, 0x01, 0x0C}, sps = {0x42, 0x01, 0x01}, pps = {0x44, 0x01, 0xC0};
  Bytes out = {0xAB};
  EXPECT_FALSE(make_hevc_extra_data(cat({k4, sps, k4, pps}).data(), 14, &out));
  EXPECT_EQ(out, Bytes{0xAB});
  const Bytes in = cat({k4, pps, k3, sps, k4, vps, k4, {0x26, 0x01, 0xAF}});
  ASSERT_TRUE(make_hevc_extra_data(in.data(), static_cast<int>(in.size()), &out));
  EXPECT_EQ(out, cat({k4, vps, k4, sps, k4, pps}));
}

TEST(XqvAnnexB, HostileBuffersEndCleanly) {
  // Random bytes with many start codes, cut at every length: no read past the end.
  std::mt19937 rng(77);
  for (int round = 0; round < 200; ++round) {
    Bytes data(static_cast<size_t>(rng() % 64));
    for (auto& b : data) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 2 : rng());
    for (size_t cut = 0; cut <= data.size(); ++cut) {
      Bytes piece(data.begin(), data.begin() + static_cast<long>(cut));  // exact-size allocation
      Bytes out;
      const int n = static_cast<int>(piece.size());
      (void)is_h264_idr(piece.data(), n);
      (void)is_hevc_idr(piece.data(), n);
      (void)make_h264_extra_data(piece.data(), n, &out);
      (void)make_hevc_extra_data(piece.data(), n, &out);
      ASSERT_LE(find_start_code(piece.data(), piece.data() + n), n);
    }
  }
}

TEST(XqvAac, ConfigTable) {
  struct Case {
    unsigned type, rate, channels;
    uint8_t b0, b1;
  };
  const Case cases[] = {
      {2, 48000, 2, 0x11, 0x90},  // AAC LC, 48 kHz, stereo
      {2, 44100, 2, 0x12, 0x10},  {2, 96000, 1, 0x10, 0x08}, {5, 24000, 2, 0x2B, 0x10},
      {2, 7350, 6, 0x16, 0x30},   {2, 48000, 8, 0x11, 0xB8},  // 8 channels: configuration 7
      {2, 48000, 7, 0x11, 0x80},  // no configuration for 7 channels: 0
      {2, 47000, 2, 0x11, 0x90},  // unlisted rate: nearest listed (48000)
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(5, 0xEE);
    make_aac_config(c.type, c.rate, c.channels, &out);
    EXPECT_EQ(out, (std::vector<uint8_t>{c.b0, c.b1})) << c.rate << " " << c.channels;
  }
}

TEST(XqvPixelFormat, NameTable) {
  struct Case {
    uint32_t code;
    const char* name;
  };
  const Case cases[] = {
      {0, "RGB24(0x00000000)"},          {1, "BGR24(0x00000001)"},
      {2, "ARGB32(0x00000002)"},         {3, "ABGR32(0x00000003)"},
      {0x3231564E, "NV12(0x3231564E)"},  {0x56595559, "YUYV(0x56595559)"},
      {0x20203859, "Y8##(0x20203859)"},  {4, "####(0x00000004)"},
  };
  for (const Case& c : cases) {
    std::string out;
    pixel_format_name(c.code, &out);
    EXPECT_EQ(out, c.name);
  }
}

}  // namespace
