#include "player/receiver.h"

#include <chrono>
#include <string>

#include "common/helpers.h"
#include "common/ndi_config.h"
#include "player/audio_output.h"
#include "player/conversion.h"
#include "player/display/display_control.h"
#include "player/player_state.h"
#include "player/status_records.h"

namespace {

// NDI frame format type of the last accepted frame; receiver threads only (one at a time).
int video_scan_format = -1;
// Audio format in the last audio record; a "not found" record reports 0, 0.
int reported_channels = -1;
int reported_sample_rate = -1;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const char* fourccLine(uint32_t code)
{
    struct Named {
        uint32_t code;
        const char* line;
    };
    static const Named names[] = {
        {NDI_LIB_FOURCC('U', 'Y', 'V', 'A'), "UYVA high streaming\n"},
        {NDI_LIB_FOURCC('B', 'G', 'R', 'A'), "BGRA high streaming\n"},
        {NDI_LIB_FOURCC('P', '2', '1', '6'), "P216 high streaming\n"},
        {NDI_LIB_FOURCC('H', '2', '6', '4'), "H264 high streaming\n"},
        {NDI_LIB_FOURCC('h', '2', '6', '4'), "H264 low streaming\n"},
        {NDI_LIB_FOURCC('S', 'H', 'Q', '0'), "SHQ0 high streaming\n"},
        {NDI_LIB_FOURCC('s', 'h', 'q', '0'), "SHQ0 low streaming\n"},
        {NDI_LIB_FOURCC('S', 'H', 'Q', '2'), "SHQ2 high streaming\n"},
        {NDI_LIB_FOURCC('s', 'h', 'q', '2'), "SHQ2 low streaming\n"},
        {NDI_LIB_FOURCC('S', 'H', 'Q', '7'), "SHQ7 high streaming\n"},
        {NDI_LIB_FOURCC('s', 'h', 'q', '7'), "SHQ7 low streaming\n"},
    };
    for (const Named& name : names)
        if (name.code == code)
            return name.line;
    return nullptr;
}

UyvyPicture pictureOf(const NDIlib_video_frame_v2_t& frame)
{
    UyvyPicture picture;
    picture.data = frame.p_data;
    picture.width = frame.xres;
    picture.height = frame.yres;
    picture.line_stride = frame.line_stride_in_bytes;
    picture.frame_format = static_cast<int>(frame.frame_format_type);
    return picture;
}

// Sleeps up to ms, returning early when stop turns true.
void sleepUnlessStopped(const std::atomic<bool>& stop, int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stop.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace

void uploadWithOpengl(NDIlib_video_frame_v2_t frame)
{
    UyvyPicture picture = pictureOf(frame);
    picture.captured_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    convertIntoRing(picture);
}

receive_example::receive_example(int channel, const char* source_name)
    : m_channel(channel)
{
    NDIlib_recv_create_v3_t create{};
    create.source_to_connect_to.p_ndi_name = source_name;
    create.source_to_connect_to.p_url_address = nullptr;
    create.color_format = static_cast<NDIlib_recv_color_format_e>(ndi_color_format);
    create.bandwidth = NDIlib_recv_bandwidth_highest;
    create.allow_video_fields = true;
    create.p_ndi_recv_name = "VXR NDI Receiver";
    std::string config = getNDIRxSettings();
    m_recv = NDIlib_recv_create_v4(&create, config.c_str());
    DebugLog("Channel %d is connecting to %s.\n", channel, source_name);
    DebugLog("NDI conf data for recv: %s\n", config.c_str());
    if (m_recv == nullptr)
        DebugLog("[ DEBUG ] Channel %d: no NDI receiver, the source stays silent\n", channel);

    std::this_thread::sleep_for(std::chrono::milliseconds(10));

    if (m_recv != nullptr) {
        static char hwaccel[] = "<ndi_hwaccel enabled=\"true\"/>";
        NDIlib_metadata_frame_t metadata{};
        metadata.length = 0;
        metadata.timecode = NDIlib_send_timecode_synthesize;
        metadata.p_data = hwaccel;
        if (NDIlib_recv_send_metadata(m_recv, &metadata))
            DebugLog("Success ndi_hwaccel\n");
        else
            DebugLog("Failed ndi_hwaccel\n");
    }
    m_thread = std::thread(&receive_example::receive, this);
}

receive_example::~receive_example()
{
    DebugLog("closing receiver...\n");
    DebugLog("[Info] Start thread join\n");
    m_stop.store(true, std::memory_order_release);
    if (m_thread.joinable())
        m_thread.join();
    if (m_recv != nullptr)
        NDIlib_recv_destroy(m_recv);
    m_recv = nullptr;
    DebugLog("closed receiver\n");
    DebugLog("[Info] End thread join\n");
}

void receive_example::receive()
{
    m_window_start = std::chrono::steady_clock::now();
    m_window_frames = 0;
    while (!m_stop.load(std::memory_order_acquire)) {
        if (m_recv == nullptr) {
            // Nothing to capture from: report a silent source once a second.
            sleepUnlessStopped(m_stop, 1000);
            if (!m_stop.load(std::memory_order_acquire))
                onNoData();
            continue;
        }
        NDIlib_video_frame_v2_t video{};
        NDIlib_audio_frame_v2_t audio{};
        NDIlib_metadata_frame_t metadata{};
        switch (NDIlib_recv_capture_v2(m_recv, &video, &audio, &metadata, 1000)) {
        case NDIlib_frame_type_none:
            if (!m_stop.load(std::memory_order_acquire))
                onNoData();
            break;
        case NDIlib_frame_type_video:
            onVideoFrame(video);
            break;
        case NDIlib_frame_type_audio:
            onAudioFrame(audio);
            break;
        case NDIlib_frame_type_metadata:
            NDIlib_recv_free_metadata(m_recv, &metadata);
            break;
        case NDIlib_frame_type_error:
            DebugLog("connection lost\n");
            break;
        case NDIlib_frame_type_status_change:
            DebugLog("Receiver connection status changed.\n");
            break;
        default:
            break;
        }
    }
}

void receive_example::onNoData()
{
    DebugLog("No data\n");
    writeVideoRecord(true, 0, 0.0f, false, &m_stop);
    WriteConnectionInfoForAudio(0, 0, &m_stop);
    reported_channels = 0;
    reported_sample_rate = 0;
}

void receive_example::onVideoFrame(const NDIlib_video_frame_v2_t& frame)
{
    const uint32_t fourcc = static_cast<uint32_t>(frame.FourCC);
    if (fourcc != static_cast<uint32_t>(NDIlib_FourCC_video_type_UYVY)) {
        DebugLog("FourCC: 0x%x, %d\n", fourcc, static_cast<int>(fourcc));
        if (const char* line = fourccLine(fourcc))
            DebugLog("%s", line);
        NDIlib_recv_free_video_v2(m_recv, &frame);
        return;
    }
    // A frame of no size (or no data) has nothing to show and would divide by zero.
    if (frame.xres <= 0 || frame.yres <= 0 || frame.p_data == nullptr) {
        DebugLog("[ DEBUG ] Video frame of size %dx%d without picture, not shown\n", frame.xres, frame.yres);
        NDIlib_recv_free_video_v2(m_recv, &frame);
        return;
    }

    const int format = static_cast<int>(frame.frame_format_type);
    float rate = frame.frame_rate_D != 0 ? static_cast<float>(frame.frame_rate_N) / static_cast<float>(frame.frame_rate_D)
                                         : 0.0f;
    int progressive = 1;
    if (format != NDIlib_frame_format_type_progressive) {
        progressive = 0;
        rate *= 2;  // field rate
    }
    // An interleaved frame carries both fields: a whole frame of its full height.
    const bool fields = isFieldFormat(format);

    bool type_changed = false;
    bool rate_changed = false;
    const int scan = fields ? static_cast<int>(kFrameField0) : format;  // field 0 and 1: one scan type
    if (progressive != video_frame_type.load(std::memory_order_relaxed) || scan != video_scan_format) {
        video_frame_type.store(progressive, std::memory_order_release);
        video_scan_format = scan;
        type_changed = true;
    }
    if (rate != video_fps.load(std::memory_order_relaxed)) {
        video_fps.store(rate, std::memory_order_release);
        rate_changed = true;
    }
    bool reinit = false;
    if (frame.xres != video_width.load(std::memory_order_relaxed) ||
        frame.yres != video_height.load(std::memory_order_relaxed) || type_changed) {
        isRendered.store(1, std::memory_order_release);
        isInitVideo.store(1, std::memory_order_seq_cst);
        reinit = true;
    }
    if (reinit || rate_changed) {
        writeVideoRecord(false, fields ? 2 * frame.yres : frame.yres, rate, progressive == 0, &m_stop);
        // The display takes a field source by its field height.
        changeScreenInfo(false, frame.xres, fields ? frame.yres : (progressive ? frame.yres : frame.yres / 2),
                         progressive, rate);
    }
    if (reinit) {
        int width = 0;
        int height = 0;
        int screen_hz = 0;
        getCurScreenInfo(&width, &height, &screen_hz);
        screen_width.store(width, std::memory_order_release);
        screen_height.store(height, std::memory_order_release);
        screen_rate.store(screen_hz, std::memory_order_release);
        DebugLog("screen resolution: (%d, %d)\n", width, height);
        reinitOutput(pictureOf(frame), width, height, &m_stop);
    }

    auto start = std::chrono::steady_clock::now();
    uploadWithOpengl(frame);
    DebugLog("receiver time: %f\n", secondsSince(start));

    NDIlib_recv_free_video_v2(m_recv, &frame);
    NDIlib_recv_queue_t queue{};
    NDIlib_recv_get_queue(m_recv, &queue);
    if (queue.video_frames > 2)
        DebugLog("[ DEBUG ] Channel %d queue depth is %d.\n", m_channel, queue.video_frames);

    received_frames.fetch_add(1, std::memory_order_relaxed);
    if (++m_window_frames >= 200) {
        double seconds = secondsSince(m_window_start);
        DebugLog("[ DEBUG ] Channel %d is receiving %dx%d video at %1.1ffps.\n", m_channel, frame.xres, frame.yres,
                 seconds > 0 ? 200.0 / seconds : 0.0);
        m_window_start = std::chrono::steady_clock::now();
        m_window_frames = 0;
        NDIlib_recv_performance_t total{};
        NDIlib_recv_performance_t dropped{};
        NDIlib_recv_get_performance(m_recv, &total, &dropped);
        DebugLog("[ DEBUG ] Channel %d toal %lu frames: dropped %lu frames.\n", m_channel,
                 static_cast<unsigned long>(total.video_frames), static_cast<unsigned long>(dropped.video_frames));
        DebugLog("[ DEBUG ] Channel %d: received frames - render frames= %d - %d\n", m_channel,
                 received_frames.load(std::memory_order_relaxed), rendered_frames.load(std::memory_order_relaxed));
    }
}

void receive_example::onAudioFrame(const NDIlib_audio_frame_v2_t& frame)
{
    if (frame.p_data == nullptr) {
        DebugLog("no audio frame data\n");
    } else {
        if (audioFormatChanged(frame))
            isInitAudio = true;
        if (isInitAudio || frame.no_channels != reported_channels || frame.sample_rate != reported_sample_rate) {
            WriteConnectionInfoForAudio(frame.no_channels, frame.sample_rate, &m_stop);
            reported_channels = frame.no_channels;
            reported_sample_rate = frame.sample_rate;
        }
        if (isInitAudio) {
            DebugLog("NDI audio: sample-rate:%d channels:%d one-channel-samples:%d one-channel-bytes:%d "
                     "one-sample-bytes:%d\n",
                     frame.sample_rate, frame.no_channels, frame.no_samples, frame.channel_stride_in_bytes, 4);
            initAudio(frame);
            isInitAudio = false;
        }
        ProcessAudioFrameS16LSB(frame);
    }
    NDIlib_recv_free_audio_v2(m_recv, &frame);
}
