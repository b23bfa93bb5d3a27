#include "xqv/codec.h"

#include <cstdio>
#include <cstdlib>

#include "xqv/log.h"

namespace XqvUtils {

namespace {

// Calls visit(nal, size) for each NAL unit after the first start code, until visit
// returns false. A NAL unit ends at the next start code (without the fourth zero of a
// 4-byte one); the last one, with no start code after it, runs to the end of the buffer
// when at least four bytes remain (fewer end the walk, as find_start_code gives up there).
template <typename Visit>
void walk_nal_units(const uint8_t* data, int len, Visit visit) {
  if (data == nullptr || len <= 0) return;
  const uint8_t* end = data + len;
  const uint8_t* p = data + find_start_code(data, end);
  while (p < end) {
    const int remaining = static_cast<int>(end - p);
    const int n = find_start_code(p, end);
    const bool next_found =
        n >= 3 && n <= remaining && p[n - 3] == 0 && p[n - 2] == 0 && p[n - 1] == 1;
    if (!next_found) {
      if (remaining >= 4) visit(p, remaining);
      return;
    }
    if (n < 4) return;  // an empty NAL unit ends the walk
    int size = n - 3;
    if (p[size - 1] == 0) --size;
    if (size > 0 && !visit(p, size)) return;
    p += n;
  }
}

void append_with_start_code(std::vector<uint8_t>* out, const std::vector<uint8_t>& nal) {
  static const uint8_t kStartCode[4] = {0, 0, 0, 1};
  out->insert(out->end(), kStartCode, kStartCode + 4);
  out->insert(out->end(), nal.begin(), nal.end());
}

}  // namespace

int find_start_code(const uint8_t* p, const uint8_t* end) {
  const int len = static_cast<int>(end - p);
  if (len < 4) return len;
  for (int i = 0; i + 2 < len; ++i) {
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return i + 3;
  }
  return len;
}

bool is_h264_idr(const uint8_t* data, int len) {
  bool found = false;
  walk_nal_units(data, len, [&](const uint8_t* nal, int) {
    found = (nal[0] & 0x1F) == 5;
    return !found;
  });
  return found;
}

bool is_hevc_idr(const uint8_t* data, int len) {
  bool found = false;
  walk_nal_units(data, len, [&](const uint8_t* nal, int) {
    const int type = (nal[0] >> 1) & 0x3F;
    found = type == 19 || type == 20;
    return !found;
  });
  return found;
}

bool make_h264_extra_data(const uint8_t* data, int len, std::vector<uint8_t>* out) {
  std::vector<uint8_t> sps, pps;
  walk_nal_units(data, len, [&](const uint8_t* nal, int size) {
    const int type = nal[0] & 0x1F;
    if (type == 7) sps.assign(nal, nal + size);
    if (type == 8) pps.assign(nal, nal + size);
    return sps.empty() || pps.empty();
  });
  if (sps.empty() || pps.empty()) return false;
  out->clear();
  append_with_start_code(out, sps);
  append_with_start_code(out, pps);
  return true;
}

bool make_hevc_extra_data(const uint8_t* data, int len, std::vector<uint8_t>* out) {
  std::vector<uint8_t> vps, sps, pps;
  walk_nal_units(data, len, [&](const uint8_t* nal, int size) {
    const int type = (nal[0] >> 1) & 0x3F;
    if (type == 32) vps.assign(nal, nal + size);
    if (type == 33) sps.assign(nal, nal + size);
    if (type == 34) pps.assign(nal, nal + size);
    return vps.empty() || sps.empty() || pps.empty();
  });
  if (vps.empty() || sps.empty() || pps.empty()) return false;
  out->clear();
  append_with_start_code(out, vps);
  append_with_start_code(out, sps);
  append_with_start_code(out, pps);
  return true;
}

void dump_extra_data(const uint8_t* data, int len) {
  std::string text;
  char byte[8];
  for (int i = 0; i < len; ++i) {
    snprintf(byte, sizeof byte, " %2X ", data[i]);
    text += byte;
  }
  log_debug("extra_data[%d]=%s", len, text.c_str());
}

void make_aac_config(unsigned object_type, unsigned sample_rate, unsigned channels,
                     std::vector<uint8_t>* out) {
  static const unsigned kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                      22050, 16000, 12000, 11025, 8000,  7350};
  // A rate the table does not list takes the index of the nearest listed rate.
  unsigned index = 0;
  long best = -1;
  for (unsigned i = 0; i < 13; ++i) {
    const long d = labs(static_cast<long>(kRates[i]) - static_cast<long>(sample_rate));
    if (best < 0 || d < best) {
      best = d;
      index = i;
    }
  }
  const unsigned config = channels <= 6 ? channels : (channels == 8 ? 7 : 0);
  out->resize(2);
  (*out)[0] = static_cast<uint8_t>((object_type << 3) | (index >> 1));
  (*out)[1] = static_cast<uint8_t>(((index & 1) << 7) | (config << 3));
}

void pixel_format_name(uint32_t code, std::string* out) {
  static const char* const kNamed[4] = {"RGB24", "BGR24", "ARGB32", "ABGR32"};
  char text[64];
  if (code < 4) {
    snprintf(text, sizeof text, "%s(0x%08X)", kNamed[code], code);
  } else {
    char c[4];
    for (int i = 0; i < 4; ++i) {
      const unsigned char b = static_cast<unsigned char>(code >> (8 * i));
      const bool alnum = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
      c[i] = alnum ? static_cast<char>(b) : '#';
    }
    snprintf(text, sizeof text, "%c%c%c%c(0x%08X)", c[0], c[1], c[2], c[3], code);
  }
  *out = text;
}

}  // namespace XqvUtils
