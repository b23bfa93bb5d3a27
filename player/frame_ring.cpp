#include "player/frame_ring.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "common/helpers.h"
#include "player/player_state.h"

CONVERTER_BUFFER converter_buffers[3];
std::atomic<int> cur_converter_index{0};
std::atomic<int> render_slot_in_use{-1};
bool video_weave_fields = false;

void ResizeAndKeepAspectRatio(int src_h, int src_w, int dst_h, int dst_w, int& out_h, int& out_w, int progressive)
{
    if (!progressive) {
        if (interlaced_render_mode == 1)
            src_h *= 2;  // a field has half the lines of the frame
        else
            dst_h /= 2;
    }
    out_h = 0;
    out_w = 0;
    if (src_h <= 0 || src_w <= 0 || dst_h <= 0 || dst_w <= 0) {
        DebugLog("[ DEBUG ] No output size for %dx%d on %dx%d\n", src_w, src_h, dst_w, dst_h);
        return;
    }
    float r_dst = static_cast<float>(dst_h) / static_cast<float>(dst_w);
    float r_src = static_cast<float>(src_h) / static_cast<float>(src_w);
    if (r_dst >= r_src) {
        out_w = dst_w;
        out_h = static_cast<int>(std::ceil(static_cast<float>(out_w) * r_src));
    } else {
        out_h = dst_h;
        out_w = static_cast<int>(std::ceil(static_cast<float>(out_h) / r_src));
    }
    out_w = out_w / 8 * 8;
}

size_t i420PictureSize(int width, int height)
{
    size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    size_t chroma = static_cast<size_t>(width / 2) * static_cast<size_t>((height + 1) / 2);
    return luma + 2 * chroma;
}

namespace {

// UYVY black: U 128, Y 16, V 128, Y 16.
void fillUyvyBlack(uint8_t* data, size_t size)
{
    static const uint8_t black[4] = {0x80, 0x10, 0x80, 0x10};
    for (size_t i = 0; i < size; ++i)
        data[i] = black[i % 4];
}

} // namespace

void initFrameBuffers()
{
    const int width = outvideo_width.load(std::memory_order_acquire);
    const int height = outvideo_height.load(std::memory_order_acquire);
    const int stride = inLineSize.load(std::memory_order_acquire);
    const int field_lines = video_height.load(std::memory_order_acquire);
    deleteFrameBuffers();
    for (CONVERTER_BUFFER& slot : converter_buffers) {
        slot.width = width;
        slot.height = height;
        // Chroma planes hold (height + 1) / 2 rows, as libswscale writes them.
        slot.i420 = new uint8_t[i420PictureSize(width, height)];
        size_t luma = static_cast<size_t>(width) * height;
        slot.planes[0] = slot.i420;
        slot.planes[1] = slot.i420 + luma;
        slot.planes[2] = slot.planes[1] + static_cast<size_t>(width / 2) * ((height + 1) / 2);
        if (video_weave_fields && interlaced_render_mode == 1) {
            // Lines are copied at the frame's stride; black so a lone field 1 shows no stale memory.
            slot.weave_stride = stride;
            slot.weave_lines = 2 * field_lines;
            size_t size = static_cast<size_t>(stride) * slot.weave_lines;
            slot.weave = new uint8_t[size];
            fillUyvyBlack(slot.weave, size);
        }
        slot.frame_format = 0;
        slot.shown.store(true, std::memory_order_release);
    }
}

void deleteFrameBuffers()
{
    for (CONVERTER_BUFFER& slot : converter_buffers) {
        delete[] slot.i420;
        delete[] slot.weave;
        slot.i420 = nullptr;
        slot.weave = nullptr;
        slot.planes[0] = slot.planes[1] = slot.planes[2] = nullptr;
        slot.width = slot.height = 0;
        slot.weave_stride = slot.weave_lines = 0;
        slot.shown.store(true, std::memory_order_release);
    }
}

bool waitForRingIdle(const std::atomic<bool>* give_up)
{
    while (render_slot_in_use.load(std::memory_order_seq_cst) != -1) {
        if (exit_loop.load(std::memory_order_acquire) ||
            (give_up != nullptr && give_up->load(std::memory_order_acquire)))
            return false;
        std::this_thread::yield();
    }
    return true;
}

CONVERTER_BUFFER* acquireNewestSlot()
{
    if (isInitVideo.load(std::memory_order_acquire))
        return nullptr;
    int index = 0;
    int slot = 0;
    // The mark must name the slot written last at a moment after it was set.
    do {
        index = cur_converter_index.load(std::memory_order_seq_cst);
        slot = (index + 2) % 3;
        render_slot_in_use.store(slot, std::memory_order_seq_cst);
    } while (cur_converter_index.load(std::memory_order_seq_cst) != index);

    CONVERTER_BUFFER& buffer = converter_buffers[slot];
    if (isInitVideo.load(std::memory_order_seq_cst) || buffer.i420 == nullptr ||
        buffer.shown.load(std::memory_order_acquire)) {
        render_slot_in_use.store(-1, std::memory_order_seq_cst);
        return nullptr;
    }
    return &buffer;
}

void releaseSlot(CONVERTER_BUFFER* slot, bool drawn)
{
    if (slot == nullptr)
        return;
    if (drawn) {
        slot->shown.store(true, std::memory_order_release);
        isRendered.store(1, std::memory_order_release);
    }
    render_slot_in_use.store(-1, std::memory_order_seq_cst);
}
