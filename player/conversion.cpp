#include "player/conversion.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libswscale/swscale.h>
}

#include "common/helpers.h"
#include "player/frame_ring.h"
#include "player/player_state.h"

namespace {

// Slot that holds the field 0 waiting for its field 1; -1 when none (receiver thread).
int weave_target = -1;
// libswscale's unscaled UYVY path leaves the last chroma row of an odd height unwritten.
bool copy_last_chroma_row = false;

// The slot to write: the next one, or the one after it while the render loop holds it.
int pickTargetSlot()
{
    int index = cur_converter_index.load(std::memory_order_relaxed);
    if (render_slot_in_use.load(std::memory_order_seq_cst) == index)
        return (index + 1) % 3;
    return index;
}

void publishSlot(int target, int frame_format, int64_t captured_ns)
{
    CONVERTER_BUFFER& slot = converter_buffers[target];
    slot.frame_format = frame_format;
    slot.captured_ns = captured_ns;
    slot.shown.store(false, std::memory_order_relaxed);
    cur_converter_index.store((target + 1) % 3, std::memory_order_release);
    isRendered.store(0, std::memory_order_release);
    isInitUploaded.store(1, std::memory_order_release);
}

} // namespace

void freeScaler()
{
    if (sws_ctx != nullptr) {
        sws_freeContext(sws_ctx);
        sws_ctx = nullptr;
    }
}

bool reinitOutput(const UyvyPicture& frame, int screen_w, int screen_h, const std::atomic<bool>* give_up)
{
    const bool fields = isFieldFormat(frame.frame_format);
    // An interleaved frame holds both fields: it is sized and scaled as one whole frame.
    const int progressive = fields ? 0 : 1;
    int out_h = 0;
    int out_w = 0;
    ResizeAndKeepAspectRatio(frame.height, frame.width, screen_h, screen_w, out_h, out_w, progressive);
    DebugLog("Input video size:(%d, %d) Output video size: (%d, %d)\n", frame.width, frame.height, out_w, out_h);

    video_width.store(frame.width, std::memory_order_release);
    video_height.store(frame.height, std::memory_order_release);
    inLineSize.store(frame.line_stride, std::memory_order_release);
    outLineSize[0] = out_w;
    outLineSize[1] = out_w / 2;
    outLineSize[2] = out_w / 2;
    DebugLog("inLineSize:%d, outLineSize: (%d, %d, %d)\n", frame.line_stride, outLineSize[0], outLineSize[1],
             outLineSize[2]);

    // Zero sizes would divide by zero or give libswscale nothing to scale to.
    if (out_w <= 0 || out_h <= 0 || frame.width <= 0 || frame.height <= 0) {
        DebugLog("[ DEBUG ] Output not re-initialised: no size\n");
        return false;
    }
    if (!waitForRingIdle(give_up)) {
        video_width.store(0, std::memory_order_release);  // the next receiver starts over
        return false;
    }

    const bool weave = fields && interlaced_render_mode == 1;
    const int src_h = weave ? 2 * frame.height : frame.height;
    freeScaler();
    sws_ctx = sws_getContext(frame.width, src_h, AV_PIX_FMT_UYVY422, out_w, out_h, AV_PIX_FMT_YUV420P,
                             SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (sws_ctx == nullptr) {
        DebugLog("[ DEBUG ] sws_getContext failed for %dx%d to %dx%d\n", frame.width, src_h, out_w, out_h);
        deleteFrameBuffers();
        return false;
    }

    video_weave_fields = weave;
    outvideo_width.store(out_w, std::memory_order_release);
    outvideo_height.store(out_h, std::memory_order_release);
    initFrameBuffers();
    weave_target = -1;
    copy_last_chroma_row = (out_h % 2 == 1) && out_w == frame.width && out_h == src_h;
    isNeededOpenglReset.store(1, std::memory_order_release);
    isInitVideo.store(0, std::memory_order_seq_cst);
    return true;
}

void convertIntoRing(const UyvyPicture& frame)
{
    if (isInitVideo.load(std::memory_order_acquire) || exit_loop.load(std::memory_order_acquire) ||
        frame.data == nullptr || sws_ctx == nullptr)
        return;
    if (frame.width != video_width.load(std::memory_order_relaxed) ||
        frame.height != video_height.load(std::memory_order_relaxed) || frame.line_stride < 2 * frame.width) {
        DebugLog("[ DEBUG ] Frame %dx%d (stride %d) does not fit the output, not shown\n", frame.width, frame.height,
                 frame.line_stride);
        return;
    }

    const uint8_t* source = frame.data;
    int source_stride = frame.line_stride;
    int source_lines = frame.height;
    int target = 0;

    if (video_weave_fields && isFieldFormat(frame.frame_format)) {
        target = weave_target >= 0 ? weave_target : pickTargetSlot();
        CONVERTER_BUFFER& slot = converter_buffers[target];
        if (slot.weave == nullptr)
            return;
        const int first = frame.frame_format == kFrameField0 ? 0 : 1;
        const int lines = std::min(frame.height, slot.weave_lines / 2);
        const size_t bytes = static_cast<size_t>(std::min(frame.line_stride, slot.weave_stride));
        for (int i = 0; i < lines; ++i)
            std::memcpy(slot.weave + static_cast<size_t>(2 * i + first) * slot.weave_stride,
                        frame.data + static_cast<size_t>(i) * frame.line_stride, bytes);
        if (frame.frame_format == kFrameField0) {
            weave_target = target;  // field 1 completes this slot
            return;
        }
        weave_target = -1;
        source = slot.weave;
        source_stride = slot.weave_stride;
        source_lines = slot.weave_lines;
    } else {
        target = pickTargetSlot();
    }

    CONVERTER_BUFFER& slot = converter_buffers[target];
    const uint8_t* const src_planes[1] = {source};
    const int src_strides[1] = {source_stride};
    sws_scale(sws_ctx, src_planes, src_strides, 0, source_lines, slot.planes, outLineSize);
    if (copy_last_chroma_row && slot.height > 1) {
        const size_t row = static_cast<size_t>(outLineSize[1]);
        const size_t last = static_cast<size_t>((slot.height + 1) / 2 - 1);
        for (int plane = 1; plane < 3; ++plane)
            std::memcpy(slot.planes[plane] + last * row, slot.planes[plane] + (last - 1) * row, row);
    }
    publishSlot(target, frame.frame_format, frame.captured_ns);
}
