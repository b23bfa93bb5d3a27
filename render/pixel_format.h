// The pixel formats the renderer accepts and how their planes map onto GL textures.
#pragma once

#include <GLES3/gl32.h>

#include <cstdint>

#include "kelmf_renderer.h"

struct kelmf_pixel_data_t {
    uint32_t format;
    uint32_t planes;    // planes the caller hands in
    uint32_t textures;  // GL textures drawn from them
    uint32_t chroma;    // 0 RGB, 1 4:4:4, 2 4:2:2, 3 4:2:0
    uint32_t depth;
    uint64_t bytesPerPixel[4];
    uint64_t divisor[4][2];  // width, height divisor per texture
    uint32_t glFormat[4];
    const char* define;
};

constexpr int kPixelDataCount = 11;
extern const kelmf_pixel_data_t g_PixelData[kPixelDataCount];

// The descriptor of a format, or null when the table has none.
const kelmf_pixel_data_t* findPixelData(uint32_t format);
