// The receiver's half of the video output: re-initialising the output for a new frame
// format (output size, scaler, ring) and converting UYVY frames into the ring.
#pragma once

#include <atomic>
#include <cstdint>

// NDI frame format types.
enum : int {
    kFrameInterleaved = 0,  // both fields in one frame
    kFrameProgressive = 1,
    kFrameField0 = 2,
    kFrameField1 = 3,
};

// One UYVY 4:2:2 picture as the receiver got it.
struct UyvyPicture {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;       // for fields the field height
    int line_stride = 0;  // bytes
    int frame_format = kFrameProgressive;
    int64_t captured_ns = 0;  // steady clock when it was captured (for the latency log)
};

inline bool isFieldFormat(int frame_format)
{
    return frame_format == kFrameField0 || frame_format == kFrameField1;
}

// Re-initialises the output for frame on a screen of the given size: output size, line
// strides, a new scaling context and a new ring; then sets isNeededOpenglReset and clears
// isInitVideo. The caller has set isInitVideo and isRendered. Zero sizes, a failing
// sws_getContext, or give_up while the render loop holds a slot leave isInitVideo set
// (nothing is converted) and return false.
bool reinitOutput(const UyvyPicture& frame, int screen_w, int screen_h, const std::atomic<bool>* give_up);

// Converts one frame into slot cur_converter_index and advances the ring (a field 0 in
// weave mode only fills the even lines of the weave buffer). Nothing while isInitVideo is
// set, after exit_loop, or for a frame without data or of another size than the output
// was made for.
void convertIntoRing(const UyvyPicture& frame);

// Frees the scaling context.
void freeScaler();
