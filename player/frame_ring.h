// The three-slot ring of I420 pictures between the receiver thread (writer) and the render
// loop on the main thread (reader).
//
// Hand-over: the writer fills slot cur_converter_index (or the next one when the reader
// holds that slot), then publishes it by a release store of the new index; the reader shows
// slot (index + 2) mod 3, the one written last, and marks it in render_slot_in_use while it
// uploads, so the writer never writes a slot being uploaded. Re-initialisation sets
// isInitVideo and waits until no slot is in use before it frees the ring.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct CONVERTER_BUFFER {
    uint8_t* i420 = nullptr;   // Y, U, V planes of one picture at the output size
    uint8_t* weave = nullptr;  // two woven UYVY fields (weave mode, field sources only)
    uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    std::atomic<bool> shown{true};  // drawn by the render loop (or never written)
    int frame_format = 0;           // NDI frame format type of the picture
    int width = 0;                  // picture size that planes hold
    int height = 0;
    int weave_stride = 0;           // bytes per woven line
    int weave_lines = 0;            // twice the field height
    int64_t captured_ns = 0;        // steady clock when the receiver got the frame
};

extern CONVERTER_BUFFER converter_buffers[3];
// The slot the receiver writes next.
extern std::atomic<int> cur_converter_index;
// The slot the render loop is uploading, -1 when none.
extern std::atomic<int> render_slot_in_use;
// Receiver thread only: the re-initialised output weaves fields (allocates weave buffers).
extern bool video_weave_fields;

// Output size that keeps the frame's aspect ratio on the screen; the width a multiple of
// 8. Sizes that are not positive give 0 x 0.
void ResizeAndKeepAspectRatio(int src_h, int src_w, int dst_h, int dst_w, int& out_h, int& out_w, int progressive);

// Bytes of one I420 picture; the chroma planes have (height + 1) / 2 rows.
size_t i420PictureSize(int width, int height);

// Allocates the three slots at outvideo_width x outvideo_height (weave buffers from
// inLineSize and video_height when video_weave_fields), each marked shown.
void initFrameBuffers();
void deleteFrameBuffers();

// Receiver: waits until the render loop holds no slot (call with isInitVideo set). False
// when give_up turned true or the program exits first.
bool waitForRingIdle(const std::atomic<bool>* give_up);

// Render loop: the slot written last, marked in use, when it holds a picture not yet
// drawn and no re-initialisation runs; null otherwise. Every slot returned goes back
// through releaseSlot.
CONVERTER_BUFFER* acquireNewestSlot();
// drawn: the slot was shown (sets its shown flag and isRendered).
void releaseSlot(CONVERTER_BUFFER* slot, bool drawn);
