// Frame accounting and the call log: what a test of the system reads back.
#include "standin_fixture.h"

using nlohmann::json;

namespace {

json shortClip() {
  return oneSource({{{"video", {{"width", 64}, {"height", 36}}}, {"audio", json::object()}, {"frames", 4}},
                    {{"metadata", "<m/>"}}});
}

}  // namespace

TEST_F(StandinTest, BalancedRunFreesEveryFrame) {
  useScenario(shortClip());
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_recv_instance_t receiver = connect("HOST (Test)");
  NDIlib_video_frame_v2_t video;
  NDIlib_audio_frame_v2_t audio;
  NDIlib_metadata_frame_t metadata;
  for (;;) {
    NDIlib_frame_type_e type = NDIlib_recv_capture_v2(receiver, &video, &audio, &metadata, 0);
    if (type == NDIlib_frame_type_none) break;
    if (type == NDIlib_frame_type_video) NDIlib_recv_free_video_v2(receiver, &video);
    if (type == NDIlib_frame_type_audio) NDIlib_recv_free_audio_v2(receiver, &audio);
    if (type == NDIlib_frame_type_metadata) NDIlib_recv_free_metadata(receiver, &metadata);
  }
  NDIlib_recv_destroy(receiver);
  NDIlib_destroy();

  ndi_standin_counts_t counts = ndi_standin_counts();
  EXPECT_EQ(counts.video_captured, 4);
  EXPECT_EQ(counts.video_freed, 4);
  // 4 frames at 29.97 last 6406.4 samples: audio frames start at 0, 1602, 3203, 4805, 6406.
  EXPECT_EQ(counts.audio_captured, 5);
  EXPECT_EQ(counts.audio_freed, 5);
  EXPECT_EQ(counts.metadata_captured, 1);
  EXPECT_EQ(counts.metadata_freed, 1);
  EXPECT_EQ(counts.bad_frees, 0);
  EXPECT_EQ(ndi_standin_frames_captured(), 10);
  EXPECT_EQ(ndi_standin_frames_freed(), 10);
  EXPECT_EQ(ndi_standin_frames_outstanding(), 0);

  auto destroyed = logLinesOf("NDIlib_recv_destroy");
  ASSERT_EQ(destroyed.size(), 1u);
  EXPECT_EQ(destroyed[0],
            "NDIlib_recv_destroy recv=1 video_captured=4 video_freed=4 audio_captured=5 audio_freed=5 "
            "metadata_captured=1 metadata_freed=1 bad_frees=0 outstanding=0");
  EXPECT_EQ(logLinesOf("NDIlib_destroy").size(), 1u);
}

TEST_F(StandinTest, LeakedAndDoubleFreedFramesShow) {
  useScenario(shortClip());
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_recv_instance_t receiver = connect("HOST (Test)");
  NDIlib_video_frame_v2_t video, leaked;
  ASSERT_EQ(NDIlib_recv_capture_v2(receiver, &video, nullptr, nullptr, 0), NDIlib_frame_type_video);
  NDIlib_recv_free_video_v2(receiver, &video);
  NDIlib_recv_free_video_v2(receiver, &video);  // second free of the same frame
  NDIlib_video_frame_v2_t never;
  NDIlib_recv_free_video_v2(receiver, &never);  // a frame that was never captured
  ASSERT_EQ(NDIlib_recv_capture_v2(receiver, &leaked, nullptr, nullptr, 0), NDIlib_frame_type_video);
  EXPECT_EQ(ndi_standin_frames_outstanding(), 1);
  NDIlib_recv_destroy(receiver);
  NDIlib_recv_free_video_v2(receiver, &leaked);  // after the receiver is gone

  ndi_standin_counts_t counts = ndi_standin_counts();
  EXPECT_EQ(counts.video_captured, 2);
  EXPECT_EQ(counts.video_freed, 1);
  EXPECT_EQ(counts.bad_frees, 3);
  EXPECT_EQ(ndi_standin_frames_outstanding(), 1);
  auto destroyed = logLinesOf("NDIlib_recv_destroy");
  ASSERT_EQ(destroyed.size(), 1u);
  EXPECT_NE(destroyed[0].find(" video_captured=2 video_freed=1 "), std::string::npos) << destroyed[0];
  EXPECT_NE(destroyed[0].find(" bad_frees=2 outstanding=1"), std::string::npos) << destroyed[0];
  auto frees = logLinesOf("NDIlib_recv_free_video_v2");
  ASSERT_EQ(frees.size(), 4u);
  EXPECT_EQ(frees[0], "NDIlib_recv_free_video_v2 recv=1");
  EXPECT_EQ(frees[1], "NDIlib_recv_free_video_v2 recv=1 result=not_captured");
  EXPECT_EQ(frees[2], "NDIlib_recv_free_video_v2 recv=1 result=not_captured");
  EXPECT_EQ(frees[3], "NDIlib_recv_free_video_v2 recv=0 result=unknown_receiver");
}

TEST_F(StandinTest, CallLogHoldsTheArguments) {
  useScenario(shortClip());
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_recv_create_v3_t settings;
  settings.source_to_connect_to.p_ndi_name = "HOST (Test)";
  settings.color_format = NDIlib_recv_color_format_fastest;
  settings.bandwidth = NDIlib_recv_bandwidth_highest;
  settings.allow_video_fields = true;
  settings.p_ndi_recv_name = "VXR NDI Receiver";
  const char* config = "{\"ndi\":{\"groups\":{\"send\": \"Public\",\"recv\": \"Public\"}}}";
  NDIlib_recv_instance_t receiver = NDIlib_recv_create_v4(&settings, config);
  NDIlib_metadata_frame_t hello;
  hello.length = 0;
  hello.timecode = NDIlib_send_timecode_synthesize;
  hello.p_data = const_cast<char*>("<ndi_hwaccel enabled=\"true\"/>");
  EXPECT_TRUE(NDIlib_recv_send_metadata(receiver, &hello));

  NDIlib_audio_frame_v2_t audio;
  ASSERT_EQ(NDIlib_recv_capture_v2(receiver, nullptr, &audio, nullptr, 1000), NDIlib_frame_type_audio);
  std::vector<int16_t> out(static_cast<size_t>(audio.no_samples) * audio.no_channels);
  NDIlib_audio_frame_interleaved_16s_t interleaved;
  interleaved.reference_level = 20;
  interleaved.p_data = out.data();
  NDIlib_util_audio_to_interleaved_16s_v2(&audio, &interleaved);
  NDIlib_recv_free_audio_v2(receiver, &audio);
  NDIlib_recv_destroy(receiver);

  auto lines = logLines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "NDIlib_initialize result=true");
  EXPECT_EQ(lines[1],
            "NDIlib_recv_create_v4 source=\"HOST (Test)\" url=null color_format=100 bandwidth=100 "
            "allow_video_fields=true recv_name=\"VXR NDI Receiver\" "
            "config=\"{\\\"ndi\\\":{\\\"groups\\\":{\\\"send\\\": \\\"Public\\\",\\\"recv\\\": \\\"Public\\\"}}}\" "
            "recv=1 known_source=true");
  EXPECT_EQ(lines[2],
            "NDIlib_recv_send_metadata recv=1 length=0 timecode=9223372036854775807 "
            "data=\"<ndi_hwaccel enabled=\\\"true\\\"/>\" result=true");
  EXPECT_EQ(lines[3], "NDIlib_recv_capture_v2 recv=1 timeout_ms=1000 result=audio sample_rate=48000 no_channels=2 no_samples=1602");
  EXPECT_EQ(lines[4], "NDIlib_util_audio_to_interleaved_16s_v2 no_channels=2 no_samples=1602 reference_level=20");
  EXPECT_EQ(lines[5], "NDIlib_recv_free_audio_v2 recv=1");
}

TEST_F(StandinTest, NoLogWithoutItsVariable) {
  unsetenv("TARNVIK_NDI_LOG");
  ndi_standin_reset();
  ASSERT_TRUE(NDIlib_initialize());
  NDIlib_destroy();
  EXPECT_FALSE(std::filesystem::exists(logPath()));
}
