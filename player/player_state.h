// Program-wide state of decode-player, shared by the receiver thread, the render loop on
// the main thread and the watcher thread. Every value that crosses threads is atomic.
#pragma once

#include <atomic>

extern "C" {
struct SwsContext;
}

// Size of the last accepted frame (for fields: the field's size); 0 after "not found".
extern std::atomic<int> video_width;
extern std::atomic<int> video_height;
// Rate of the last accepted frame, for fields the field rate.
extern std::atomic<float> video_fps;
// 1 progressive, 0 fields (also an interleaved frame, which carries both fields).
extern std::atomic<int> video_frame_type;

// Size of the converted picture, set by each re-initialisation of the output.
extern std::atomic<int> outvideo_width;
extern std::atomic<int> outvideo_height;

// Line stride of the incoming UYVY picture; strides of the I420 planes.
extern std::atomic<int> inLineSize;
extern int outLineSize[3];  // written and read by the receiver thread only

// Flags of the hand-over between the receiver and the render loop (0 or 1).
extern std::atomic<int> isInitVideo;
extern std::atomic<int> isRendered;
extern std::atomic<int> isInitUploaded;
extern std::atomic<int> isNeededOpenglReset;
extern std::atomic<int> isNoBGImage;

// Scaling context of the receiver thread; freed at shutdown after the receivers are gone.
extern SwsContext* sws_ctx;

// The NDI SDK's colour format for the fastest delivery.
extern int ndi_color_format;

// Audio gain, written by the watcher, read by the receiver once per audio frame.
extern std::atomic<int> iAudioInGain;

extern std::atomic<int> received_frames;
extern std::atomic<int> rendered_frames;

// Set once to end every loop of the program.
extern std::atomic<bool> exit_loop;

// Current display mode (start-up, then every re-initialisation of the output).
extern std::atomic<int> screen_width;
extern std::atomic<int> screen_height;
extern std::atomic<int> screen_rate;

// 1 weaves the two fields of an interlaced source into frames; the only mode in use.
constexpr int interlaced_render_mode = 1;
// 0 I420, the only output format.
constexpr int image_format = 0;
