// Small stateless helpers of the capture utility layer: number parsing, environment
// settings, string tests, plane filling and the colour of one RGB value.
#pragma once

#include <cstdint>

#include "xqv/export.h"

namespace XqvUtils {

// Decimal, or hexadecimal after "0x"/"0X". On a bad digit or overflow stores the value
// read so far and returns false. The empty text is 0.
XQV_API bool parse_uint(const char* text, uint32_t* out);
// Parsed value of the environment variable, else the default.
XQV_API int env_get_int(const char* name, int default_value);
// Parsed value of the text, else the default.
XQV_API uint32_t parse_uint_or(const char* text, uint32_t default_value);

XQV_API bool str_starts_with(const char* text, const char* prefix);
// True when the needle occurs in the text, ignoring ASCII case.
XQV_API bool str_contains_nocase(const char* text, const char* needle);

// Sets row_bytes bytes of each of the rows of every plane to the plane's value;
// a null plane is skipped (pictures with fewer than four planes).
XQV_API void fill_planes(uint8_t* planes[4], int strides[4], int row_bytes, int rows,
                         uint8_t values[4]);
XQV_API void fill_u32(uint32_t* dst, int count, uint32_t value);

// 0xRRGGBB to packed (Cr << 16) | (Cb << 8) | Y, BT.601 full range.
XQV_API int color_rgb_to_yuv(int rgb);
// 0xRRGGBB to 0xRRBBGG.
XQV_API int color_swap_gb(int rgb);
// (a << 16) | (b << 8) | c.
XQV_API int color_pack3(int a, int b, int c);

}  // namespace XqvUtils
