// Annex-B stream helpers, codec configuration records and pixel-format names of the
// capture utility layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "xqv/export.h"

namespace XqvUtils {

// Offset just past the first 00 00 01 in [p, end), or end - p when there is none
// (or when fewer than four bytes remain).
XQV_API int find_start_code(const uint8_t* p, const uint8_t* end);
// An H.264 NAL unit of type 5 (IDR slice) is present.
XQV_API bool is_h264_idr(const uint8_t* data, int len);
// An H.265 NAL unit of type 19 or 20 (IDR) is present.
XQV_API bool is_hevc_idr(const uint8_t* data, int len);
// 00 00 00 01 SPS 00 00 00 01 PPS; false (out untouched) unless both are present.
XQV_API bool make_h264_extra_data(const uint8_t* data, int len, std::vector<uint8_t>* out);
// 00 00 00 01 VPS 00 00 00 01 SPS 00 00 00 01 PPS; false (out untouched) unless all three.
XQV_API bool make_hevc_extra_data(const uint8_t* data, int len, std::vector<uint8_t>* out);
// Debug line "extra_data[n]= XX  YY ...".
XQV_API void dump_extra_data(const uint8_t* data, int len);

// Two-byte MPEG-4 AudioSpecificConfig.
XQV_API void make_aac_config(unsigned object_type, unsigned sample_rate, unsigned channels,
                             std::vector<uint8_t>* out);

// "RGB24(0x00000000)" ... or the FourCC characters, e.g. "NV12(0x3231564E)".
XQV_API void pixel_format_name(uint32_t code, std::string* out);

}  // namespace XqvUtils
