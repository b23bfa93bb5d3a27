// Test pictures in UYVY, drawn line by line so fields can take every other line.
#pragma once

#include <cstdint>

#include "scenario.h"

namespace ndistandin {

// Writes width * 2 bytes (width is even) of UYVY: line y of frame number `frame` of a picture of the
// format's whole height.
void drawLine(const VideoFormat& format, int64_t frame, int y, uint8_t* line);

// Fills a delivered picture: for fields (field 0 or 1) every other line of the frame,
// otherwise the whole frame. Lines are `lines` long, `stride` apart; padding stays zero.
void drawPicture(const VideoFormat& format, int64_t frame, int field, int lines, uint8_t* data);

// Bits of the frame counter pattern: 16 columns, most significant bit on the left.
constexpr int kCounterBits = 16;
constexpr uint8_t kLumaHigh = 235;
constexpr uint8_t kLumaLow = 16;

}  // namespace ndistandin
