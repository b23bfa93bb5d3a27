// The receiver driven end to end by stand-in scenarios: the records on the dashboard pipe
// and in the av-info file, the mode switches, the log lines, the sound in SDL's disk file
// and the frame accounting.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/helpers.h"
#include "ndi_standin.h"
#include "player/audio_output.h"
#include "player/frame_ring.h"
#include "player/player_state.h"
#include "player/receiver.h"
#include "player/tests/receiver_harness.h"
#include "testsupport/process.h"

namespace {

using ::testing::ElementsAre;
using ::testing::Each;

const char* kNotFound = "NDI source not found";

std::vector<int16_t> nonZeroSamples(const std::vector<int16_t>& samples)
{
    std::vector<int16_t> out;
    std::copy_if(samples.begin(), samples.end(), std::back_inserter(out), [](int16_t s) { return s != 0; });
    return out;
}

std::vector<int16_t> readSamples(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// What the source sends, converted by the runtime's own routine at the gain: the sound
// the player must queue. A second receiver on the same scenario sees the same frames.
std::vector<int16_t> expectedSound(const char* source, int gain)
{
    NDIlib_recv_create_v3_t create{};
    create.source_to_connect_to.p_ndi_name = source;
    NDIlib_recv_instance_t recv = NDIlib_recv_create_v4(&create, nullptr);
    std::vector<int16_t> all;
    for (;;) {
        NDIlib_video_frame_v2_t video{};
        NDIlib_audio_frame_v2_t audio{};
        NDIlib_frame_type_e type = NDIlib_recv_capture_v2(recv, &video, &audio, nullptr, 100);
        if (type == NDIlib_frame_type_none)
            break;
        if (type == NDIlib_frame_type_video)
            NDIlib_recv_free_video_v2(recv, &video);
        if (type == NDIlib_frame_type_audio) {
            std::vector<int16_t> samples(static_cast<size_t>(audio.no_samples) * audio.no_channels);
            NDIlib_audio_frame_interleaved_16s_t interleaved{};
            interleaved.reference_level = gain;
            interleaved.p_data = samples.data();
            NDIlib_util_audio_to_interleaved_16s_v2(&audio, &interleaved);
            all.insert(all.end(), samples.begin(), samples.end());
            NDIlib_recv_free_audio_v2(recv, &audio);
        }
    }
    NDIlib_recv_destroy(recv);
    return all;
}

class Receiver : public ::testing::Test {
protected:
    void SetUp() override
    {
        isDebug = true;
        iAudioInGain = 20;
    }
    void TearDown() override { isDebug = false; }
};

TEST_F(Receiver, FollowsFormatChangesWithRecordsModesAndOneScalerEach)
{
    const char* scenario = R"({"sources": [{"name": "Test Source", "pacing": "capture", "segments": [
        {"video": {"width": 640, "height": 360, "rate": [30000, 1001]}, "audio": {"rate": 48000, "channels": 2}, "frames": 4},
        {"video": {"width": 640, "height": 360, "rate": [60, 1]}, "frames": 4},
        {"video": {"width": 640, "height": 360, "rate": [60, 1], "fourcc": "BGRA"}, "frames": 2},
        {"video": {"width": 640, "height": 720, "rate": [30000, 1001], "scan": "fields"}, "frames": 3},
        {"video": {"width": 640, "height": 360, "rate": [25, 1], "scan": "interleaved"}, "frames": 2}
    ]}]})";
    playertest::ReceiverHarness harness(scenario, 1280, 720);
    iAudioInGain = 12;

    ::testing::internal::CaptureStdout();
    auto* receiver = new receive_example(1, "Test Source");
    // The script ends, then the source is silent: a "not found" record each second, the
    // video one written just before the audio one.
    bool silent = testsupport::waitFor(
        [&] {
            auto values = harness.videoValues();
            auto audio = harness.audioValues();
            return std::count(values.begin(), values.end(), kNotFound) >= 2 &&
                   std::count(audio.begin(), audio.end(), "0/0") >= 2;
        },
        std::chrono::seconds(20));
    delete receiver;
    const std::string log = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(silent) << log;

    auto video = harness.videoValues();
    ASSERT_GE(video.size(), 6u);
    EXPECT_THAT(std::vector<std::string>(video.begin(), video.begin() + 4),
                ElementsAre("360p29.97", "360p60", "720i59.94", "360i50"));
    EXPECT_THAT(std::vector<std::string>(video.begin() + 4, video.end()), Each(kNotFound));
    auto audio = harness.audioValues();
    ASSERT_GE(audio.size(), 3u);
    EXPECT_EQ(audio[0], "2/48000");
    EXPECT_THAT(std::vector<std::string>(audio.begin() + 1, audio.end()), Each("0/0"));
    EXPECT_EQ(harness.box().readFile("/etc/tarnvik_avinfo.json"),
              "{\"dashboard_vid_input\":\"Decode: NDI source not found\"}");

    // Fields by their field height, doubled by the display control; 59.94 rounded up.
    EXPECT_THAT(harness.modeSwitches(), ElementsAre("640x360@30", "640x360@60", "640x720@60", "640x360@50"));

    // A rate alone makes no new scaler or ring: three re-initialisations for four formats.
    EXPECT_EQ(playertest::countLines(log, "Input video size:"), 3) << log;
    EXPECT_EQ(playertest::countLines(log, "FourCC: 0x41524742, 1095911234"), 2);
    EXPECT_EQ(playertest::countLines(log, "BGRA high streaming"), 2);
    EXPECT_GE(playertest::countLines(log, "No data"), 2);
    EXPECT_EQ(playertest::countLines(log, "[SDL] Desired"), 1);
    EXPECT_EQ(playertest::countLines(log, "Success ndi_hwaccel"), 1);

    // The last format: interleaved 640x360 as one frame of full height on 1280x720.
    EXPECT_EQ(outvideo_width.load(), 1280);
    EXPECT_EQ(outvideo_height.load(), 720);
    EXPECT_EQ(received_frames.load(), 4 + 4 + 6 + 2);
    EXPECT_EQ(isInitUploaded.load(), 1);

    ndi_standin_counts_t counts = ndi_standin_counts();
    EXPECT_EQ(counts.video_captured, 4 + 4 + 2 + 6 + 2);
    EXPECT_EQ(counts.video_freed, counts.video_captured);
    EXPECT_GT(counts.audio_captured, 0);
    EXPECT_EQ(counts.audio_freed, counts.audio_captured);
    EXPECT_EQ(counts.bad_frees, 0);

    // The sound in the disk file (between SDL's silence) is the source's at the gain.
    std::vector<int16_t> expected = nonZeroSamples(expectedSound("Test Source", 12));
    ASSERT_FALSE(expected.empty());
    std::vector<int16_t> played;
    testsupport::waitFor([&] {
        played = nonZeroSamples(readSamples(harness.audioFile()));
        return played.size() >= expected.size();
    });
    EXPECT_EQ(played.size(), expected.size());
    EXPECT_TRUE(played == expected);
}

TEST_F(Receiver, ReceiverThatCannotBeCreatedIsASilentSource)
{
    const char* scenario = R"({"recv_create": false, "sources": [{"name": "Test Source", "pacing": "capture",
        "segments": [{"video": {"width": 640, "height": 360}, "frames": 5}]}]})";
    playertest::ReceiverHarness harness(scenario);
    ::testing::internal::CaptureStdout();
    auto* receiver = new receive_example(1, "Test Source");
    bool silent = testsupport::waitFor(
        [&] {
            auto values = harness.videoValues();
            return std::count(values.begin(), values.end(), kNotFound) >= 2;
        },
        std::chrono::seconds(10));
    delete receiver;
    const std::string log = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(silent) << log;
    EXPECT_THAT(harness.videoValues(), Each(kNotFound));
    EXPECT_THAT(harness.audioValues(), Each("0/0"));
    EXPECT_GE(playertest::countLines(log, "No data"), 2);
    const std::string calls = harness.box().readFile("/tmp/ndi.log");
    EXPECT_EQ(calls.find("NDIlib_recv_capture_v2"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("NDIlib_recv_send_metadata"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("NDIlib_recv_destroy"), std::string::npos) << calls;
}

TEST_F(Receiver, AudioReopensOnlyForChannelsOrRateAndItsQueueIsBounded)
{
    // Delivered at once and drained slowly, so the queue runs full.
    const char* scenario = R"({"sources": [{"name": "Test Source", "pacing": "capture", "segments": [
        {"audio": {"rate": 48000, "channels": 2, "samples": [1602, 1601]}, "duration_ms": 600},
        {"audio": {"rate": 48000, "channels": 2, "samples": 1920}, "duration_ms": 80},
        {"audio": {"rate": 44100, "channels": 2}, "duration_ms": 80},
        {"audio": {"rate": 48000, "channels": 1}, "duration_ms": 80},
        {"audio": {"rate": 48000, "channels": 1, "no_data": true}, "duration_ms": 40},
        {"metadata": "<hello/>"},
        {"status_change": true},
        {"connection_lost": true}
    ]}]})";
    playertest::ReceiverHarness harness(scenario, 1280, 720, 100);
    ::testing::internal::CaptureStdout();
    auto* receiver = new receive_example(1, "Test Source");
    // The "0/0" audio record follows the "not found" video record: wait for both.
    bool silent = testsupport::waitFor(
        [&] {
            auto values = harness.videoValues();
            auto audio = harness.audioValues();
            return std::count(values.begin(), values.end(), kNotFound) >= 1 &&
                   std::count(audio.begin(), audio.end(), "0/0") >= 1;
        },
        std::chrono::seconds(20));
    delete receiver;
    const std::string log = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(silent) << log;

    auto audio = harness.audioValues();
    ASSERT_GE(audio.size(), 4u);
    EXPECT_THAT(std::vector<std::string>(audio.begin(), audio.begin() + 4),
                ElementsAre("2/48000", "2/44100", "1/48000", "0/0"));
    // 1602, 1601 and 1920 samples at 2/48000 share one device.
    EXPECT_EQ(playertest::countLines(log, "[SDL] Desired"), 3) << log;
    EXPECT_GE(playertest::countLines(log, "[SDL] Audio queue holds"), 1) << log;
    EXPECT_GE(playertest::countLines(log, "no audio frame data"), 1);
    EXPECT_EQ(playertest::countLines(log, "Receiver connection status changed."), 1);
    EXPECT_EQ(playertest::countLines(log, "connection lost"), 1);

    ndi_standin_counts_t counts = ndi_standin_counts();
    EXPECT_EQ(counts.audio_freed, counts.audio_captured);
    EXPECT_EQ(counts.metadata_captured, 1);
    EXPECT_EQ(counts.metadata_freed, 1);
    EXPECT_EQ(counts.bad_frees, 0);
}

} // namespace
