// Receiving from the stand-in: time-outs, field order, pictures, audio frames, segments.
#include <cmath>
#include <cstring>
#include <numbers>
#include <thread>

#include "standin_fixture.h"

using nlohmann::json;

namespace {

struct Captured {
  NDIlib_frame_type_e type;
  NDIlib_video_frame_v2_t video;
  NDIlib_audio_frame_v2_t audio;
  NDIlib_metadata_frame_t metadata;
};

Captured captureOne(NDIlib_recv_instance_t receiver, uint32_t timeout_ms = 100) {
  Captured c{};
  c.video = {};
  c.audio = {};
  c.metadata = {};
  c.type = NDIlib_recv_capture_v2(receiver, &c.video, &c.audio, &c.metadata, timeout_ms);
  return c;
}

void release(NDIlib_recv_instance_t receiver, const Captured& c) {
  if (c.type == NDIlib_frame_type_video) NDIlib_recv_free_video_v2(receiver, &c.video);
  if (c.type == NDIlib_frame_type_audio) NDIlib_recv_free_audio_v2(receiver, &c.audio);
  if (c.type == NDIlib_frame_type_metadata) NDIlib_recv_free_metadata(receiver, &c.metadata);
}

// Luma of pixel x on line y of a UYVY picture.
uint8_t luma(const NDIlib_video_frame_v2_t& frame, int x, int y) {
  return frame.p_data[static_cast<size_t>(y) * frame.line_stride_in_bytes + x * 2 + 1];
}

// Reads the counter pattern by its definition: 16 columns, MSB left, Y 235 is a one.
int64_t readCounter(const NDIlib_video_frame_v2_t& frame, int y) {
  int64_t value = 0;
  for (int bit = 0; bit < 16; ++bit) {
    int x = (2 * bit + 1) * frame.xres / 32;
    uint8_t y_value = luma(frame, x, y);
    EXPECT_TRUE(y_value == 235 || y_value == 16) << "column " << bit << " luma " << int(y_value);
    value = value * 2 + (y_value == 235);
  }
  return value;
}

}  // namespace

TEST_F(StandinTest, UnknownSourceIsSilentForTheWholeTimeOut) {
  ASSERT_TRUE(NDIlib_initialize());
  for (const char* name : {"NOBODY (Here)", ""}) {
    NDIlib_recv_instance_t receiver = connect(name);
    ASSERT_NE(receiver, nullptr);
    for (uint32_t timeout : {0u, 150u}) {
      auto start = std::chrono::steady_clock::now();
      Captured c = captureOne(receiver, timeout);
      EXPECT_EQ(c.type, NDIlib_frame_type_none);
      EXPECT_GE(secondsSince(start), timeout / 1000.0);
    }
    NDIlib_metadata_frame_t hello;
    hello.p_data = const_cast<char*>("<ndi_hwaccel enabled=\"true\"/>");
    EXPECT_FALSE(NDIlib_recv_send_metadata(receiver, &hello));
    NDIlib_recv_destroy(receiver);
  }
  EXPECT_EQ(ndi_standin_frames_captured(), 0);
}

TEST_F(StandinTest, CaptureWithoutAReceiverWaitsAndFails) {
  auto start = std::chrono::steady_clock::now();
  NDIlib_video_frame_v2_t video;
  EXPECT_EQ(NDIlib_recv_capture_v2(nullptr, &video, nullptr, nullptr, 100), NDIlib_frame_type_error);
  EXPECT_GE(secondsSince(start), 0.1);
}

TEST_F(StandinTest, BuiltInSourceSendsBarsAndTone) {
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_find_instance_t finder = NDIlib_find_create_v2();
  ASSERT_TRUE(NDIlib_find_wait_for_sources(finder, 1000));
  uint32_t count = 0;
  const NDIlib_source_t* sources = NDIlib_find_get_current_sources(finder, &count);
  ASSERT_EQ(count, 1u);
  const std::string name = sources[0].p_ndi_name;
  EXPECT_NE(name.find(" ("), std::string::npos);
  EXPECT_EQ(name.back(), ')');

  NDIlib_recv_instance_t receiver = connect(name.c_str());
  int videos = 0, audios = 0;
  while (videos < 2 || audios < 2) {
    Captured c = captureOne(receiver, 1000);
    ASSERT_TRUE(c.type == NDIlib_frame_type_video || c.type == NDIlib_frame_type_audio);
    if (c.type == NDIlib_frame_type_video) {
      ++videos;
      EXPECT_EQ(c.video.xres, 1920);
      EXPECT_EQ(c.video.yres, 1080);
      EXPECT_EQ(c.video.FourCC, NDIlib_FourCC_video_type_UYVY);
      EXPECT_EQ(c.video.frame_rate_N, 30000);
      EXPECT_EQ(c.video.frame_rate_D, 1001);
      EXPECT_EQ(c.video.frame_format_type, NDIlib_frame_format_type_progressive);
      EXPECT_EQ(c.video.line_stride_in_bytes, 3840);
      // Eight bars, brightest on the left, black on the right (top line, above the marker).
      EXPECT_GT(luma(c.video, 60, 0), luma(c.video, 300, 0));
      EXPECT_EQ(luma(c.video, 1900, 0), 16);
    } else {
      ++audios;
      EXPECT_EQ(c.audio.sample_rate, 48000);
      EXPECT_EQ(c.audio.no_channels, 2);
      // 1 kHz at 48 kHz: 48 samples a period, so sample 12 of the first frame is a peak.
      if (audios == 1) {
        EXPECT_NEAR(c.audio.p_data[12], 0.5f, 1e-5);
      }
    }
    release(receiver, c);
  }
  NDIlib_recv_destroy(receiver);
  NDIlib_find_destroy(finder);
}

struct ScanCase {
  const char* scan;
  int width, height, rate_n, rate_d;
  int expected_lines;
  std::vector<NDIlib_frame_format_type_e> order;
};

class ScanTest : public StandinTest, public testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTest, FramesCarryTheirScanSizeAndRate) {
  const ScanCase& param = GetParam();
  useScenario(oneSource({{{"video",
                           {{"width", param.width},
                            {"height", param.height},
                            {"rate", {param.rate_n, param.rate_d}},
                            {"scan", param.scan},
                            {"pattern", "lines"}}},
                          {"frames", 2}}}));
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_recv_instance_t receiver = connect("HOST (Test)");
  for (size_t i = 0; i < param.order.size(); ++i) {
    Captured c = captureOne(receiver);
    ASSERT_EQ(c.type, NDIlib_frame_type_video) << i;
    EXPECT_EQ(c.video.frame_format_type, param.order[i]) << i;
    EXPECT_EQ(c.video.xres, param.width);
    EXPECT_EQ(c.video.yres, param.expected_lines);
    EXPECT_EQ(c.video.frame_rate_N, param.rate_n);
    EXPECT_EQ(c.video.frame_rate_D, param.rate_d);
    EXPECT_EQ(c.video.line_stride_in_bytes, param.width * 2);
    // Alternating lines: a field holds only even (white) or only odd (black) lines.
    for (int y = 0; y < c.video.yres; ++y) {
      int frame_line = c.video.frame_format_type == NDIlib_frame_format_type_field_1 ? 2 * y + 1
                       : c.video.frame_format_type == NDIlib_frame_format_type_field_0 ? 2 * y
                                                                                       : y;
      ASSERT_EQ(luma(c.video, param.width / 2, y), frame_line % 2 ? 16 : 235) << "line " << y;
    }
    release(receiver, c);
  }
  EXPECT_EQ(captureOne(receiver, 0).type, NDIlib_frame_type_none);
  NDIlib_recv_destroy(receiver);
}

INSTANTIATE_TEST_SUITE_P(
    Scans, ScanTest,
    testing::Values(ScanCase{"fields", 1920, 1080, 30000, 1001, 540,
                             {NDIlib_frame_format_type_field_0, NDIlib_frame_format_type_field_1,
                              NDIlib_frame_format_type_field_0, NDIlib_frame_format_type_field_1}},
                    ScanCase{"fields", 720, 576, 25, 1, 288,
                             {NDIlib_frame_format_type_field_0, NDIlib_frame_format_type_field_1,
                              NDIlib_frame_format_type_field_0, NDIlib_frame_format_type_field_1}},
                    ScanCase{"progressive", 1280, 720, 60, 1, 720,
                             {NDIlib_frame_format_type_progressive, NDIlib_frame_format_type_progressive}},
                    ScanCase{"interleaved", 1920, 1080, 30000, 1001, 1080,
                             {NDIlib_frame_format_type_interleaved, NDIlib_frame_format_type_interleaved}}),
    [](const testing::TestParamInfo<ScanCase>& info) {
      const ScanCase& c = info.param;
      return std::string(c.scan) + "_" + std::to_string(c.width) + "x" + std::to_string(c.height) + "_" +
             std::to_string(c.rate_n) + "_" + std::to_string(c.rate_d);
    });

TEST_F(StandinTest, CounterPatternNumbersFramesAcrossSegments) {
  json video = {{"width", 640}, {"height", 360}, {"pattern", "counter"}};
  json fields = video;
  fields["scan"] = "fields";
  useScenario(oneSource({{{"video", video}, {"frames", 3}}, {{"video", fields}, {"frames", 2}}}));
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_recv_instance_t receiver = connect("HOST (Test)");
  const std::vector<int64_t> expected = {0, 1, 2, 3, 3, 4, 4};  // fields share their frame's number
  for (size_t i = 0; i < expected.size(); ++i) {
    Captured c = captureOne(receiver);
    ASSERT_EQ(c.type, NDIlib_frame_type_video);
    EXPECT_EQ(readCounter(c.video, 0), expected[i]) << i;
    EXPECT_EQ(readCounter(c.video, c.video.yres - 1), expected[i]) << i;
    release(receiver, c);
  }
  NDIlib_recv_destroy(receiver);
}

TEST_F(StandinTest, RawFileFramesWithPaddedStride) {
  // Two 4x2 UYVY frames with every byte distinct.
  std::string raw;
  for (int i = 0; i < 32; ++i) raw.push_back(static_cast<char>(i + 1));
  std::ofstream(dir_ + "/clip.uyvy", std::ios::binary) << raw;
  useScenario(oneSource({{{"video", {{"width", 4}, {"height", 2}, {"stride", 12}, {"pattern", "file"}, {"file", "clip.uyvy"}}},
                          {"frames", 3}}}));
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_recv_instance_t receiver = connect("HOST (Test)");
  for (int frame = 0; frame < 3; ++frame) {
    Captured c = captureOne(receiver);
    ASSERT_EQ(c.type, NDIlib_frame_type_video);
    ASSERT_EQ(c.video.line_stride_in_bytes, 12);
    for (int y = 0; y < 2; ++y) {
      for (int b = 0; b < 12; ++b) {
        int expected = b < 8 ? raw[(frame % 2) * 16 + y * 8 + b] : 0;  // the file's bytes, zero padding
        EXPECT_EQ(c.video.p_data[y * 12 + b], expected) << frame << " " << y << " " << b;
      }
    }
    release(receiver, c);
  }
  NDIlib_recv_destroy(receiver);
}

TEST_F(StandinTest, AudioFramesAlternateTheirSampleCounts) {
  useScenario(oneSource({{{"audio", {{"rate", 48000}, {"channels", 3}, {"samples", {1601, 1602}}, {"tone_hz", 1000}, {"amplitude", 0.25}}},
                          {"duration_ms", 1000}}}));
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_recv_instance_t receiver = connect("HOST (Test)");
  int64_t position = 0;
  int frames = 0;
  for (;;) {
    Captured c = captureOne(receiver, 0);
    if (c.type == NDIlib_frame_type_none) break;
    ASSERT_EQ(c.type, NDIlib_frame_type_audio);
    EXPECT_EQ(c.audio.no_samples, frames % 2 ? 1602 : 1601);
    EXPECT_EQ(c.audio.no_channels, 3);
    EXPECT_EQ(c.audio.channel_stride_in_bytes, c.audio.no_samples * 4);
    for (int s : {0, 7, c.audio.no_samples - 1}) {
      double expected = 0.25 * std::sin(2 * std::numbers::pi * 1000 * (position + s) / 48000.0);
      for (int ch = 0; ch < 3; ++ch) {
        EXPECT_NEAR(c.audio.p_data[ch * c.audio.no_samples + s], expected, 1e-5) << frames << " " << s;
      }
    }
    position += c.audio.no_samples;
    ++frames;
    release(receiver, c);
  }
  // One second at 48 kHz in frames of 1601 and 1602 samples: 30 frames start before its end.
  EXPECT_EQ(frames, 30);
  NDIlib_recv_destroy(receiver);
}

TEST_F(StandinTest, SegmentsPlayInOrder) {
  useScenario(oneSource({{{"video", {{"width", 64}, {"height", 36}}}, {"frames", 1}},
                         {{"connection_lost", true}},
                         {{"status_change", true}},
                         {{"metadata", "<tally on=\"1\"/>"}},
                         {{"silence_ms", 300}},
                         {{"video", {{"width", 32}, {"height", 18}, {"fourcc", "BGRA"}}}, {"frames", 1}},
                         {{"audio", {{"no_data", true}, {"samples", 480}}}, {"duration_ms", 10}}}));
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_recv_instance_t receiver = connect("HOST (Test)");
  Captured first = captureOne(receiver);
  EXPECT_EQ(first.type, NDIlib_frame_type_video);
  release(receiver, first);
  EXPECT_EQ(captureOne(receiver).type, NDIlib_frame_type_error);
  EXPECT_EQ(captureOne(receiver).type, NDIlib_frame_type_status_change);
  Captured meta = captureOne(receiver);
  ASSERT_EQ(meta.type, NDIlib_frame_type_metadata);
  EXPECT_STREQ(meta.metadata.p_data, "<tally on=\"1\"/>");
  EXPECT_EQ(meta.metadata.length, static_cast<int>(std::strlen(meta.metadata.p_data) + 1));
  release(receiver, meta);

  auto silence = std::chrono::steady_clock::now();
  int timeouts = 0;
  Captured next = captureOne(receiver, 50);
  for (; next.type == NDIlib_frame_type_none; next = captureOne(receiver, 50)) ++timeouts;
  EXPECT_GE(secondsSince(silence), 0.3);
  // At least one capture timed out; how many depends on how busy the machine is.
  EXPECT_GE(timeouts, 1);
  ASSERT_EQ(next.type, NDIlib_frame_type_video);
  EXPECT_EQ(next.video.FourCC, NDI_LIB_FOURCC('B', 'G', 'R', 'A'));
  EXPECT_EQ(next.video.line_stride_in_bytes, 32 * 4);
  release(receiver, next);
  Captured empty = captureOne(receiver);
  ASSERT_EQ(empty.type, NDIlib_frame_type_audio);
  EXPECT_EQ(empty.audio.p_data, nullptr);
  EXPECT_EQ(empty.audio.no_samples, 480);
  release(receiver, empty);
  EXPECT_EQ(captureOne(receiver, 0).type, NDIlib_frame_type_none);
  NDIlib_recv_destroy(receiver);
}

TEST_F(StandinTest, RealtimeFramesComeNoEarlierThanTheirTime) {
  useScenario(oneSource({{{"video", {{"width", 64}, {"height", 36}, {"rate", {10, 1}}}}, {"frames", 4}}}, "realtime"));
  ASSERT_TRUE(NDIlib_initialize());
  auto start = std::chrono::steady_clock::now();
  NDIlib_recv_instance_t receiver = connect("HOST (Test)");
  for (int frame = 0; frame < 4; ++frame) {
    Captured c = captureOne(receiver, 5000);
    ASSERT_EQ(c.type, NDIlib_frame_type_video);
    EXPECT_GE(secondsSince(start), frame * 0.1);
    release(receiver, c);
  }
  NDIlib_recv_destroy(receiver);
}

TEST_F(StandinTest, QueueCountsFramesAlreadyDue) {
  useScenario(oneSource({{{"video", {{"width", 64}, {"height", 36}, {"rate", {100, 1}}}}, {"frames", 5}}}, "realtime"));
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_recv_instance_t receiver = connect("HOST (Test)");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // all five are due by now
  NDIlib_recv_queue_t queue;
  NDIlib_recv_get_queue(receiver, &queue);
  EXPECT_EQ(queue.video_frames, 5);
  for (int i = 0; i < 5; ++i) release(receiver, captureOne(receiver));
  NDIlib_recv_get_queue(receiver, &queue);
  EXPECT_EQ(queue.video_frames, 0);
  NDIlib_recv_performance_t total, dropped;
  NDIlib_recv_get_performance(receiver, &total, &dropped);
  EXPECT_EQ(total.video_frames, 5);
  EXPECT_EQ(dropped.video_frames, 0);
  NDIlib_recv_destroy(receiver);
}

TEST_F(StandinTest, KindsWithoutAFramePointerPassBy) {
  useScenario(oneSource({{{"video", {{"width", 64}, {"height", 36}}}, {"audio", json::object()}, {"frames", 3}}}));
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_recv_instance_t receiver = connect("HOST (Test)");
  NDIlib_audio_frame_v2_t audio;
  int audios = 0;
  while (NDIlib_recv_capture_v2(receiver, nullptr, &audio, nullptr, 0) == NDIlib_frame_type_audio) {
    ++audios;
    NDIlib_recv_free_audio_v2(receiver, &audio);
  }
  EXPECT_EQ(audios, 3);
  EXPECT_EQ(ndi_standin_counts().video_captured, 0);
  NDIlib_recv_destroy(receiver);
}

TEST_F(StandinTest, LoopingSourceStartsAgain) {
  json source = oneSource({{{"video", {{"width", 64}, {"height", 36}, {"pattern", "counter"}}}, {"frames", 1}},
                           {{"status_change", true}}});
  source["sources"][0]["loop"] = true;
  useScenario(source);
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_recv_instance_t receiver = connect("HOST (Test)");
  for (int round = 0; round < 3; ++round) {
    Captured c = captureOne(receiver);
    ASSERT_EQ(c.type, NDIlib_frame_type_video);
    EXPECT_EQ(readCounter(c.video, 0), round);
    release(receiver, c);
    EXPECT_EQ(captureOne(receiver).type, NDIlib_frame_type_status_change);
  }
  NDIlib_recv_destroy(receiver);
}

TEST_F(StandinTest, ReceiversOnTwoThreads) {
  useScenario(oneSource({{{"video", {{"width", 64}, {"height", 36}}}, {"audio", json::object()}, {"frames", 50}}}));
  ASSERT_TRUE(NDIlib_initialize());
  auto run = [this] {
    NDIlib_recv_instance_t receiver = connect("HOST (Test)");
    for (Captured c = captureOne(receiver, 0); c.type != NDIlib_frame_type_none; c = captureOne(receiver, 0)) {
      NDIlib_recv_queue_t queue;
      NDIlib_recv_get_queue(receiver, &queue);
      release(receiver, c);
    }
    NDIlib_recv_destroy(receiver);
  };
  std::thread first(run), second(run);
  first.join();
  second.join();
  EXPECT_EQ(ndi_standin_counts().video_captured, 100);
  EXPECT_EQ(ndi_standin_frames_outstanding(), 0);
}
