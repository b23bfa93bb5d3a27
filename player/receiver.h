// The NDI receiver of decode-player: one object per connected source, with its own
// thread that pulls frames, feeds the frame ring and the audio device and writes the
// status records.
#pragma once

#include <atomic>
#include <thread>

#include "Processing.NDI.Lib.h"

class receive_example {
public:
    // Creates the NDI receiver for source_name and starts the capture thread. A receiver
    // that cannot be created behaves as a silent source.
    receive_example(int channel, const char* source_name);
    // Stops and joins the thread, then destroys the NDI receiver.
    ~receive_example();
    receive_example(const receive_example&) = delete;
    receive_example& operator=(const receive_example&) = delete;

    // The capture loop, until the stop flag is set.
    void receive();

private:
    void onVideoFrame(const NDIlib_video_frame_v2_t& frame);
    void onAudioFrame(const NDIlib_audio_frame_v2_t& frame);
    void onNoData();

    NDIlib_recv_instance_t m_recv = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    int m_channel = 1;
    // Statistics window of the log lines every 200 frames.
    std::chrono::steady_clock::time_point m_window_start;
    int m_window_frames = 0;
};

// Converts one UYVY frame into the frame ring (receiver thread).
void uploadWithOpengl(NDIlib_video_frame_v2_t frame);
