#include "xqv/helpers.h"

#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace XqvUtils {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int clamp_byte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

}  // namespace

bool parse_uint(const char* text, uint32_t* out) {
  uint32_t value = 0;
  bool ok = true;
  if (text == nullptr) {
    ok = false;
  } else if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const char* p = text + 2;
    ok = *p != '\0';
    for (; ok && *p != '\0'; ++p) {
      const int d = hex_digit(*p);
      if (d < 0 || value > 0x0FFFFFFFu) {
        ok = false;
        break;
      }
      value = value * 16 + static_cast<uint32_t>(d);
    }
  } else {
    for (const char* p = text; *p != '\0'; ++p) {
      if (*p < '0' || *p > '9') {
        ok = false;
        break;
      }
      const uint64_t next = uint64_t{value} * 10 + static_cast<uint64_t>(*p - '0');
      if (next > 4294967295u) {
        ok = false;
        break;
      }
      value = static_cast<uint32_t>(next);
    }
  }
  *out = value;
  return ok;
}

int env_get_int(const char* name, int default_value) {
  const char* text = getenv(name);
  uint32_t value = 0;
  if (text == nullptr || !parse_uint(text, &value)) return default_value;
  return static_cast<int>(value);
}

uint32_t parse_uint_or(const char* text, uint32_t default_value) {
  uint32_t value = 0;
  return parse_uint(text, &value) ? value : default_value;
}

bool str_starts_with(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

bool str_contains_nocase(const char* text, const char* needle) {
  const size_t n = strlen(needle);
  for (const char* p = text;; ++p) {
    if (strncasecmp(p, needle, n) == 0) return true;
    if (*p == '\0') return false;
  }
}

void fill_planes(uint8_t* planes[4], int strides[4], int row_bytes, int rows, uint8_t values[4]) {
  if (row_bytes <= 0) return;
  for (int p = 0; p < 4; ++p) {
    if (planes[p] == nullptr) continue;  // pictures with fewer than four planes
    for (int r = 0; r < rows; ++r)
      memset(planes[p] + static_cast<ptrdiff_t>(r) * strides[p], values[p],
             static_cast<size_t>(row_bytes));
  }
}

void fill_u32(uint32_t* dst, int count, uint32_t value) {
  for (int i = 0; i < count; ++i) dst[i] = value;
}

int color_rgb_to_yuv(int rgb) {
  const double r = ((rgb >> 16) & 0xFF) / 255.0;
  const double g = ((rgb >> 8) & 0xFF) / 255.0;
  const double b = (rgb & 0xFF) / 255.0;
  const int y = clamp_byte(static_cast<int>((0.299 * r + 0.587 * g + 0.114 * b) * 255));
  const int cb = clamp_byte(static_cast<int>((-0.169 * r - 0.331 * g + 0.5 * b + 0.5) * 255));
  const int cr = clamp_byte(static_cast<int>((0.5 * r - 0.419 * g - 0.081 * b + 0.5) * 255));
  return (cr << 16) | (cb << 8) | y;
}

int color_swap_gb(int rgb) {
  return (rgb & 0xFF0000) | ((rgb & 0xFF) << 8) | ((rgb >> 8) & 0xFF);
}

int color_pack3(int a, int b, int c) { return (a << 16) | (b << 8) | c; }

}  // namespace XqvUtils
