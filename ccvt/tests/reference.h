// Scalar reference of the converters, written from the definition of the arithmetic and
// the coverage rules (row pairs, whole blocks, untouched remainder), independent of the
// SIMD code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ref {

struct RgbRow {
  int y_offset, y_gain, cr_r, cb_g, cr_g, cb_b;
};

// yuv_type 0..6.
inline constexpr RgbRow kRgbRows[7] = {
    {0, 64, 90, -22, -46, 113},  {16, 75, 102, -25, -52, 129}, {16, 75, 115, -14, -34, 135},
    {0, 64, 90, -22, -46, 113},  {0, 64, 101, -12, -30, 119},  {16, 75, 107, -12, -42, 137},
    {0, 64, 94, -11, -37, 120},
};

struct Matrix {
  int off[3];
  int m[3][3];
};

// The library's choices: _sony RGB rows are the 3 x 3 form of the plain row; the YUV
// re-matrixing rows other than bt2020 row 4 are the identity.
inline Matrix sony_rgb_row(int t) {
  const RgbRow& c = kRgbRows[t];
  const int off = -c.y_offset * c.y_gain;
  return {{off, off, off}, {{c.y_gain, 0, c.cr_r}, {c.y_gain, c.cb_g, c.cr_g}, {c.y_gain, c.cb_b, 0}}};
}
inline Matrix sony_yuv_row(int) { return {{0, 8192, 8192}, {{64, 0, 0}, {0, 64, 0}, {0, 0, 64}}}; }
inline Matrix bt2020_row(int t) {
  if (t == 4) return {{0, 128, 128}, {{64, 1, -5}, {0, 64, 3}, {0, 0, 64}}};
  return {{0, 128, 128}, {{64, 0, 0}, {0, 64, 0}, {0, 0, 64}}};
}

inline int clamp255(long v) { return v < 0 ? 0 : (v > 255 ? 255 : static_cast<int>(v)); }
// Arithmetic shift: rounds toward minus infinity.
inline long shr6(long v) { return v >> 6; }

struct Rgb {
  int r, g, b;
};

inline Rgb plain(int t, int y, int u, int v) {
  const RgbRow& c = kRgbRows[t];
  const long yt = static_cast<long>(y - c.y_offset) * c.y_gain;
  const int cb = u - 128, cr = v - 128;
  return {clamp255(shr6(yt + c.cr_r * cr)), clamp255(shr6(yt + c.cb_g * cb + c.cr_g * cr)),
          clamp255(shr6(yt + c.cb_b * cb))};
}

inline int sony_channel(const Matrix& k, int c, int y, int u, int v) {
  return clamp255(shr6(static_cast<long>(k.m[c][0]) * y + k.m[c][1] * (u - 128) +
                       k.m[c][2] * (v - 128) + k.off[c]));
}

inline Rgb sony(int t, int y, int u, int v) {
  const Matrix k = sony_rgb_row(t);
  return {sony_channel(k, 0, y, u, v), sony_channel(k, 1, y, u, v), sony_channel(k, 2, y, u, v)};
}

struct Layout {
  bool bgr;
  int bpp;
  bool sony;
};

inline void put(uint8_t* d, const Layout& l, const Rgb& p) {
  d[0] = static_cast<uint8_t>(l.bgr ? p.b : p.r);
  d[1] = static_cast<uint8_t>(p.g);
  d[2] = static_cast<uint8_t>(l.bgr ? p.r : p.b);
  if (l.bpp == 4) d[3] = 0;
}

inline Rgb convert(const Layout& l, int t, int y, int u, int v) {
  return l.sony ? sony(t, y, u, v) : plain(t, y, u, v);
}

inline const uint8_t* at(const uint8_t* p, int row, int stride) {
  return p + static_cast<ptrdiff_t>(row) * stride;
}
inline uint8_t* at(uint8_t* p, int row, int stride) { return p + static_cast<ptrdiff_t>(row) * stride; }

inline void yv12(const Layout& l, int w, int h, const uint8_t* Y, const uint8_t* U, const uint8_t* V,
                 int ys, int us, int vs, uint8_t* dst, int ds, int t) {
  if (t < 0 || t > 6 || h < 2 || w < 32) return;
  const int cw = w / 32 * 32;
  for (int i = 0; i + 1 < h; i += 2) {
    for (int r = i; r <= i + 1; ++r) {
      for (int x = 0; x < cw; ++x) {
        put(at(dst, r, ds) + x * l.bpp, l,
            convert(l, t, at(Y, r, ys)[x], at(U, i / 2, us)[x / 2], at(V, i / 2, vs)[x / 2]));
      }
    }
  }
}

inline void yuy2(const Layout& l, int w, int h, const uint8_t* src, int ss, uint8_t* dst, int ds,
                 int t) {
  const int block = l.bpp == 3 ? 32 : 16;
  if (t < 0 || t > 6 || h < 1 || w < block) return;
  const int cw = w / block * block;
  for (int r = 0; r < h; ++r) {
    const uint8_t* s = at(src, r, ss);
    for (int x = 0; x < cw; ++x) {
      const uint8_t* g = s + 4 * (x / 2);
      put(at(dst, r, ds) + x * l.bpp, l, convert(l, t, g[(x % 2) ? 2 : 0], g[1], g[3]));
    }
  }
}

// bt2020: channel = clamp(((m . (Y - off_y, Cb, Cr)) >> 6) + off_c);
// sony:   channel = clamp((m . (Y, Cb, Cr) + off_c) >> 6).
inline int rematrix_channel(bool sony_form, const Matrix& k, int c, int y, int u, int v) {
  if (sony_form) return sony_channel(k, c, y, u, v);
  return clamp255(shr6(static_cast<long>(k.m[c][0]) * (y - k.off[0]) + k.m[c][1] * (u - 128) +
                       k.m[c][2] * (v - 128)) +
                  k.off[c]);
}

inline void rematrix(bool sony_form, int w, int h, const uint8_t* sy, const uint8_t* su,
                     const uint8_t* sv, int sys, int sus, int svs, uint8_t* dy, uint8_t* du,
                     uint8_t* dv, int dys, int dus, int dvs, int t) {
  if (t < 0 || t > 6 || h < 2 || w < 32) return;
  const Matrix k = sony_form ? sony_yuv_row(t) : bt2020_row(t);
  const int cw = w / 32 * 32;
  for (int i = 0; i + 1 < h; i += 2) {
    const uint8_t* u = at(su, i / 2, sus);
    const uint8_t* v = at(sv, i / 2, svs);
    for (int r = i; r <= i + 1; ++r)
      for (int x = 0; x < cw; ++x)
        at(dy, r, dys)[x] = static_cast<uint8_t>(
            rematrix_channel(sony_form, k, 0, at(sy, r, sys)[x], u[x / 2], v[x / 2]));
    for (int k2 = 0; k2 < cw / 2; ++k2) {
      const int ytl = at(sy, i, sys)[2 * k2];
      at(du, i / 2, dus)[k2] = static_cast<uint8_t>(rematrix_channel(sony_form, k, 1, ytl, u[k2], v[k2]));
      at(dv, i / 2, dvs)[k2] = static_cast<uint8_t>(rematrix_channel(sony_form, k, 2, ytl, u[k2], v[k2]));
    }
  }
}

}  // namespace ref
