#include "pictures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace ndistandin {
namespace {

struct Yuv {
  uint8_t y, u, v;
};

constexpr Yuv kWhite{kLumaHigh, 128, 128};
constexpr Yuv kBlack{kLumaLow, 128, 128};

// 75 % colour bars in BT.709 limited range, white to black.
std::array<Yuv, 8> makeBars() {
  const double rgb[8][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0}, {1, 0, 1}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}};
  std::array<Yuv, 8> bars{};
  for (int i = 0; i < 8; ++i) {
    double r = 0.75 * rgb[i][0], g = 0.75 * rgb[i][1], b = 0.75 * rgb[i][2];
    double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    bars[i].y = static_cast<uint8_t>(std::lround(16 + 219 * y));
    bars[i].u = static_cast<uint8_t>(std::lround(128 + 224 * (b - y) / 1.8556));
    bars[i].v = static_cast<uint8_t>(std::lround(128 + 224 * (r - y) / 1.5748));
  }
  return bars;
}

// One pixel pair (U Y0 V Y1) of colour c.
inline void putPair(uint8_t* pair, Yuv c) {
  pair[0] = c.u;
  pair[1] = c.y;
  pair[2] = c.v;
  pair[3] = c.y;
}

void barsLine(const VideoFormat& format, int64_t frame, int y, uint8_t* line) {
  static const std::array<Yuv, 8> bars = makeBars();
  const int width = format.width;
  const int box = std::max(2, format.height / 8) & ~1;
  const int travel = std::max(2, width - box);
  const int marker_x = static_cast<int>((frame * 16) % travel) & ~1;
  const int marker_y = format.height * 3 / 4;
  const bool marker_line = y >= marker_y && y < marker_y + box;
  for (int x = 0; x < width; x += 2) {
    Yuv c = bars[static_cast<size_t>(x) * 8 / width];
    if (marker_line && x >= marker_x && x < marker_x + box) c = kWhite;
    putPair(line + x * 2, c);
  }
}

void counterLine(const VideoFormat& format, int64_t frame, uint8_t* line) {
  const int width = format.width;
  for (int x = 0; x < width; x += 2) {
    int bit = kCounterBits - 1 - static_cast<int>(static_cast<int64_t>(x) * kCounterBits / width);
    putPair(line + x * 2, (frame >> bit) & 1 ? kWhite : kBlack);
  }
}

}  // namespace

void drawLine(const VideoFormat& format, int64_t frame, int y, uint8_t* line) {
  switch (format.pattern) {
    case Pattern::bars:
      barsLine(format, frame, y, line);
      break;
    case Pattern::lines:
      for (int x = 0; x < format.width; x += 2) putPair(line + x * 2, y % 2 ? kBlack : kWhite);
      break;
    case Pattern::counter:
      counterLine(format, frame, line);
      break;
    case Pattern::file: {
      const auto& frames = *format.file_frames;
      const size_t line_bytes = static_cast<size_t>(format.width) * 2;
      const size_t frame_bytes = line_bytes * format.height;
      const size_t count = frames.size() / frame_bytes;
      std::memcpy(line, frames.data() + (static_cast<size_t>(frame) % count) * frame_bytes + y * line_bytes, line_bytes);
      break;
    }
  }
}

namespace {

// Lines of one kind in a frame look alike, so each kind is drawn once and copied; -1 for
// lines that must each be drawn.
int lineKind(const VideoFormat& format, int y) {
  switch (format.pattern) {
    case Pattern::bars: {
      const int box = std::max(2, format.height / 8) & ~1;
      const int marker_y = format.height * 3 / 4;
      return y >= marker_y && y < marker_y + box ? 1 : 0;
    }
    case Pattern::lines:
      return y % 2;
    case Pattern::counter:
      return 0;
    case Pattern::file:
      break;
  }
  return -1;
}

}  // namespace

void drawPicture(const VideoFormat& format, int64_t frame, int field, int lines, uint8_t* data) {
  const size_t line_bytes = static_cast<size_t>(format.width) * 2;
  int drawn[2] = {-1, -1};  // a row already drawn of kind 0 and of kind 1
  for (int row = 0; row < lines; ++row) {
    const int y = field < 0 ? row : row * 2 + field;
    uint8_t* line = data + static_cast<size_t>(row) * format.stride;
    const int kind = lineKind(format, y);
    if (kind >= 0 && drawn[kind] >= 0) {
      std::memcpy(line, data + static_cast<size_t>(drawn[kind]) * format.stride, line_bytes);
      continue;
    }
    drawLine(format, frame, y, line);
    if (kind >= 0) drawn[kind] = row;
  }
}

}  // namespace ndistandin
