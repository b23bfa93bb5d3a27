#include "player/tests/player_testing.h"

#include <cstring>
#include <stdexcept>

extern "C" {
#include <libswscale/swscale.h>
}

#include "player/frame_ring.h"
#include "player/player_state.h"

namespace playertest {

UyvyPicture UyvyImage::picture(int frame_format) const
{
    UyvyPicture picture;
    picture.data = bytes.data();
    picture.width = width;
    picture.height = height;
    picture.line_stride = stride;
    picture.frame_format = frame_format;
    return picture;
}

UyvyImage makeUyvy(int width, int height, int stride, const std::function<uint8_t(int, int)>& luma, uint8_t u,
                   uint8_t v)
{
    UyvyImage image;
    image.width = width;
    image.height = height;
    image.stride = stride;
    image.bytes.assign(static_cast<size_t>(stride) * height, 0xEE);
    for (int y = 0; y < height; ++y) {
        uint8_t* line = image.bytes.data() + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; x += 2) {
            line[2 * x + 0] = u;
            line[2 * x + 1] = luma(x, y);
            line[2 * x + 2] = v;
            line[2 * x + 3] = luma(x + 1 < width ? x + 1 : x, y);
        }
    }
    return image;
}

I420Image referenceConversion(const uint8_t* data, int width, int src_h, int stride, int out_w, int out_h)
{
    I420Image out;
    out.width = out_w;
    out.height = out_h;
    const int cw = (out_w + 1) / 2;
    const int ch = (out_h + 1) / 2;
    out.y.assign(static_cast<size_t>(out_w) * out_h, 0);
    out.u.assign(static_cast<size_t>(cw) * ch, 0);
    out.v.assign(static_cast<size_t>(cw) * ch, 0);
    SwsContext* context = sws_getContext(width, src_h, AV_PIX_FMT_UYVY422, out_w, out_h, AV_PIX_FMT_YUV420P,
                                         SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (context == nullptr)
        throw std::runtime_error("sws_getContext failed");
    const uint8_t* src[1] = {data};
    const int src_stride[1] = {stride};
    uint8_t* dst[3] = {out.y.data(), out.u.data(), out.v.data()};
    const int dst_stride[3] = {out_w, cw, cw};
    sws_scale(context, src, src_stride, 0, src_h, dst, dst_stride);
    sws_freeContext(context);
    return out;
}

I420Image slotPlanes(int slot)
{
    const CONVERTER_BUFFER& buffer = converter_buffers[slot];
    I420Image out;
    out.width = buffer.width;
    out.height = buffer.height;
    const size_t luma = static_cast<size_t>(buffer.width) * buffer.height;
    const size_t chroma = static_cast<size_t>(buffer.width / 2) * ((buffer.height + 1) / 2);
    out.y.assign(buffer.planes[0], buffer.planes[0] + luma);
    out.u.assign(buffer.planes[1], buffer.planes[1] + chroma);
    out.v.assign(buffer.planes[2], buffer.planes[2] + chroma);
    return out;
}

void resetPlayerState()
{
    deleteFrameBuffers();
    freeScaler();
    cur_converter_index.store(0);
    render_slot_in_use.store(-1);
    video_weave_fields = false;
    video_width.store(0);
    video_height.store(0);
    video_fps.store(0.0f);
    video_frame_type.store(1);
    outvideo_width.store(0);
    outvideo_height.store(0);
    inLineSize.store(0);
    isInitVideo.store(0);
    isRendered.store(1);
    isInitUploaded.store(0);
    isNeededOpenglReset.store(0);
    exit_loop.store(false);
    received_frames.store(0);
    rendered_frames.store(0);
}

} // namespace playertest
