// Helpers of the player's tests: UYVY pictures, reference conversions, a clean state.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "player/conversion.h"

namespace playertest {

// A UYVY picture whose pixel (x, y) has luma luma(x, y) and the given chroma; stride in
// bytes (at least 2 * width), the padding filled with 0xEE.
struct UyvyImage {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> bytes;
    UyvyPicture picture(int frame_format) const;
};
UyvyImage makeUyvy(int width, int height, int stride, const std::function<uint8_t(int, int)>& luma, uint8_t u = 128,
                   uint8_t v = 128);

// I420 planes in separate, exactly sized buffers.
struct I420Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v;
};
// libswscale's own conversion of image (source height src_h lines) to out_w x out_h,
// with the player's settings: the oracle of the ring's contents.
I420Image referenceConversion(const uint8_t* data, int width, int src_h, int stride, int out_w, int out_h);

// The planes of a ring slot copied out at their sizes (chroma (h + 1) / 2 rows).
I420Image slotPlanes(int slot);

// Frees ring and scaler and puts every shared value back to its start-up state.
void resetPlayerState();

} // namespace playertest
