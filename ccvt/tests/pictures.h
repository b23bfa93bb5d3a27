// Test pictures: planes in vectors with chosen strides and a byte offset from the start
// of the allocation (to test unaligned access), and destinations pre-filled with a marker.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace ccvt_test {

inline constexpr uint8_t kMarker = 0xA5;

struct Plane {
  std::vector<uint8_t> mem;
  int offset = 0;
  int stride = 0;
  int rows = 0;
  uint8_t* data() { return mem.data() + offset; }
  const uint8_t* data() const { return mem.data() + offset; }
  uint8_t* row(int r) { return data() + static_cast<ptrdiff_t>(r) * stride; }
};

inline Plane make_plane(int stride, int rows, int offset = 0, uint8_t fill = kMarker) {
  Plane p;
  p.mem.assign(static_cast<size_t>(stride) * (rows > 0 ? rows : 1) + offset + 64, fill);
  p.offset = offset;
  p.stride = stride;
  p.rows = rows;
  return p;
}

inline void randomize(Plane& p, std::mt19937& rng) {
  for (auto& b : p.mem) b = static_cast<uint8_t>(rng());
}

struct Yv12 {
  Plane y, u, v;
};

inline Yv12 random_yv12(int w, int h, std::mt19937& rng, int pad = 0, int offset = 0) {
  const int cw = (w + 1) / 2, ch = (h + 1) / 2;
  Yv12 p{make_plane(w + pad, h, offset), make_plane(cw + pad, ch, offset),
         make_plane(cw + pad, ch, offset)};
  randomize(p.y, rng);
  randomize(p.u, rng);
  randomize(p.v, rng);
  return p;
}

}  // namespace ccvt_test
